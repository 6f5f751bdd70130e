// The modal dialog with which both workers tell the operator about a failure:
// a standard message box restyled (fixed width, large font, wrapped text,
// error colours, buttons with the caller's captions) and centred on the main
// window.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

struct WorkerMessageRequest {
    QString Caption;
    QMessageBox::Icon DialogType = QMessageBox::Critical; // Critical is the error kind
    QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
    QStringList ButtonCaptions; // one per button, in the dialog's button order
    QString Text;
};

enum class ButtonLayout {
    OwnWidth,    // each button as wide as its caption, centred
    CommonWidth, // all buttons as wide as the widest caption (at least 100), spread evenly
};

// Shows the dialog modally over form on the user-interface thread, with the
// window's shortcut handling held off meanwhile; returns the standard button
// that closed it.
int ShowWorkerMessageDialog(QWidget* form, bool* shortcutsEnabled, const WorkerMessageRequest& request,
                            ButtonLayout layout);

namespace WorkerMessageDialog {

inline constexpr int Width = 570;
inline constexpr int FontPointSize = 12;

// Number of dialogs shown since the program started.
int ShownCount();

// Called with every dialog once it is laid out and visible; lets tests read
// and close it.
void SetShownObserver(std::function<void(QMessageBox&)> observer);

} // namespace WorkerMessageDialog
