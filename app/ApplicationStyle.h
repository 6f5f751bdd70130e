// The application's style: the platform style with the hint delay, centred
// tabs and the main window's choices where the platform offers no setting.
#pragma once

#include <QProxyStyle>
#include <QScrollArea>
#include <QStyleOptionFocusRect>

class TApplicationStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    static constexpr int HintDelay = 200;

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override {
        switch (hint) {
        case SH_ToolTip_WakeUpDelay:
            return HintDelay;
        case SH_ToolTip_FallAsleepDelay:
            return 1500;
        case SH_TabBar_Alignment:
            return Qt::AlignCenter;
        default:
            return QProxyStyle::styleHint(hint, option, widget, returnData);
        }
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        // A scroll box is a Tab stop like any control, so it shows the focus
        // as they do, on its frame.
        if (element == CE_ShapedFrame && (option->state & State_HasFocus) &&
            qobject_cast<const QScrollArea*>(widget)) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(*option);
            proxy()->drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
        }
    }
};
