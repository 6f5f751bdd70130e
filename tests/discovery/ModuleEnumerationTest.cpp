// Full detection and crate change against emulated crates, called directly on
// a main window (no worker).
#include "DiscoveryFixture.h"
#include "EmulatorProcess.h"

#include "app/ModuleEnumeration.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <gtest/gtest.h>

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
    form.HandlersBusy = true;

    EXPECT_TRUE(DetectAll(form, c.WantedCrate, c.WantedSlot, [&](const QString& t) { reports << t; }));

    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(Items(form.QiraCratesComboBox), c.CrateItems);
    EXPECT_EQ(form.QiraCratesComboBox->currentIndex(), c.CrateIndex);
    EXPECT_EQ(form.QiraCratesComboBox->maxVisibleItems(), c.CrateItems.size());
    EXPECT_EQ(form.Device.SelectedCrateIndex, c.CrateIndex);
    EXPECT_EQ(Items(form.ModulesComboBox), c.ModuleItems);
    EXPECT_EQ(form.ModulesComboBox->currentIndex(), c.ModuleIndex);
    EXPECT_EQ(form.ModulesComboBox->maxVisibleItems(), c.ModuleItems.size());
    EXPECT_EQ(form.Device.CrateState, 1);
    EXPECT_EQ(form.Device.ModuleState, 1);
    EXPECT_EQ(KM808_IsOpened(&form.Device.ModuleControl), 0);
    EXPECT_EQ(QString::fromLatin1(form.Device.ModuleControl.SerialNumber), c.OpenedSerial);
    CloseModuleIfOpen(form.Device);
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
    form.HandlersBusy = true;
    QStringList reports;

    EXPECT_FALSE(DetectAll(form, "", -1, [&](const QString& t) { reports << t; }));

    EXPECT_EQ(reports, c.Reports);
    EXPECT_EQ(form.Device.CrateState, c.CrateState);
    EXPECT_EQ(form.Device.ModuleState, 0);
    EXPECT_NE(KM808_IsOpened(&form.Device.ModuleControl), 0);
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
    form.HandlersBusy = true;
    QStringList reports;
    QElapsedTimer clock;
    clock.start();

    EXPECT_FALSE(DetectAll(form, "", -1, [&](const QString& t) { reports << t; }));

    EXPECT_LT(clock.elapsed(), 9000); // one 5 s time-out and a generous margin
    EXPECT_EQ(reports, QStringList{"Не могу найти ни одного QIRA крейта!"});
    EXPECT_EQ(form.Device.ModuleState, 0);
    EXPECT_NE(KM808_IsOpened(&form.Device.ModuleControl), 0);
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
    form.HandlersBusy = true;
    ASSERT_TRUE(DetectAll(form, "QR000001", 9, [](const QString&) {}));
    form.Device.SelectedCrateIndex = 1;

    EXPECT_TRUE(ChangeCrate(form, [&] { FillModuleSelector(form); }));

    EXPECT_EQ(Items(form.ModulesComboBox), Crate3Modules);
    EXPECT_EQ(form.ModulesComboBox->currentIndex(), 0);
    EXPECT_EQ(QString::fromLatin1(form.Device.ModuleControl.SerialNumber), "KM0000103");
    EXPECT_EQ(form.Device.CrateState, 1);
    EXPECT_EQ(form.Device.ModuleState, 2);
    CloseModuleIfOpen(form.Device);
}

TEST(Discovery, CrateItemTextHoldsASixteenByteSerialWhole) {
    const char serial[16] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'};
    EXPECT_EQ(CrateItemText(15, serial), "16: ABCDEFGHIJKLMNOP");
}

} // namespace
