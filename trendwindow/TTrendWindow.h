// The trend window ("Тренд"): the chart, a legend to show or hide channels,
// live mode, autoscale, the layout choice, the statistics table over the
// visible range and since the run's start, and export of the visible range.
// It keeps the history of every block since the program started, shown or
// not; the measurement hands it each block through TakeBlock. Its own
// geometry, shown channels and layout live in a file of their own.
// User-interface thread only.
#pragma once

#include "trend/TrendBlock.h"
#include "trend/TrendRecorder.h"

#include <QString>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class TTrendHistory;
class TTrendPlot;

class TTrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TTrendWindow(QWidget* parent = nullptr);
    ~TTrendWindow() override;

    // The measurement's hand-over of each block: kept at once, and recorded
    // (from the event loop, right after) while recording is on. formats: the
    // run's value formats.
    void TakeReading(const TBlockReading& reading, const QString formats[6], const TRecordOrigin& origin);
    void TakeBlock(const TTrendBlock& block);

    // Shows the window and raises it; the first time, restores what
    // layoutFile kept of it (and keeps it there from then on).
    void Open(const QString& layoutFile);

    const TTrendHistory& History() const { return *HistoryData; }
    TTrendPlot* Plot = nullptr;
    QPushButton* LiveButton = nullptr;
    QPushButton* AllButton = nullptr;
    QCheckBox* AutoscaleCheckBox = nullptr;
    QComboBox* LayoutComboBox = nullptr;
    QPushButton* ExportButton = nullptr;
    QCheckBox* ChannelCheckBoxes[TrendChannels] = {};
    QLabel* CursorLabel = nullptr;
    QTableWidget* StatisticsTable = nullptr;
    // Recording.
    QComboBox* RecordFormatComboBox = nullptr;
    QPushButton* RecordFileButton = nullptr;
    QSpinBox* RecordLimitSpinBox = nullptr;
    QPushButton* RecordButton = nullptr;
    QLabel* RecordStateLabel = nullptr;
    QString RecordPath; // the operator's file; each file's name adds its start time
    const TTrendRecorder& Recorder() const { return Recording; }

    // The statistics table for the view and the run as they are now.
    void UpdateStatistics();

    // Writes the visible range of the shown channels to path; false with a
    // message when it failed.
    bool ExportVisible(const QString& path);

protected:
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void UpdateLegend();
    void LoadLayout();
    void SaveLayout() const;
    void ExportClick();
    QWidget* BuildRecordRow();
    bool ChooseRecordFile();
    void RecordButtonToggled(bool on);
    void ShowRecordState();
    void Record(const TBlockReading& reading, const QString formats[6], const TRecordOrigin& origin);

    std::unique_ptr<TTrendHistory> HistoryData;
    QString LayoutFile;
    bool LayoutLoaded = false;
    QTimer* StatisticsTimer = nullptr;
    QTimer* LayoutTimer = nullptr;
    TTrendRecorder Recording;
};
