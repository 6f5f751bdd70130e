#include "ui/ControlTree.h"

#include <QScrollArea>
#include <QTabWidget>

namespace {

// The controls a control holds, as the operator sees them: the pages of a
// page control, the content of a scroll box, and otherwise the child widgets
// that are not a widget's own internal parts (tab bars, viewports, pop-ups).
QList<QWidget*> ChildControls(QWidget* control) {
    QList<QWidget*> children;
    if (auto* pages = qobject_cast<QTabWidget*>(control)) {
        for (int i = 0; i < pages->count(); ++i)
            children << pages->widget(i);
        return children;
    }
    if (auto* scroll = qobject_cast<QScrollArea*>(control)) {
        if (scroll->widget())
            children << scroll->widget();
        return children;
    }
    for (QWidget* child : control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow() && !child->objectName().startsWith(QLatin1String("qt_")))
            children << child;
    return children;
}

} // namespace

void SetTreeEnabled(QWidget* control, bool enabled, const QWidget* channelPanel) {
    if (!control)
        return;
    control->setEnabled(enabled);
    if (enabled && control == channelPanel)
        return;
    for (QWidget* child : ChildControls(control)) {
        SetTreeEnabled(child, enabled, channelPanel);
        child->setEnabled(enabled);
    }
}
