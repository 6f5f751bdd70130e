#include "DiscoveryFixture.h"

#include "app/UiThread.h"
#include "settings/SettingsKeys.h"
#include "settings/TSettingsFile.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTimer>

namespace DiscoveryTesting {

namespace {
constexpr int GuardMs = 30000;
}

QByteArray Km808Slot(int slot, const QByteArray& serial, const QByteArray& extra) {
    QByteArray s =
        "{\"slot\": " + QByteArray::number(slot) + ", \"type\": \"KM808\", \"serial\": \"" + serial + "\"";
    if (!extra.isEmpty())
        s += ", " + extra;
    return s + "}";
}

QByteArray OtherSlot(int slot) {
    return "{\"slot\": " + QByteArray::number(slot) + ", \"type\": 4660}";
}

QByteArray Crate(const QByteArray& serial, const QList<QByteArray>& slotList, const QByteArray& extra) {
    QByteArray s = "{\"serial\": \"" + serial + "\", \"slots\": [" + slotList.join(", ") + "]";
    if (!extra.isEmpty())
        s += ", " + extra;
    return s + "}";
}

QByteArray Config(const QList<QByteArray>& crates) {
    return "{\"pace\": \"fast\", \"crates\": [" + crates.join(",\n") + "]}";
}

void WriteSettings(const QString& dir, const StoredSelection& stored) {
    auto file = TSettingsFile::Open(QDir(dir).filePath("Km808_Viza.ini"));
    file->WriteString(SettingsKeys::DiscoverySection, SettingsKeys::CrateSerial, stored.CrateSerial);
    file->WriteInteger(SettingsKeys::DiscoverySection, SettingsKeys::ModuleSlot, stored.Slot);
    if (stored.Top)
        file->WriteInteger(SettingsKeys::ApplicationSection, SettingsKeys::WindowTop, *stored.Top);
    if (stored.Left)
        file->WriteInteger(SettingsKeys::ApplicationSection, SettingsKeys::WindowLeft, *stored.Left);
    file->Flush();
}

static bool PumpWithGuard(const std::function<bool()>& done) {
    const QDeadlineTimer guard(GuardMs);
    while (!done()) {
        if (guard.hasExpired())
            return false;
        UiThread::PumpOnce();
    }
    return true;
}

bool WaitForIdle(TMainForm& form) {
    const bool idle = PumpWithGuard([&] {
        return !form.WorkerFlags().DiscoveryRunning && form.WorkerFlags().DiscoveryGate &&
               !form.DiscoveryWorker();
    });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return idle;
}

bool WaitForRun(TMainForm& form) {
    return PumpWithGuard([&] { return form.WorkerFlags().DiscoveryRunning.load(); });
}

DialogRecorder::DialogRecorder() {
    WorkerMessageDialog::SetShownObserver([this](QMessageBox& box) {
        Texts << box.text();
        Captions << box.windowTitle();
        QTimer::singleShot(0, &box, [&box] {
            if (!box.buttons().isEmpty())
                box.buttons().first()->click();
        });
    });
}

DialogRecorder::~DialogRecorder() {
    WorkerMessageDialog::SetShownObserver(nullptr);
}

WindowUnderTest::WindowUnderTest() : Form(std::make_unique<TMainForm>()) {
    Form->SetSettingsDirectory(SettingsDir.path());
}

WindowUnderTest::~WindowUnderTest() {
    if (Form) {
        Form->close();
        Form.reset();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool WindowUnderTest::StartUp() {
    Form->show();
    if (!PumpWithGuard([&] { return Form->StartupStage() == 3; }))
        return false;
    return WaitForIdle(*Form);
}

} // namespace DiscoveryTesting
