// The preselection of a wanted crate and slot on filled detection tables, and
// the serial texts, on a bare device state: no window, no crate server.
#include "discovery/DetectionTables.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Two crates: "A1" with modules in slots 3 and 7, "B2" (16 bytes, no
// terminator) with modules in slots 1, 5 and 9.
void FillTwoCrates(TDeviceState& d) {
    d.CrateCount = 2;
    std::memcpy(d.CrateSerials[0], "A1", 2);
    std::memcpy(d.CrateSerials[1], "B2CDEFGHIJKLMNOP", 16);
    d.ModuleCount[0] = 2;
    d.ModuleSlots[0][0] = 3;
    d.ModuleSlots[0][1] = 7;
    d.ModuleCount[1] = 3;
    d.ModuleSlots[1][0] = 1;
    d.ModuleSlots[1][1] = 5;
    d.ModuleSlots[1][2] = 9;
}

struct TWanted {
    const char* Serial;
    int16_t Slot;
    uint16_t Crate;  // expected SelectedCrateIndex
    uint16_t Module; // expected SelectedModuleIndex of that crate
};

TEST(DetectionTables, PreselectsTheWantedCrateAndSlotElseTheFirst) {
    const TWanted cases[] = {
        {"A1", 7, 0, 1},               // both found
        {"B2CDEFGHIJKLMNOP", 9, 1, 2}, // a serial of all 16 bytes
        {"B2CDEFGHIJKLMNOP", 4, 1, 0}, // slot not in that crate: its first module
        {"ZZ", 5, 0, 0},               // crate unknown: first crate, first module
        {"", -1, 0, 0},                // nothing stored
    };
    for (const TWanted& c : cases) {
        SCOPED_TRACE(std::string(c.Serial) + " slot " + std::to_string(c.Slot));
        TDeviceState d;
        FillTwoCrates(d);
        d.SelectedModuleIndex[0] = 1; // left from an earlier run
        PreselectWanted(d, QString::fromLatin1(c.Serial), c.Slot);
        EXPECT_EQ(d.SelectedCrateIndex, c.Crate);
        EXPECT_EQ(d.SelectedModuleIndex[c.Crate], c.Module);
        EXPECT_EQ(d.SelectedModuleIndex[1 - c.Crate], 0); // the others start from the first
    }
}

TEST(DetectionTables, OpeningAChoiceOutsideTheTablesFailsWithoutACall) {
    TDeviceState d;
    FillTwoCrates(d);
    d.SelectedCrateIndex = 2; // beyond CrateCount
    EXPECT_FALSE(OpenChosenModule(d));
    d.SelectedCrateIndex = 0;
    d.SelectedModuleIndex[0] = 2; // beyond that crate's ModuleCount
    EXPECT_FALSE(OpenChosenModule(d));
}

TEST(DetectionTables, FixedTextStopsAtTheTerminatorOrTheFieldSize) {
    const char full[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(FixedText(full, 16), QStringLiteral("0123456789abcdef"));
    EXPECT_EQ(FixedText("KM\0junk", 7), QStringLiteral("KM"));
}

} // namespace
