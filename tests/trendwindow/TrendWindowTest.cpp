// The trend window with blocks handed to it directly: its statistics table,
// its own layout file, the two axes, and how the main window opens it.
#include "FormControl.h"
#include "acquisition/DisplayFormat.h"
#include "trend/TrendHistory.h"
#include "trendwindow/TTrendPlot.h"
#include "trendwindow/TTrendWindow.h"
#include "trendwindow/TrendLook.h"

#include "acquisition/BlockReading.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "../ui/FormFixture.h"

#include <cmath>
#include <csignal>
#include <set>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr qint64 T0 = 1796956800000;

TTrendBlock Block(qint64 runBlock, qint64 timeMs, double mv, double ohms) {
    TTrendBlock block;
    block.TimeMs = timeMs;
    block.RunBlock = runBlock;
    block.Channels[0] = {{true, false, 0, "0.000"}, mv, false};
    block.Channels[1] = {{true, true, 1, "0.0"}, ohms, ohms > 1200.0};
    return block;
}

QString Cell(const QTableWidget* table, int row, int column) {
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

TEST(TrendWindow, StatisticsTableAgainstAnIndependentComputation) {
    QTemporaryDir dir;
    TTrendWindow window;
    std::vector<double> all, second;
    for (int i = 0; i < 30; ++i) {
        const double mv = 1000.0 + 0.37 * i - 0.0113 * i * i;
        window.TakeBlock(
            Block(i < 20 ? i + 1 : i - 19, T0 + 500 * i + (i >= 20 ? 5000 : 0), mv, 1000.0 + 20 * i));
        all.push_back(mv);
        if (i >= 20)
            second.push_back(mv);
    }
    window.Open(dir.filePath("trend.ini"));
    window.Plot->ShowAll();
    window.UpdateStatistics();

    auto expectRow = [&](int row, const std::vector<double>& v, const char* scope) {
        SCOPED_TRACE(scope);
        double mean = 0;
        for (double x : v)
            mean += x;
        mean /= double(v.size());
        double ss = 0;
        for (double x : v)
            ss += (x - mean) * (x - mean);
        const double lo = *std::min_element(v.begin(), v.end());
        const double hi = *std::max_element(v.begin(), v.end());
        const QTableWidget* t = window.StatisticsTable;
        EXPECT_EQ(Cell(t, row, 0), "1, мВ");
        EXPECT_EQ(Cell(t, row, 1), scope);
        EXPECT_EQ(Cell(t, row, 2), QString::number(v.size()));
        EXPECT_EQ(Cell(t, row, 3), FormatFloat("0.000", mean));
        EXPECT_EQ(Cell(t, row, 4), FormatFloat("0.000", std::sqrt(ss / double(v.size() - 1))));
        EXPECT_EQ(Cell(t, row, 5), FormatFloat("0.000", lo));
        EXPECT_EQ(Cell(t, row, 6), FormatFloat("0.000", hi));
        EXPECT_EQ(Cell(t, row, 7), FormatFloat("0.000", hi - lo));
        EXPECT_EQ(Cell(t, row, 8), FormatFloat("0.000", v.back()));
        EXPECT_EQ(Cell(t, row, 9), "0");
    };
    ASSERT_EQ(window.StatisticsTable->rowCount(), 4); // two measured channels, two scopes each
    expectRow(0, all, "видимая");
    expectRow(1, second, "с начала запуска");
    // Channel 2 in ohms, over range above 1200 Ω: blocks 11..29, of them 20..29 in the second run.
    EXPECT_EQ(Cell(window.StatisticsTable, 2, 0), "2, Ом");
    EXPECT_EQ(Cell(window.StatisticsTable, 2, 9), "19");
    EXPECT_EQ(Cell(window.StatisticsTable, 3, 9), "10");
    EXPECT_EQ(Cell(window.StatisticsTable, 3, 8), "1580.0");
    EXPECT_EQ(window.History().Segments().size(), 2u);
}

TEST(TrendWindow, LayoutKeptInItsOwnFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath("trend.ini");
    {
        TTrendWindow window;
        window.Open(file);
        window.ChannelCheckBoxes[2]->setChecked(false);
        window.LayoutComboBox->setCurrentIndex(1);
        window.AutoscaleCheckBox->setChecked(false);
        window.resize(1000, 800);
        window.hide();
    }
    TTrendWindow window;
    window.Open(file);
    EXPECT_FALSE(window.ChannelCheckBoxes[2]->isChecked());
    EXPECT_FALSE(window.Plot->Shown(2));
    EXPECT_TRUE(window.ChannelCheckBoxes[3]->isChecked());
    EXPECT_TRUE(window.Plot->Stacked());
    EXPECT_FALSE(window.Plot->Autoscale());
    EXPECT_EQ(window.size(), QSize(1000, 800));
}

// Rows of the image holding a channel's colour.
int RowsOf(const QImage& image, const QColor& colour) {
    std::set<int> rows;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour)
                rows.insert(y);
    return int(rows.size());
}

// Volts and ohms on one axis would flatten both small wobbles to lines; each
// on its own axis fills its pane's height.
TEST(TrendWindow, VoltsAndOhmsNeverShareAnAxis) {
    for (bool stacked : {false, true}) {
        SCOPED_TRACE(stacked);
        TTrendWindow window;
        for (int i = 0; i < 200; ++i)
            window.TakeBlock(Block(i + 1, T0 + 500 * i, 5000.0 + 0.5 * std::sin(i * 0.3),
                                   400.0 + 0.5 * std::cos(i * 0.3)));
        window.Plot->SetStacked(stacked);
        window.Plot->ShowAll();
        QImage image(1000, 600, QImage::Format_RGB32);
        QPainter painter(&image);
        window.Plot->Paint(painter, image.rect());
        painter.end();
        const int pane = stacked ? 270 : 570; // two strips or one pane
        EXPECT_GT(RowsOf(image, TrendLook::ChannelColour(0)), pane / 2);
        EXPECT_GT(RowsOf(image, TrendLook::ChannelColour(1)), pane / 2);
    }
}

TBlockReading Reading(long long block) {
    TBlockReading reading;
    reading.Block = block;
    reading.Time = QDateTime::fromMSecsSinceEpoch(T0 + 500 * block, Qt::UTC);
    reading.Channels[0] = {
        true, TQuantity::Voltage, 1, 1250.0 + block, ReadingText("0.00", 1250.0 + block), false, false};
    return reading;
}

// Started with the mouse; a failed write told once, recording off, the blocks
// still kept.
TEST(TrendWindow, RecordingAndItsFailure) {
    QTemporaryDir dir;
    const QString formats[6] = {"0.0", "0.00", "0.000", "0.", "0.0", "0.00"};
    TTrendWindow window;
    window.Open(dir.filePath("trend.ini"));
    window.RecordPath = dir.filePath("bench.csv");
    QTest::mouseClick(window.RecordButton, Qt::LeftButton);
    ASSERT_TRUE(window.Recorder().Recording());
    EXPECT_FALSE(window.RecordFormatComboBox->isEnabled());
    for (int b = 1; b <= 3; ++b)
        window.TakeReading(Reading(b), formats, TRecordOrigin{});
    QCoreApplication::sendPostedEvents(); // the writes follow the hand-over
    EXPECT_TRUE(window.RecordStateLabel->text().startsWith("● ЗАПИСЬ  bench-"));
    EXPECT_TRUE(window.RecordStateLabel->text().contains("3 блоков"));
    QFile file(window.Recorder().FileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count('\n'), 4); // header and three blocks

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = rlim_t(file.size());
    setrlimit(RLIMIT_FSIZE, &small);
    window.TakeReading(Reading(4), formats, TRecordOrigin{});
    QCoreApplication::sendPostedEvents();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_DFL);
    window.TakeReading(Reading(5), formats, TRecordOrigin{});
    QCoreApplication::sendPostedEvents();

    EXPECT_FALSE(window.Recorder().Recording());
    EXPECT_FALSE(window.RecordButton->isChecked());
    EXPECT_TRUE(window.RecordFormatComboBox->isEnabled());
    const QList<QMessageBox*> boxes = window.findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->windowTitle(), "Ошибка записи!!!");
    EXPECT_TRUE(boxes[0]->text().endsWith("Запись остановлена, измерение продолжается."));
    EXPECT_EQ(window.History().EndBlock(), 5);

    TBlockReading stale = Reading(5);
    stale.Channels[0].Stale = true;
    window.TakeReading(stale, formats, TRecordOrigin{});
    EXPECT_EQ(window.History().EndBlock(), 5);
    EXPECT_EQ(window.History().Segments().size(), 1u);
}

// The keys an operator pans and zooms with, and the one key back to live.
TEST(TrendWindow, KeysPanZoomAndBackToLive) {
    TTrendWindow window;
    for (int i = 0; i < 600; ++i) // five minutes at 0.5 s
        window.TakeBlock(Block(i + 1, T0 + 500 * i, 1000.0, 400.0));
    QTemporaryDir dir;
    window.Open(dir.filePath("trend.ini"));
    TTrendPlot* plot = window.Plot;
    ASSERT_TRUE(plot->Live());
    const double liveEnd = plot->ViewEndMs();
    EXPECT_GT(liveEnd, double(T0 + 500 * 599)); // the newest block in view

    QTest::keyClick(plot, Qt::Key_Home); // the whole history
    EXPECT_FALSE(plot->Live());
    EXPECT_FALSE(window.LiveButton->isChecked());
    EXPECT_LE(plot->ViewStartMs(), double(T0));
    EXPECT_GE(plot->ViewEndMs(), double(T0 + 500 * 599));
    EXPECT_EQ(plot->FirstVisibleBlock(), 0);
    EXPECT_EQ(plot->EndVisibleBlock(), 600);

    const double whole = plot->ViewEndMs() - plot->ViewStartMs();
    QTest::keyClick(plot, Qt::Key_Plus); // zoom in about the middle
    const double zoomed = plot->ViewEndMs() - plot->ViewStartMs();
    EXPECT_NEAR(zoomed, whole * 0.8, 1.0);
    const double start = plot->ViewStartMs();
    QTest::keyClick(plot, Qt::Key_Left); // a fifth of the span earlier
    EXPECT_NEAR(plot->ViewStartMs(), start - zoomed * 0.2, 1.0);
    QTest::keyClick(plot, Qt::Key_Minus);
    EXPECT_NEAR(plot->ViewEndMs() - plot->ViewStartMs(), zoomed * 1.25, 1.0);

    QTest::keyClick(plot, Qt::Key_End); // back to live, the newest block at the right
    EXPECT_TRUE(plot->Live());
    EXPECT_TRUE(window.LiveButton->isChecked());
    EXPECT_EQ(plot->EndVisibleBlock(), 600);
    window.TakeBlock(Block(601, T0 + 500 * 600, 1000.0, 400.0));
    EXPECT_EQ(plot->EndVisibleBlock(), 601); // live follows the new block
}

using MainWithTrend = FormTest;

TEST_F(MainWithTrend, CtrlTAndTheMenuItemOpenTheTrend) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const QList<QAction*> items = Control<QMenu>(*Form, "PopupMenu")->actions();
    const qsizetype at = items.indexOf(Form->findChild<QAction*>("AboutProgram"));
    ASSERT_GE(at, 2);
    EXPECT_TRUE(items[at - 1]->isSeparator());
    EXPECT_EQ(items[at - 2]->text(), "Тренд");
    EXPECT_EQ(items[at - 2]->shortcut(), QKeySequence("Ctrl+T"));

    auto* trend = Form->findChild<TTrendWindow*>("TrendForm");
    ASSERT_NE(trend, nullptr);
    EXPECT_FALSE(trend->isVisible());
    QTest::keyClick(Form.get(), Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(trend->isVisible());
    EXPECT_EQ(trend->windowTitle(), "Тренд");
    trend->hide();
    // Kept beside the settings file, never in it.
    EXPECT_TRUE(QFile::exists(QFileInfo(Form->SettingsPath()).absolutePath() + "/Km808_Viza_Trend.ini"));
    QSettings settings(Form->SettingsPath(), QSettings::IniFormat);
    EXPECT_FALSE(settings.childGroups().contains("Trend"));

    items[at - 2]->trigger();
    EXPECT_TRUE(trend->isVisible());
}

} // namespace
