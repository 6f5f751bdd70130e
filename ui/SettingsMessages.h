// Every message box of the settings procedures goes through here: an
// information box with an OK button. Tests replace the hook so that no modal
// box waits for a click.
#pragma once

#include <QString>

#include <functional>

class QWidget;

using SettingsMessageHook = std::function<void(QWidget* parent, const QString& text, const QString& caption)>;

// Empty: the real message box.
SettingsMessageHook& SettingsMessageOverride();

void ShowSettingsMessage(QWidget* parent, const QString& text, const QString& caption);
