#include "ui/TLed.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>

TLed::TLed(QWidget* parent) : QWidget(parent) {
    FillColor = palette().color(QPalette::Button);
}

void TLed::SetColor(const QColor& color) {
    FillColor = color;
    On = true;
    update();
}

void TLed::SetOff() {
    FillColor = palette().color(QPalette::Button);
    On = false;
    update();
}

void TLed::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height()) - 2;
    const QRectF r((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    QColor base = FillColor;
    if (!isEnabled() && On)
        base = base.lighter(140);
    // A lit lamp gets a highlight towards the upper left; an off lamp stays flat.
    QRadialGradient g(r.left() + side * 0.35, r.top() + side * 0.3, side * 0.75);
    g.setColorAt(0.0, On ? base.lighter(190) : base.lighter(115));
    g.setColorAt(1.0, On ? base.darker(115) : base.darker(105));
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(g);
    p.drawEllipse(r);
}
