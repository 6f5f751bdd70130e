// The application's style: the platform style with the hint delay, centred
// tabs and the main window's choices where the platform offers no setting.
#pragma once

#include <QProxyStyle>

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
};
