// One channel's frame: on/off, input range, measuring mode, the latest value
// and an update lamp.
#pragma once

#include <QColor>
#include <QFrame>
#include <atomic>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class TLed;

class TKm808AdcChannelFrame : public QFrame {
    Q_OBJECT
public:
    TKm808AdcChannelFrame(QWidget* owner, int ch, const double* u, int nu, const double* r, int nr);

    QFrame* Km808AdcChannelLMDSimplePanel = nullptr;
    QCheckBox* ChannelNumberLMDCheckBox = nullptr;
    QLineEdit* Value1LMDEdit = nullptr;
    TLed* FlashLed = nullptr;
    QLabel* InputRangeLabLMDComboBox = nullptr;
    QComboBox* InputRangeULMDComboBox = nullptr;
    QComboBox* MeasuringModeNotUsedLMDComboBox = nullptr;
    QLabel* MeasuringModeLabLMDComboBox = nullptr;
    QLabel* Value1LabLMDLabel = nullptr;
    QComboBox* InputRangeRLMDComboBox = nullptr;
    QLabel* MeasuringModeLMDLabel = nullptr;

    uint16_t ChannelIndex = 0;
    bool ApplicationActive = false;

    void EnableChannelControls(bool checkBoxEnabled);
    void DisableChannelControls(bool checkBoxDisabled);
    void DisableChannelFrame();
    void SetUpdateLamp(int state); // 0 green, 1 red, 2 off
    void ShowRangeSelectorForMode(int mode);

    // What the value box's number is: a live reading, a reading at or beyond
    // its range's limit, or the last reading of a measurement that ended on a
    // failure. Only the colour tells them apart; the number stays.
    enum class TValueLook { Live, OverRange, Stale };
    void SetValueLook(TValueLook look);
    TValueLook ValueLook() const { return CurrentValueLook; }
    static QColor ValueLookColor(TValueLook look);

    // The digits' face for a run: the largest that holds widest, the longest
    // text the run can show in this box. Readings keep it, so the digits do not
    // change size from block to block; only a longer text is made smaller.
    // An empty widest gives back the designed face, for a box without a run.
    void ChooseValueFace(const QString& widest);

    // Enabled and checked, kept current on the user-interface thread so the
    // acquisition worker can read it at any time.
    bool IsChannelActive() const { return ChannelActive.load(std::memory_order_relaxed); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateChannelActive();
    void ShowValueSelection(bool shown); // selection colours with and without the focus
    void FitValueText();                 // the whole value text in the box, never a cut of it
    int FittingFacePx(const QString& text, int largestPx) const;
    void ValueLMDEditChange();
    void ValueLMDEditExit();
    std::atomic<bool> ChannelActive{false};
    TValueLook CurrentValueLook = TValueLook::Live;
    int ValueFacePx = 27;
};
