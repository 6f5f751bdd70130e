#include "trendwindow/TTrendPlot.h"

#include "acquisition/DisplayFormat.h"
#include "trend/TrendHistory.h"
#include "trendwindow/TrendLook.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int AxisWidth = 74; // left (mV) and right (Ом) axis labels
constexpr int TimeAxisHeight = 22;
constexpr double MinSpanMs = 2000.0;

// A column's blocks of one segment.
struct TPart {
    int X;
    size_t Segment;
    qint64 First, End;
};

// A channel's envelope in one column part.
struct TPoint {
    float X;
    size_t Segment;
    double Min, Max, Mean;
    bool Over;
};

double NiceStep(double raw) {
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10.0 * power;
}

QString AxisNumber(double v, double step) {
    const int decimals = std::clamp(int(-std::floor(std::log10(step))), 0, 6);
    return QString::number(v, 'f', decimals);
}

// Time steps for the axis labels, ms.
constexpr qint64 TimeSteps[] = {100,     200,      500,      1000,     2000,     5000,      10000,    15000,
                                30000,   60000,    120000,   300000,   600000,   900000,    1800000,  3600000,
                                7200000, 10800000, 21600000, 43200000, 86400000, 172800000, 604800000};

} // namespace

TTrendPlot::TTrendPlot(const TTrendHistory& history, QWidget* parent) : QWidget(parent), History(history) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(400, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
    ShownChannels.fill(true);
    FollowNewest();
}

void TTrendPlot::SetShown(int ch, bool shown) {
    ShownChannels[size_t(ch)] = shown;
    update();
}

void TTrendPlot::SetStacked(bool stacked) {
    StackedPanes = stacked;
    update();
}

void TTrendPlot::SetAutoscale(bool on) {
    AutoscaleOn = on;
    update();
}

void TTrendPlot::SetLive(bool live) {
    if (LiveView == live)
        return;
    LiveView = live;
    if (live)
        FollowNewest();
    emit LiveChanged(live);
    ViewMoved();
}

void TTrendPlot::FollowNewest() {
    if (History.Empty()) {
        ViewEnd = double(QDateTime::currentMSecsSinceEpoch());
        return;
    }
    // A little room right of the newest block, so that it is not on the edge.
    ViewEnd = double(History.TimeAt(History.EndBlock() - 1)) + Span * 0.02;
}

void TTrendPlot::ViewMoved() {
    update();
    emit ViewChanged();
    if (CursorX >= 0)
        ShowCursor(CursorX);
}

void TTrendPlot::ShowAll() {
    if (History.Empty())
        return;
    const double first = double(History.TimeAt(History.FirstBlock()));
    const double last = double(History.TimeAt(History.EndBlock() - 1));
    Span = std::max(MinSpanMs, (last - first) * 1.04);
    ViewEnd = last + (Span - (last - first)) / 2;
    if (LiveView) {
        LiveView = false;
        emit LiveChanged(false);
    }
    ViewMoved();
}

void TTrendPlot::SetView(double startMs, double endMs) {
    Span = std::max(MinSpanMs, endMs - startMs);
    ViewEnd = startMs + Span;
    if (LiveView) {
        LiveView = false;
        emit LiveChanged(false);
    }
    ViewMoved();
}

void TTrendPlot::Zoom(double factor, double at) {
    const double fixed = ViewEnd - Span * (1.0 - at);
    const double span = std::clamp(Span * factor, MinSpanMs, 400.0 * 86400000.0);
    // Live keeps its right edge on the newest block.
    if (LiveView) {
        Span = span;
        FollowNewest();
    } else {
        ViewEnd = fixed + span * (1.0 - at);
        Span = span;
    }
    ViewMoved();
}

void TTrendPlot::Pan(double fraction) {
    const double end = ViewEnd + Span * fraction;
    if (LiveView) {
        LiveView = false;
        emit LiveChanged(false);
    }
    ViewEnd = end;
    ViewMoved();
}

void TTrendPlot::HistoryChanged() {
    if (LiveView)
        FollowNewest();
    ViewMoved();
}

qint64 TTrendPlot::FirstVisibleBlock() const {
    return History.LowerBound(qint64(std::ceil(ViewEnd - Span)));
}

qint64 TTrendPlot::EndVisibleBlock() const {
    return History.LowerBound(qint64(std::floor(ViewEnd)) + 1);
}

QRect TTrendPlot::PlotArea() const {
    return QRect(AxisWidth, 4, std::max(10, width() - 2 * AxisWidth),
                 std::max(10, height() - 4 - TimeAxisHeight));
}

double TTrendPlot::TimeAtX(int x) const {
    const QRect area = PlotArea();
    return ViewEnd - Span + Span * double(x - area.left()) / double(area.width());
}

void TTrendPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Paint(painter, rect());
}

void TTrendPlot::Paint(QPainter& painter, const QRect& whole) {
    painter.fillRect(whole, palette().window());
    const QRect area(whole.left() + AxisWidth, whole.top() + 4, std::max(10, whole.width() - 2 * AxisWidth),
                     std::max(10, whole.height() - 4 - TimeAxisHeight));
    painter.fillRect(area, Qt::white);
    painter.setFont(font());
    const int w = area.width();
    const double start = ViewEnd - Span;
    const double msPerPx = Span / w;

    // Each pixel column's blocks, cut where a segment ends.
    std::vector<TPart> parts;
    const auto& segments = History.Segments();
    if (!History.Empty()) {
        qint64 first = History.LowerBound(qint64(std::ceil(start)));
        size_t seg = size_t(std::upper_bound(segments.begin(), segments.end(), first,
                                             [](qint64 b, const TTrendSegment& s) { return b < s.First; }) -
                            segments.begin());
        seg = seg == 0 ? 0 : seg - 1;
        for (int x = 0; x < w; ++x) {
            const qint64 end = History.LowerBound(qint64(std::ceil(start + msPerPx * (x + 1))));
            while (first < end) {
                while (History.SegmentEnd(seg) <= first)
                    ++seg;
                const qint64 stop = std::min(end, History.SegmentEnd(seg));
                parts.push_back({x, seg, first, stop});
                first = stop;
            }
        }
    }

    // Envelopes of every shown channel.
    std::vector<int> shown;
    for (int c = 0; c < 16; ++c)
        if (ShownChannels[size_t(c)])
            shown.push_back(c);
    std::vector<std::vector<TPoint>> points(16);
    for (int c : shown) {
        points[size_t(c)].reserve(std::min(parts.size(), size_t(2 * w)));
        for (const TPart& part : parts) {
            if (!segments[part.Segment].Setup[c].Active)
                continue;
            const TTrendStats s = History.Envelope(c, part.First, part.End);
            if (s.Count == 0 && s.Over == 0)
                continue;
            points[size_t(c)].push_back(
                {float(area.left() + part.X) + 0.5f, part.Segment, s.Min, s.Max, s.Mean, s.Over > 0});
        }
    }

    // Panes: one shared, or one strip per shown channel with blocks in view.
    std::vector<int> strips;
    for (int c : shown)
        if (!points[size_t(c)].empty())
            strips.push_back(c);
    struct TPane {
        QRect Rect;
        int Key; // channel, or 16 for the shared pane
        std::vector<int> Channels;
    };
    std::vector<TPane> panes;
    if (StackedPanes && !strips.empty()) {
        const int h = area.height() / int(strips.size());
        for (size_t i = 0; i < strips.size(); ++i)
            panes.push_back({QRect(area.left(), area.top() + int(i) * h, w, h - 2), strips[i], {strips[i]}});
    } else {
        panes.push_back({area, 16, shown});
    }

    const QFont small = [&] {
        QFont f = font();
        f.setPixelSize(11);
        return f;
    }();
    painter.setFont(small);
    for (TPane& pane : panes) {
        // The y range of each quantity in this pane.
        std::array<std::pair<double, double>, 2> range{{{INFINITY, -INFINITY}, {INFINITY, -INFINITY}}};
        for (int c : pane.Channels)
            for (const TPoint& p : points[size_t(c)]) {
                if (std::isnan(p.Min))
                    continue;
                auto& r = range[segments[p.Segment].Setup[c].Resistance ? 1 : 0];
                r.first = std::min(r.first, p.Min);
                r.second = std::max(r.second, p.Max);
            }
        std::array<bool, 2> present{};
        for (int q = 0; q < 2; ++q) {
            auto& r = range[size_t(q)];
            present[size_t(q)] = r.first <= r.second;
            auto& kept = Ranges[size_t(pane.Key)][size_t(q)];
            bool& known = RangeKnown[size_t(pane.Key)][size_t(q)];
            if (AutoscaleOn || !known) {
                if (!present[size_t(q)])
                    continue;
                // A flat trace still gets a readable axis: at least a
                // thousandth of its unit either side.
                const double margin = std::max((r.second - r.first) * 0.05, 1e-3);
                kept = {r.first - margin, r.second + margin};
                known = true;
            }
            r = kept;
        }

        // Grid and axes.
        painter.setPen(QColor(200, 200, 200));
        painter.drawRect(pane.Rect.adjusted(0, 0, -1, -1));
        for (int q = 0; q < 2; ++q) {
            if (!present[size_t(q)] && !(q == 0 && !present[1]))
                continue;
            if (!RangeKnown[size_t(pane.Key)][size_t(q)])
                continue;
            const auto [lo, hi] = range[size_t(q)];
            const double step = NiceStep((hi - lo) / std::max(1, pane.Rect.height() / 30));
            // An integer count of grid lines: a sum of steps drifts, and a
            // step lost below the values' precision would never end.
            const double first = std::ceil(lo / step);
            const int lines = int(std::clamp(std::floor(hi / step) - first + 1.0, 0.0, 1000.0));
            for (int i = 0; i < lines; ++i) {
                const double v = (first + i) * step;
                const int y = pane.Rect.bottom() - int((v - lo) / (hi - lo) * pane.Rect.height());
                if (y < pane.Rect.top() + 14 || y > pane.Rect.bottom() - 6)
                    continue; // clear of the unit and of the next strip's labels
                painter.setPen(QColor(230, 230, 230));
                painter.drawLine(pane.Rect.left(), y, pane.Rect.right(), y);
                painter.setPen(Qt::black);
                const QString text = AxisNumber(v, step);
                if (q == 0)
                    painter.drawText(QRect(whole.left(), y - 7, AxisWidth - 4, 14),
                                     Qt::AlignRight | Qt::AlignVCenter, text);
                else
                    painter.drawText(QRect(pane.Rect.right() + 4, y - 7, AxisWidth - 4, 14),
                                     Qt::AlignLeft | Qt::AlignVCenter, text);
            }
            painter.setPen(Qt::black);
            if (q == 0)
                painter.drawText(QRect(whole.left(), pane.Rect.top(), AxisWidth - 4, 14), Qt::AlignRight,
                                 "мВ");
            else
                painter.drawText(QRect(pane.Rect.right() + 4, pane.Rect.top(), AxisWidth - 4, 14),
                                 Qt::AlignLeft, "Ом");
        }

        // Traces: a min-max bar per column, a line through the means of the
        // columns of one segment.
        painter.save();
        painter.setClipRect(pane.Rect);
        for (int c : pane.Channels) {
            const std::vector<TPoint>& pts = points[size_t(c)];
            QPen pen(TrendLook::ChannelColour(c));
            pen.setWidth(1); // a cosmetic pen: wider ones go through the stroker, 4x slower
            painter.setPen(pen);
            std::vector<QLineF> bars;
            std::vector<QRectF> overs;
            QPolygonF line;
            size_t lineSegment = size_t(-1);
            auto flush = [&] {
                if (line.size() > 1)
                    painter.drawPolyline(line);
                else if (line.size() == 1)
                    painter.drawPoint(line.front());
                line.clear();
            };
            for (const TPoint& p : pts) {
                const bool ohms = segments[p.Segment].Setup[c].Resistance;
                // Plain copies: clang 14 cannot capture structured bindings.
                const double lo = range[ohms ? 1 : 0].first;
                const double hi = range[ohms ? 1 : 0].second;
                auto y = [&](double v) {
                    return pane.Rect.bottom() - (v - lo) / (hi - lo) * pane.Rect.height();
                };
                if (p.Segment != lineSegment) {
                    flush();
                    lineSegment = p.Segment;
                }
                if (!std::isnan(p.Mean) && p.Max >= p.Min) {
                    line << QPointF(p.X, y(p.Mean));
                    if (p.Max > p.Min)
                        bars.emplace_back(p.X, y(p.Min), p.X, y(p.Max));
                }
                if (p.Over)
                    overs.emplace_back(p.X - 2, pane.Rect.top() + 1, 5, 6);
            }
            flush();
            painter.drawLines(bars.data(), int(bars.size()));
            for (const QRectF& r : overs)
                painter.fillRect(r, Qt::red);
        }
        painter.restore();
    }

    // Set-up changes (range or mode) on the time axis.
    for (size_t i = 1; i < segments.size(); ++i) {
        const TTrendSegment& s = segments[i];
        const double t = double(History.TimeAt(std::max(s.First, History.FirstBlock())));
        if (t < start || t > ViewEnd)
            continue;
        bool changed = false;
        for (int c = 0; c < 16 && !changed; ++c)
            changed = ShownChannels[size_t(c)] && s.Setup[c] != segments[i - 1].Setup[c];
        const int x = area.left() + int((t - start) / msPerPx);
        if (changed) {
            painter.setPen(QPen(QColor(255, 140, 0), 1, Qt::DashLine));
            painter.drawLine(x, area.top(), x, area.bottom() + 6);
        }
        if (s.RunStart) {
            painter.setPen(QColor(120, 120, 120));
            painter.drawLine(x, area.bottom() - 6, x, area.bottom() + 6);
        }
    }

    // Time labels (local time; the date where the view spans days).
    qint64 step = TimeSteps[std::size(TimeSteps) - 1];
    for (qint64 s : TimeSteps)
        if (double(s) / msPerPx >= 90.0) {
            step = s;
            break;
        }
    const qint64 offset = QDateTime::currentDateTime().offsetFromUtc() * 1000;
    const QString pattern = step >= 86400000 ? "dd.MM"
                            : step >= 60000  ? "hh:mm"
                            : step >= 1000   ? "hh:mm:ss"
                                             : "hh:mm:ss.z";
    painter.setPen(Qt::black);
    for (qint64 t = (qint64(std::floor(start)) + offset) / step * step - offset; t <= ViewEnd; t += step) {
        if (t < start)
            continue;
        const int x = area.left() + int((double(t) - start) / msPerPx);
        painter.setPen(QColor(200, 200, 200));
        painter.drawLine(x, area.bottom(), x, area.bottom() + 4);
        painter.setPen(Qt::black);
        painter.drawText(QRect(x - 60, area.bottom() + 4, 120, TimeAxisHeight - 4),
                         Qt::AlignHCenter | Qt::AlignTop,
                         QDateTime::fromMSecsSinceEpoch(t).toString(pattern));
    }

    // The zoom box and the cursor.
    if (Drag == TDrag::Box) {
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(
            QRect(QPoint(std::min(PressX, BoxX), area.top()), QPoint(std::max(PressX, BoxX), area.bottom())));
    }
    if (CursorX >= area.left() && CursorX <= area.right()) {
        painter.setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
        painter.drawLine(CursorX, area.top(), CursorX, area.bottom());
    }
}

void TTrendPlot::ShowCursor(int x) {
    CursorX = x;
    update();
    const QRect area = PlotArea();
    if (x < area.left() || x > area.right() || History.Empty()) {
        emit CursorText(QString());
        return;
    }
    const double t = TimeAtX(x);
    QString text = QDateTime::fromMSecsSinceEpoch(qint64(t)).toString("dd.MM.yyyy hh:mm:ss.zzz");
    // The block nearest the pointer, if it is near enough to stand for it.
    qint64 b = History.LowerBound(qint64(t));
    if (b == History.EndBlock() ||
        (b > History.FirstBlock() && t - History.TimeAt(b - 1) < History.TimeAt(b) - t))
        b -= 1;
    const double px = Span / area.width();
    double tolerance = 3 * px;
    if (b > History.FirstBlock() && History.SegmentAt(b - 1).First == History.SegmentAt(b).First)
        tolerance = std::max(tolerance, 0.6 * double(History.TimeAt(b) - History.TimeAt(b - 1)));
    if (b < History.FirstBlock() || std::fabs(double(History.TimeAt(b)) - t) > tolerance) {
        emit CursorText(text + "   нет данных");
        return;
    }
    const TTrendSegment& segment = History.SegmentAt(b);
    for (int c = 0; c < 16; ++c) {
        if (!ShownChannels[size_t(c)] || !segment.Setup[c].Active)
            continue;
        const double v = History.ValueAt(c, b);
        text += QString("   К%1: %2 %3")
                    .arg(c + 1)
                    .arg(std::isnan(v) ? QString("—") : FormatFloat(segment.Setup[c].Format, v),
                         TrendLook::Unit(segment.Setup[c].Resistance));
        if (History.OverRangeAt(c, b))
            text += " (перегрузка)";
    }
    emit CursorText(text);
}

void TTrendPlot::mousePressEvent(QMouseEvent* event) {
    PressX = int(event->position().x());
    BoxX = PressX;
    PressViewEnd = ViewEnd;
    if (event->button() == Qt::LeftButton)
        Drag = TDrag::Pan;
    else if (event->button() == Qt::RightButton)
        Drag = TDrag::Box;
}

void TTrendPlot::mouseMoveEvent(QMouseEvent* event) {
    const int x = int(event->position().x());
    if (Drag == TDrag::Pan && x != PressX) {
        if (LiveView) {
            LiveView = false;
            emit LiveChanged(false);
        }
        ViewEnd = PressViewEnd - double(x - PressX) * Span / PlotArea().width();
        ViewMoved();
    } else if (Drag == TDrag::Box) {
        BoxX = x;
        update();
    }
    ShowCursor(x);
}

void TTrendPlot::mouseReleaseEvent(QMouseEvent* event) {
    const int x = int(event->position().x());
    if (Drag == TDrag::Box && std::abs(x - PressX) > 4)
        SetView(TimeAtX(std::min(x, PressX)), TimeAtX(std::max(x, PressX)));
    Drag = TDrag::None;
    update();
}

void TTrendPlot::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy == 0)
        return;
    const QRect area = PlotArea();
    const double at = std::clamp((event->position().x() - area.left()) / area.width(), 0.0, 1.0);
    Zoom(dy > 0 ? 0.8 : 1.25, at);
    event->accept();
}

void TTrendPlot::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
        Pan(-0.2);
        break;
    case Qt::Key_Right:
        Pan(0.2);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Up:
        Zoom(0.8, 0.5);
        break;
    case Qt::Key_Minus:
    case Qt::Key_Down:
        Zoom(1.25, 0.5);
        break;
    case Qt::Key_Home:
        ShowAll();
        break;
    case Qt::Key_End:
        SetLive(true);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TTrendPlot::leaveEvent(QEvent*) {
    ShowCursor(-1);
}
