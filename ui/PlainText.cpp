#include "ui/PlainText.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

namespace {

// A hint is shown as rich text whenever it merely looks like markup; this
// shows such a hint escaped instead.
class TPlainToolTips : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        const QString text = widget->toolTip();
        if (text.isEmpty() || !Qt::mightBeRichText(text))
            return false;
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), PlainText::ToolTipMarkup(text), widget, QRect(),
                           widget->toolTipDuration());
        return true;
    }
};

} // namespace

namespace PlainText {

void Install(QWidget* owner) {
    for (QLabel* label : owner->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    qApp->installEventFilter(new TPlainToolTips(owner));
}

QString ToolTipMarkup(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

} // namespace PlainText
