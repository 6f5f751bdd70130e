// The page control: a tab widget that can tell the size of its pages before it
// has been shown (the window is fitted around them at construction).
#pragma once

#include <QKeyEvent>
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

protected:
    // Ctrl+Tab and Ctrl+Shift+Tab step through the pages whose tabs are
    // shown; the toolkit's own step lands on hidden ones too.
    void keyPressEvent(QKeyEvent* event) override {
        const bool tab = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
        if (!tab || !(event->modifiers() & Qt::ControlModifier)) {
            QTabWidget::keyPressEvent(event);
            return;
        }
        const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
        const int n = count();
        for (int i = 1; i < n; ++i) {
            const int page = ((currentIndex() + (back ? -i : i)) % n + n) % n;
            if (isTabVisible(page) && isTabEnabled(page)) {
                setCurrentIndex(page);
                break;
            }
        }
        event->accept();
    }
};
