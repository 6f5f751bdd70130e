// A round LED-style lamp: a fill colour, an off state and a hint.
#pragma once

#include <QColor>
#include <QWidget>

class TLed : public QWidget {
    Q_OBJECT
public:
    explicit TLed(QWidget* parent = nullptr);
    void SetColor(const QColor& color); // the lamp is on in this colour
    void SetOff();                      // button-face colour, lamp value off
    QColor Color() const { return FillColor; }
    bool IsOn() const { return On; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor FillColor;
    bool On = false;
};
