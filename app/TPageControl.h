// The page control: a tab widget that can tell the size of its pages before it
// has been shown (the window is fitted around them at construction).
#pragma once

#include <QStyleOptionTabWidgetFrame>
#include <QTabWidget>

class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    using QTabWidget::QTabWidget;

    QRect PageRect() const {
        QStyleOptionTabWidgetFrame opt;
        initStyleOption(&opt);
        return style()->subElementRect(QStyle::SE_TabWidgetTabContents, &opt, this);
    }
};
