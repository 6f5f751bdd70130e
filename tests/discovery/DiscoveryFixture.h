// Shared helpers of the discovery tests: emulator set-ups, a settings file
// with a stored selection, waiting for a detection run to end, and recording
// (and closing) the worker message dialogs it shows.
#pragma once

#include "app/TInitAndConfigThread.h"
#include "app/TMainForm.h"
#include "ui/WorkerMessageDialog.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace DiscoveryTesting {

// One KM808 slot entry of an emulator set-up; extra is spliced into the JSON
// object (e.g. "\"faults\": {\"open\": true}").
QByteArray Km808Slot(int slot, const QByteArray& serial, const QByteArray& extra = {});
// A slot holding another module type.
QByteArray OtherSlot(int slot);
QByteArray Crate(const QByteArray& serial, const QList<QByteArray>& slotList, const QByteArray& extra = {});
QByteArray Config(const QList<QByteArray>& crates);

struct StoredSelection {
    QString CrateSerial;
    int Slot = -1;
    std::optional<int> Top;
    std::optional<int> Left;
};
// Writes the stored selection (and window position) into the settings file of
// dir, which must not exist yet.
void WriteSettings(const QString& dir, const StoredSelection& stored);

// Pumps until no detection run exists and no request is in flight; false
// after a generous guard time (a hung run).
bool WaitForIdle(TMainForm& form);
// Pumps until a detection run has started.
bool WaitForRun(TMainForm& form);

// Records the texts of the worker message dialogs and closes each one once it
// is open.
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    QStringList Texts;
    QStringList Captions;
};

// A main window with its settings in a directory of its own.
struct WindowUnderTest {
    WindowUnderTest();
    ~WindowUnderTest();
    QTemporaryDir SettingsDir;
    std::unique_ptr<TMainForm> Form;
    // Shows the window (the first placement starts the start-up detection)
    // and waits for that run to end.
    bool StartUp();
};

} // namespace DiscoveryTesting
