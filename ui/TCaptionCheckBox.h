// A check box whose caption wraps: either above the box (both centred) or to
// its right. The whole widget is the click area.
#pragma once

#include <QCheckBox>

class TCaptionCheckBox : public QCheckBox {
    Q_OBJECT
public:
    enum class Placement { Above, Right };
    explicit TCaptionCheckBox(QWidget* parent, Placement placement = Placement::Above)
        : QCheckBox(parent), CaptionPlacement(placement) {}

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    // A click on a three-state box never makes it undecided: that state is a
    // summary the program sets.
    void nextCheckState() override;

private:
    Placement CaptionPlacement;
};
