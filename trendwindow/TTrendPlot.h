// The strip chart: every shown channel against wall-clock time, drawn from
// the history's envelopes, one column per pixel, so that no block's extreme
// is lost at any zoom. Lines join only blocks of one segment (one run, one
// set-up); volts and ohms each get their own axis (left and right).
// User-interface thread only.
#pragma once

#include <QWidget>

#include <array>

class TTrendHistory;

class TTrendPlot : public QWidget {
    Q_OBJECT
public:
    explicit TTrendPlot(const TTrendHistory& history, QWidget* parent = nullptr);

    void SetShown(int ch, bool shown);
    bool Shown(int ch) const { return ShownChannels[size_t(ch)]; }
    // One strip per shown channel instead of one shared pane.
    void SetStacked(bool stacked);
    bool Stacked() const { return StackedPanes; }
    void SetAutoscale(bool on);
    bool Autoscale() const { return AutoscaleOn; }
    // Live: the view's right edge follows the newest block.
    void SetLive(bool live);
    bool Live() const { return LiveView; }
    // The whole kept history in view.
    void ShowAll();
    // factor < 1 zooms in; at: the fixed point, 0 (left) .. 1 (right).
    void Zoom(double factor, double at);
    // By a fraction of the visible span; positive moves later.
    void Pan(double fraction);
    // A block was added: follow it when live, redraw.
    void HistoryChanged();

    // The visible blocks [first, end).
    qint64 FirstVisibleBlock() const;
    qint64 EndVisibleBlock() const;
    double ViewStartMs() const { return ViewEnd - Span; }
    double ViewEndMs() const { return ViewEnd; }
    void SetView(double startMs, double endMs);

    // The chart drawn into area (also what the redraw benchmark measures).
    void Paint(QPainter& painter, const QRect& area);

signals:
    void ViewChanged();
    void LiveChanged(bool live);
    // Time and each shown channel's value at the pointer; empty when it left.
    void CursorText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QRect PlotArea() const;
    double TimeAtX(int x) const;
    void FollowNewest();
    void ViewMoved();
    void ShowCursor(int x);

    const TTrendHistory& History;
    std::array<bool, 16> ShownChannels{};
    bool StackedPanes = false;
    bool AutoscaleOn = true;
    bool LiveView = true;
    double ViewEnd = 0.0; // ms since the epoch
    double Span = 60000.0;
    // The y ranges of the last autoscaled drawing per pane (channel, or 16 for
    // the shared pane) and quantity; kept while autoscale is off.
    std::array<std::array<std::pair<double, double>, 2>, 17> Ranges{};
    std::array<std::array<bool, 2>, 17> RangeKnown{};
    // Pointer state.
    enum class TDrag { None, Pan, Box } Drag = TDrag::None;
    int PressX = 0;
    int BoxX = 0;
    double PressViewEnd = 0.0;
    int CursorX = -1;
};
