// Redraw of the trend chart, 1920 px wide, with 16 channels x 7 days at 0.5 s
// in the history: the whole week, and the live minute. Reference in the same
// run: the same image filled and 16 polylines of 1920 points drawn, the least
// any chart of this size paints. Times are CPU time of this thread (a shared
// machine's scheduler only adds to real time); the figures are the median and
// the 95th percentile of 60 redraws.
//
//   QT_QPA_PLATFORM=offscreen km808_trend_redraw_bench

#include "trend/TrendHistory.h"
#include "trendwindow/TTrendPlot.h"
#include "trendwindow/TTrendWindow.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

double ThreadMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct TFigures {
    double Median, P95;
};

TFigures Measure(const std::function<void()>& draw) {
    std::vector<double> times;
    for (int i = 0; i < 60; ++i) {
        const double t0 = ThreadMs();
        draw();
        times.push_back(ThreadMs() - t0);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[size_t(double(times.size()) * 0.95)]};
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    constexpr qint64 Week = 7 * 24 * 3600 * 2;
    TTrendWindow window;
    for (qint64 i = 0; i < Week; ++i) {
        TTrendBlock block;
        block.TimeMs = 1796956800000 + i * 500;
        for (int c = 0; c < TrendChannels; ++c) {
            block.Channels[c].Setup = {true, c < 4, 1, "0.0000"};
            block.Channels[c].Value =
                100.0 * c + std::sin(double(i) * 1e-3 + c) + (i % 100003 == 0 ? 50.0 : 0.0);
        }
        window.TakeBlock(block);
    }
    QImage image(1920 + 2 * 74, 900, QImage::Format_RGB32);
    TTrendPlot& plot = *window.Plot;

    const TFigures reference = Measure([&] {
        QPainter p(&image);
        p.fillRect(image.rect(), Qt::white);
        for (int c = 0; c < TrendChannels; ++c) {
            QPolygonF line;
            for (int x = 0; x < 1920; ++x)
                line << QPointF(74 + x, 450 + 400 * std::sin(x * 0.01 + c));
            p.setPen(QPen(QColor(c * 15, 0, 255 - c * 15), 1));
            p.drawPolyline(line);
        }
    });
    auto redraw = [&] {
        QPainter p(&image);
        plot.Paint(p, image.rect());
    };
    plot.ShowAll();
    const TFigures week = Measure(redraw);
    plot.SetStacked(true);
    const TFigures weekStrips = Measure(redraw);
    plot.SetStacked(false);
    plot.SetLive(true);
    const TFigures live = Measure(redraw);

    std::printf("history: %lld blocks x 16 channels, %.1f MB\n", static_cast<long long>(Week),
                double(window.History().MemoryBytes()) / 1e6);
    auto row = [&](const char* name, const TFigures& f) {
        std::printf("%-36s median %6.2f ms  p95 %6.2f ms  ratio (p95) %.2f\n", name, f.Median, f.P95,
                    f.P95 / reference.P95);
    };
    row("reference: 16 polylines of 1920 px", reference);
    row("whole week, shared axes", week);
    row("whole week, one strip per channel", weekStrips);
    row("live minute, shared axes", live);
    return 0;
}
