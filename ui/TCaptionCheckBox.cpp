#include "ui/TCaptionCheckBox.h"

#include <QStyleOptionButton>
#include <QStylePainter>

void TCaptionCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);

    const int iw = style()->pixelMetric(QStyle::PM_IndicatorWidth, &opt, this);
    const int ih = style()->pixelMetric(QStyle::PM_IndicatorHeight, &opt, this);
    const int gap = 4;
    const QFontMetrics fm(font());
    QRect box;
    QRect caption;
    int align = Qt::TextWordWrap;
    if (CaptionPlacement == Placement::Above) {
        align |= Qt::AlignHCenter | Qt::AlignTop;
        const int th = fm.boundingRect(rect(), align, text()).height();
        const int top = qMax(0, (height() - th - gap - ih) / 2);
        caption = QRect(0, top, width(), th);
        box = QRect((width() - iw) / 2, top + th + gap, iw, ih);
    } else {
        align |= Qt::AlignLeft | Qt::AlignVCenter;
        box = QRect(0, (height() - ih) / 2, iw, ih);
        caption = QRect(iw + gap, 0, width() - iw - gap, height());
    }

    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(caption, align, text());

    QStyleOptionButton indicator = opt;
    indicator.rect = box;
    p.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = box.adjusted(-2, -2, 2, 2);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool TCaptionCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void TCaptionCheckBox::nextCheckState() {
    if (isTristate())
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    else
        QCheckBox::nextCheckState();
}
