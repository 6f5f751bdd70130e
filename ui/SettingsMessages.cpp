#include "ui/SettingsMessages.h"

#include <QMessageBox>

SettingsMessageHook& SettingsMessageOverride() {
    static SettingsMessageHook hook;
    return hook;
}

void ShowSettingsMessage(QWidget* parent, const QString& text, const QString& caption) {
    if (SettingsMessageOverride()) {
        SettingsMessageOverride()(parent, text, caption);
        return;
    }
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
    box.exec();
}
