// Full detection and crate change against emulated crates, called directly on
// a main window (no worker).
#include "DiscoveryFixture.h"
#include "EmulatorProcess.h"
#include "FormControl.h"

#include "app/ModuleEnumeration.h"
#include "device/DeviceRecords.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace DiscoveryTesting;

namespace {

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

QByteArray DefaultLikeConfig() {
    return Config({Crate("QR000001",
                         {OtherSlot(1), Km808Slot(3, "KM0000301"), OtherSlot(5), Km808Slot(9, "KM0000901")}),
                   Crate("QR000002", {OtherSlot(2), OtherSlot(4)}),
                   Crate("QR000003", {Km808Slot(1, "KM0000103"), OtherSlot(7)})});
}

QByteArray SeventeenCrates() {
    QList<QByteArray> crates;
    for (int i = 1; i <= 17; ++i)
        crates << Crate("C" + QByteArray::number(i), {Km808Slot(1, "KM" + QByteArray::number(i))});
    return Config(crates);
}

struct DetectCase {
    const char* Name;
    QByteArray Config;
    QString WantedCrate;
    int16_t WantedSlot;
    QStringList CrateItems;
    int CrateIndex;
    QStringList ModuleItems;
    int ModuleIndex;
    QString OpenedSerial;
};
void PrintTo(const DetectCase& c, std::ostream* os) {
    *os << c.Name;
}

class DetectAllCase : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectAllCase, ListsSelectsAndOpens) {
    const DetectCase& c = GetParam();
    EmulatorProcess emulator(c.Config);
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    TMainForm form;
    QStringList reports;
    form.HoldHandlers(true);

    EXPECT_TRUE(DetectAll(form, c.WantedCrate, c.WantedSlot, [&](const QString& t) { reports << t; }));

    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(Items(Control<QComboBox>(form, "QiraCratesComboBox")), c.CrateItems);
    EXPECT_EQ(Control<QComboBox>(form, "QiraCratesComboBox")->currentIndex(), c.CrateIndex);
    EXPECT_EQ(Control<QComboBox>(form, "QiraCratesComboBox")->maxVisibleItems(), c.CrateItems.size());
    EXPECT_EQ(form.DeviceState().SelectedCrateIndex, c.CrateIndex);
    EXPECT_EQ(Items(Control<QComboBox>(form, "ModulesComboBox")), c.ModuleItems);
    EXPECT_EQ(Control<QComboBox>(form, "ModulesComboBox")->currentIndex(), c.ModuleIndex);
    EXPECT_EQ(Control<QComboBox>(form, "ModulesComboBox")->maxVisibleItems(), c.ModuleItems.size());
    EXPECT_EQ(form.DeviceState().CrateState, 1);
    EXPECT_EQ(form.DeviceState().ModuleState, 1);
    EXPECT_EQ(KM808_IsOpened(&form.DeviceState().ModuleControl), 0);
    EXPECT_EQ(QString::fromLatin1(form.DeviceState().ModuleControl.SerialNumber), c.OpenedSerial);
    CloseModuleIfOpen(form.DeviceState());
}

const QStringList DefaultCrates{"1: QR000001", "2: QR000003"};
const QStringList Crate1Modules{"Слот 3: KM808", "Слот 9: KM808"};
const QStringList Crate3Modules{"Слот 1: KM808"};

INSTANTIATE_TEST_SUITE_P(
    Discovery, DetectAllCase,
    ::testing::Values(
        DetectCase{"NoWantedCrate", DefaultLikeConfig(), "", -1, DefaultCrates, 0, Crate1Modules, 0,
                   "KM0000301"},
        DetectCase{"WantedCrateAndSlot", DefaultLikeConfig(), "QR000001", 9, DefaultCrates, 0, Crate1Modules,
                   1, "KM0000901"},
        DetectCase{"WantedThirdListedCrate", DefaultLikeConfig(), "QR000003", 1, DefaultCrates, 1,
                   Crate3Modules, 0, "KM0000103"},
        DetectCase{"WantedCrateGone", DefaultLikeConfig(), "QR999999", 9, DefaultCrates, 0, Crate1Modules, 0,
                   "KM0000301"},
        DetectCase{"WantedSlotNotKm808", DefaultLikeConfig(), "QR000001", 5, DefaultCrates, 0, Crate1Modules,
                   0, "KM0000301"},
        DetectCase{"WantedSlotOfAnotherCrate", DefaultLikeConfig(), "QR000003", 9, DefaultCrates, 1,
                   Crate3Modules, 0, "KM0000103"},
        DetectCase{
            "SlotThatDoesNotOpenLeftOut",
            Config({Crate("QA", {Km808Slot(2, "KM2", "\"faults\": {\"open\": true}"), Km808Slot(4, "KM4"),
                                 Km808Slot(6, "KM6", "\"faults\": {\"getconfig\": true}")})}),
            "QA",
            2,
            {"1: QA"},
            0,
            {"Слот 4: KM808"},
            0,
            "KM4"},
        DetectCase{
            "StalledModulesAndCrateLeftOut",
            Config({Crate("QS",
                          {Km808Slot(2, "KM2", "\"faults\": {\"stall_calls\": {\"Open\": 60000}}"),
                           Km808Slot(4, "KM4"),
                           Km808Slot(6, "KM6", "\"faults\": {\"stall_calls\": {\"GetConfig\": 60000}}")}),
                    Crate("QU", {Km808Slot(1, "KMU")},
                          "\"faults\": {\"stall_calls\": {\"GetCrateModules\": 60000}}"),
                    Crate("QT", {Km808Slot(1, "KMT")})}),
            "QT",
            1,
            {"1: QS", "2: QT"},
            1,
            {"Слот 1: KM808"},
            0,
            "KMT"},
        DetectCase{"OnlyTheFirstSixteenCrates",
                   SeventeenCrates(),
                   "C17",
                   1,
                   {"1: C1", "2: C2", "3: C3", "4: C4", "5: C5", "6: C6", "7: C7", "8: C8", "9: C9",
                    "10: C10", "11: C11", "12: C12", "13: C13", "14: C14", "15: C15", "16: C16"},
                   0,
                   {"Слот 1: KM808"},
                   0,
                   "KM1"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct FailureCase {
    const char* Name;
    QByteArray Config; // empty: no crate server at all
    QStringList Reports;
    int CrateState;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.Name;
}

class DetectAllFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DetectAllFailure, FailsWithItsReport) {
    const FailureCase& c = GetParam();
    EmulatorProcess emulator(c.Config.isEmpty() ? Config({}) : c.Config);
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    if (c.Config.isEmpty())
        emulator.Kill();
    TMainForm form;
    form.HoldHandlers(true);
    QStringList reports;

    EXPECT_FALSE(DetectAll(form, "", -1, [&](const QString& t) { reports << t; }));

    EXPECT_EQ(reports, c.Reports);
    EXPECT_EQ(form.DeviceState().CrateState, c.CrateState);
    EXPECT_EQ(form.DeviceState().ModuleState, 0);
    EXPECT_NE(KM808_IsOpened(&form.DeviceState().ModuleControl), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, DetectAllFailure,
    ::testing::Values(
        FailureCase{"NoCrateServer", {}, {"Не могу найти ни одного QIRA крейта!"}, 0},
        FailureCase{"NoCrateHoldsAKm808",
                    Config({Crate("QR000002", {OtherSlot(2)}), Crate("QR000004", {})}),
                    {"Не могу найти ни одного QIRA крейта\nгде бы был установлен модуль KM808!"},
                    0},
        FailureCase{"NoKm808Answers",
                    Config({Crate("QA", {Km808Slot(3, "KM3", "\"faults\": {\"open\": true}")})}),
                    {"Не могу найти ни одного QIRA крейта\nгде бы был установлен модуль KM808!"},
                    0},
        FailureCase{"SlotTypesUnreadable",
                    Config({Crate("QA", {Km808Slot(3, "KM3")}),
                            Crate("QB", {Km808Slot(3, "KM3")}, "\"faults\": {\"modules\": true}")}),
                    {},
                    0}),
    [](const auto& info) { return std::string(info.param.Name); });

// What a detection left out, or why it found nothing, is told apart.
struct NoteCase {
    const char* Name;
    QByteArray Config;
    int HeldSlot;              // a module of crate QA that another client holds (0: none)
    int HeldForMs;             // how long it holds it (-1: throughout)
    bool HoldServerConnection; // another client takes the server's one place
    bool Listed;
    int Modules; // listed in the first crate
    QList<TDetectionNote> Notes;
};
void PrintTo(const NoteCase& c, std::ostream* os) {
    *os << c.Name;
}

class DetectionNotes : public ::testing::TestWithParam<NoteCase> {};

TEST_P(DetectionNotes, NameWhatWasLeftOutAndWhy) {
    const NoteCase& c = GetParam();
    EmulatorProcess emulator(c.Config);
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    CrateControl place{};
    if (c.HoldServerConnection) {
        QIRA_Init(&place);
        ASSERT_EQ(QIRA_Open(&place), 0);
    }
    KM808_CONTROL held{};
    std::thread release;
    if (c.HeldSlot > 0) {
        ASSERT_EQ(KM808_Open(&held, ModuleServerAddress, ModuleServerPort, "QA", uint16_t(c.HeldSlot)), 0);
        if (c.HeldForMs >= 0)
            release = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.HeldForMs));
                KM808_Close(&held);
            });
    }
    TDeviceState device;

    EXPECT_EQ(ListModules(device, [](const QString&) {}), c.Listed);

    if (release.joinable())
        release.join();
    if (KM808_IsOpened(&held) == 0)
        KM808_Close(&held);
    QIRA_Close(&place);
    if (c.Listed) {
        EXPECT_EQ(device.ModuleCount[0], c.Modules);
    }
    ASSERT_EQ(device.DetectionNotes.size(), c.Notes.size());
    for (int i = 0; i < c.Notes.size(); ++i) {
        EXPECT_EQ(device.DetectionNotes[i].Crate, c.Notes[i].Crate) << i;
        EXPECT_EQ(device.DetectionNotes[i].Slot, c.Notes[i].Slot) << i;
        EXPECT_EQ(int(device.DetectionNotes[i].Failure), int(c.Notes[i].Failure)) << i;
    }
}

const QByteArray TwoModules = Config({Crate("QA", {Km808Slot(3, "KM3"), Km808Slot(5, "KM5")})});

// The window's detection keeps its prescribed text and says beside it that the
// module is held by another client, not missing.
TEST(Discovery, ABusyModuleIsToldBesideTheWindowsText) {
    EmulatorProcess emulator(Config({Crate("QA", {Km808Slot(3, "KM3")})}));
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    KM808_CONTROL held{};
    ASSERT_EQ(KM808_Open(&held, ModuleServerAddress, ModuleServerPort, "QA", 3), 0);
    TMainForm form;
    form.HoldHandlers(true);
    QStringList reports;

    EXPECT_FALSE(DetectAll(form, "", -1, [&](const QString& t) { reports << t; }));

    KM808_Close(&held);
    EXPECT_EQ(reports,
              QStringList{"Не могу найти ни одного QIRA крейта\nгде бы был установлен модуль KM808!\n"
                          "Крейт 'QA', слот 3: модуль занят другим клиентом"});
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, DetectionNotes,
    ::testing::Values(
        NoteCase{"NothingLeftOut", TwoModules, 0, 0, false, true, 2, {}},
        NoteCase{"HeldThroughout", TwoModules, 5, -1, false, true, 1, {{"QA", 5, TDeviceFailure::Busy}}},
        // Another client's detection holds each module for a moment only.
        NoteCase{"HeldForAMoment", TwoModules, 5, 300, false, true, 2, {}},
        NoteCase{"OnlyModuleHeld",
                 Config({Crate("QA", {Km808Slot(3, "KM3")})}),
                 3,
                 -1,
                 false,
                 false,
                 0,
                 {{"QA", 3, TDeviceFailure::Busy}}},
        NoteCase{"ServerFull",
                 "{\"pace\": \"fast\", \"max_clients\": 1, \"crates\": [" +
                     Crate("QA", {Km808Slot(3, "KM3")}) + "]}",
                 0,
                 0,
                 true,
                 false,
                 0,
                 {{"", 0, TDeviceFailure::ServerFull}}},
        NoteCase{"SlotTypesUnreadable",
                 Config({Crate("QA", {Km808Slot(3, "KM3")}),
                         Crate("QB", {Km808Slot(3, "KM3")}, "\"faults\": {\"modules\": true}")}),
                 0,
                 0,
                 false,
                 false,
                 0,
                 {{"QB", 0, TDeviceFailure::SlotTypesUnreadable}}},
        NoteCase{
            "StalledModule",
            Config({Crate("QA", {Km808Slot(3, "KM3"),
                                 Km808Slot(5, "KM5", "\"faults\": {\"stall_calls\": {\"Open\": 60000}}")})}),
            0,
            0,
            false,
            true,
            1,
            {{"QA", 5, TDeviceFailure::TimedOut}}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(DetectionNotes, TextNamesCrateSlotAndReason) {
    EXPECT_EQ(DetectionNoteText({"QR000001", 3, TDeviceFailure::Busy}),
              "crate 'QR000001' slot 3: the module is busy: another client holds it");
    EXPECT_EQ(DetectionNoteText({"QR000002", 0, TDeviceFailure::SlotTypesUnreadable}),
              "crate 'QR000002': the crate did not tell its slot types");
    EXPECT_EQ(DetectionNoteText({"", 0, TDeviceFailure::NoDescriptor}),
              "no file descriptor left in this process (ulimit -n)");
    EXPECT_EQ(DeviceFailureOf(KM808_ERR_SERVER_BASE - 9), TDeviceFailure::ServerFull);
    EXPECT_EQ(DeviceFailureOf(KM808_ERR_NO_DESCRIPTOR), TDeviceFailure::NoDescriptor);
}

// A crate server that stops answering (or answers a byte a second) costs a
// detection one call time-out (5 s), not one per module, and the detection
// says that it found no crate.
struct SilentServerCase {
    const char* Name;
    QByteArray Config;
};
void PrintTo(const SilentServerCase& c, std::ostream* os) {
    *os << c.Name;
}

class SilentServer : public ::testing::TestWithParam<SilentServerCase> {};

TEST_P(SilentServer, IsGivenUpAfterOneTimeOut) {
    EmulatorProcess emulator(GetParam().Config);
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    TMainForm form;
    form.HoldHandlers(true);
    QStringList reports;
    QElapsedTimer clock;
    clock.start();

    EXPECT_FALSE(DetectAll(form, "", -1, [&](const QString& t) { reports << t; }));

    EXPECT_LT(clock.elapsed(), 9000); // one 5 s time-out and a generous margin
    EXPECT_EQ(reports, QStringList{"Не могу найти ни одного QIRA крейта!"});
    EXPECT_EQ(form.DeviceState().ModuleState, 0);
    EXPECT_NE(KM808_IsOpened(&form.DeviceState().ModuleControl), 0);
}

QByteArray ThreeSlotsWith(const QByteArray& fault) {
    return Config(
        {Crate("QS", {Km808Slot(2, "KM2", fault), Km808Slot(4, "KM4", fault), Km808Slot(6, "KM6", fault)})});
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, SilentServer,
    ::testing::Values(
        SilentServerCase{"UnansweredOpens",
                         ThreeSlotsWith("\"faults\": {\"stall_calls\": {\"Open\": 60000}}")},
        SilentServerCase{"TrickledOpens", ThreeSlotsWith("\"faults\": {\"trickle_bytes_per_s\": 1, "
                                                         "\"trickle_calls\": [\"Open\"]}")},
        SilentServerCase{"TrickledCrateList",
                         "{\"pace\": \"fast\", \"faults\": {\"trickle_bytes_per_s\": 1, \"trickle_calls\": "
                         "[\"GetCrates\"]}, \"crates\": [" +
                             Crate("QS", {Km808Slot(2, "KM2")}) + "]}"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Discovery, CrateChangeRefillsModulesAndOpensTheFirst) {
    EmulatorProcess emulator(DefaultLikeConfig());
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    TMainForm form;
    form.HoldHandlers(true);
    ASSERT_TRUE(DetectAll(form, "QR000001", 9, [](const QString&) {}));
    form.DeviceState().SelectedCrateIndex = 1;

    EXPECT_TRUE(ChangeCrate(form, [&] { FillModuleSelector(form); }));

    EXPECT_EQ(Items(Control<QComboBox>(form, "ModulesComboBox")), Crate3Modules);
    EXPECT_EQ(Control<QComboBox>(form, "ModulesComboBox")->currentIndex(), 0);
    EXPECT_EQ(QString::fromLatin1(form.DeviceState().ModuleControl.SerialNumber), "KM0000103");
    EXPECT_EQ(form.DeviceState().CrateState, 1);
    EXPECT_EQ(form.DeviceState().ModuleState, 2);
    CloseModuleIfOpen(form.DeviceState());
}

TEST(Discovery, CrateItemTextHoldsASixteenByteSerialWhole) {
    const char serial[16] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'};
    EXPECT_EQ(CrateItemText(15, serial), "16: ABCDEFGHIJKLMNOP");
}

} // namespace
