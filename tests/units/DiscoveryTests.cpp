// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Discovery on simulated buses: each test writes its bus file, binds the simulator (which reads
// the bus at binding) and scans with a recording unit list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/SimBench.h"
#include "tests/support/TestHost.h"
#include "units/Discovery.h"
#include "units/UnitLine.h"

namespace {

class RecordingList : public units::UnitListView {
  public:
    int busType() const override { return bus; }
    int firmwareVariant() const override { return variant; }
    void appendUnitLine(const std::string &line) override { lines.push_back(line); }

    int bus = 0;
    int variant = 4;
    std::vector<std::string> lines;
};

// A unit line as the list must show it: the address, 9 blanks, vendor, 7 blanks, product, 5
// blanks, revision.
std::string unitLine(const std::string &address, const std::string &vendor,
                     const std::string &product, const std::string &revision) {
    return address + std::string(9, ' ') + vendor + std::string(7, ' ') + product +
           std::string(5, ' ') + revision;
}

using Lines = std::vector<std::string>;

}  // namespace

class Discovery : public ::testing::Test {
  protected:
    // Binds the simulator to `busText` and runs the first scan.
    void bindAndScan(const std::string &busText) {
        bench.useBus(busText);
        state.allocateBuffers();
        state.aspi.LoadAspiManager();
        units::ScanUnits(state, list);
    }
    std::uint8_t eligible(int adapter, int target) const {
        return state.units.Eligible[adapter * 7 + target];
    }
    // The address part of each listed line.
    Lines addresses() const {
        Lines found;
        for (const std::string &line : list.lines) {
            found.push_back(line.substr(0, line.find(' ')));
        }
        return found;
    }

    testing_support::TestHost host;
    testing_support::SimBench bench;
    units::MainState state;
    RecordingList list;
};

// One adapter with own id 7 and a unit of each kind of entry: a vendor whose fourth byte is NUL
// (targets 0 and 5), full-width product and revision texts beside a neighbour's (1 and 2),
// trailing blanks (3), non-CD peripheral types (1 and 6), and a unit at target 7, the adapter's
// own id.
TEST_F(Discovery, EveryUnitIsListedAsItReportsItself) {
    bindAndScan(
        "adapter 0 id 7\n"
        "unit 0 0 vendor \"VEK\\0ABCD\" product \"X\" revision \"1\"\n"
        "unit 0 1 type 0 vendor \"ZAVIRONX\" product \"ABCDEFGHIJKLMNOP\" revision \"R2.5\"\n"
        "unit 0 2 vendor \"VEK\" product \"QRSTUVWXYZ012345\" revision \"9.99\"\n"
        "unit 0 3 vendor \"VEK     \" product \"CDRW 8432\" revision \"1.1\"\n"
        "unit 0 5 vendor \"VEK\\0\\0\\0\\0\\0\" product \"Y\\0Z\" revision \"1\\x002\"\n"
        "unit 0 6 type 0x1F vendor \"VEK     \" product \"ODD\" revision \"2\"\n"
        "unit 0 7 vendor \"VEK     \" product \"AT SEVEN\" revision \"1\"\n");
    EXPECT_EQ(list.lines, (Lines{unitLine("0:7:0", "VEK", "X", "1"),
                                 unitLine("0:7:1", "ZAVIRONX", "ABCDEFGHIJKLMNOP", "R2.5"),
                                 unitLine("0:7:2", "VEK", "QRSTUVWXYZ012345", "9.99"),
                                 unitLine("0:7:3", "VEK     ", "CDRW 8432", "1.1"),
                                 unitLine("0:7:5", "VEK", "Y", "1"),
                                 unitLine("0:7:6", "VEK     ", "ODD", "2")}));
    EXPECT_EQ(state.AdapterCount, 1);
    // "VEK" before the NUL matches the rule; all 8 vendor bytes are kept.
    for (int target = 0; target < 7; ++target) {
        EXPECT_EQ(eligible(0, target), target == 1 || target == 4 ? 0 : 1) << target;
    }
    EXPECT_EQ(0, std::memcmp(state.units.vendor[0][0], "VEK\0ABCD", 9));
    EXPECT_STREQ(state.units.vendor[0][3], "VEK     ");

    // Targets 0 to 6 are each asked once, in the SCSI form selected at start-up (six-byte
    // INQUIRY for 98 bytes); target 7 never.
    EXPECT_TRUE(bench.logLinesWith("target=7").empty());
    for (int target = 0; target < 7; ++target) {
        const auto asked = bench.logLinesWith("EXEC ha=0 target=" + std::to_string(target) + " ");
        ASSERT_EQ(asked.size(), 1u) << target;
        EXPECT_NE(asked[0].find("flags=0x08 buflen=98 cdblen=6 cdb=12 00 00 00 62 00 ->"),
                  std::string::npos)
            << asked[0];
    }
    EXPECT_EQ(bench.logLinesWith("GET_DEV_TYPE ha=0 target=3 lun=0 -> status=0x01").size(), 1u);
}

TEST_F(Discovery, ARescanAppendsTheUnitsAgainAndFlagsFollowTheVariant) {
    bindAndScan(
        "adapter 0 id 7\n"
        "unit 0 2 vendor \"VEK     \" product \"ONE\" revision \"1\"\n"
        "unit 0 4 vendor \"ZAV     \" product \"TWO\" revision \"2\"\n");
    ASSERT_EQ(list.lines.size(), 2u);
    EXPECT_EQ(eligible(0, 2), 1);
    EXPECT_EQ(eligible(0, 4), 0);

    list.variant = 5;
    list.bus = 1;
    units::ScanUnits(state, list);
    EXPECT_EQ(list.lines, (Lines{list.lines[0], list.lines[1], list.lines[0], list.lines[1]}));
    EXPECT_EQ(eligible(0, 2), 0);
    EXPECT_EQ(eligible(0, 4), 1);
    // The re-scan asks in the bus form selected at that moment.
    const auto asked = bench.logLinesWith("EXEC ha=0 target=2 ");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[1].find("cdblen=12 cdb=12 00 00 00 62 00 00 00 00 00 00 00"),
              std::string::npos);
}

TEST_F(Discovery, AnAdapterThatStopsAnsweringKeepsItsLinesAndFlags) {
    bindAndScan(
        "adapter 0 id 7 answers 1\n"
        "adapter 1 id 6\n"
        "unit 0 2 vendor \"VEK     \" product \"KEPT\" revision \"1\"\n"
        "unit 0 4 vendor \"ZAV     \" product \"KEPT TOO\" revision \"1\"\n"
        "unit 1 0 vendor \"ZAV     \" product \"OTHER\" revision \"1\"\n");
    ASSERT_EQ(addresses(), (Lines{"0:7:2", "0:7:4", "1:6:0"}));
    const Lines first = list.lines;

    // Variant 0 would make every unit it scans eligible.
    list.variant = 0;
    units::ScanUnits(state, list);
    EXPECT_EQ(list.lines, (Lines{first[0], first[1], first[2], first[2]}));
    EXPECT_EQ(eligible(0, 2), 1);
    EXPECT_EQ(eligible(0, 4), 0) << "adapter 0 was not scanned again";
    EXPECT_EQ(eligible(1, 0), 1);
    EXPECT_EQ(units::entryText(state.units.product[0][4], 16), "KEPT TOO");
}

TEST_F(Discovery, ATwoDigitOwnIdStillDecodesToTheRightTarget) {
    bindAndScan(
        "adapter 0 id 7\n"
        "adapter 1 id 12\n"
        "unit 1 3 vendor \"VEK     \" product \"WIDE\" revision \"1\"\n"
        "unit 1 5 vendor \"ZAV     \" product \"WIDE\" revision \"1\"\n");
    ASSERT_EQ(addresses(), (Lines{"1:12:3", "1:12:5"}));
    std::uint8_t adapter = 9;
    std::uint8_t target = 9;
    ASSERT_TRUE(units::DecodeUnitLine(list.lines[0], adapter, target));
    EXPECT_EQ(adapter, 1);
    EXPECT_EQ(target, 3) << "not the fifth character, 2";
    EXPECT_EQ(eligible(adapter, target), 1) << "leads to the eligible VEK unit";
}

TEST_F(Discovery, AtMostThreeAdaptersAreScanned) {
    bindAndScan(
        "adapter 0 id 7\nadapter 1 id 7\nadapter 2 id 7\nadapter 3 id 7\nadapter 4 id 7\n"
        "unit 2 6 vendor \"VEK\"\n"
        "unit 3 0 vendor \"VEK\"\n"
        "unit 4 1 vendor \"VEK\"\n");
    EXPECT_EQ(state.aspi.AspiSupport(), 0x0105);
    EXPECT_EQ(state.AdapterCount, 3);
    EXPECT_EQ(addresses(), Lines{"2:7:6"});
    EXPECT_TRUE(bench.logLinesWith("ha=3").empty());
    EXPECT_TRUE(bench.logLinesWith("ha=4").empty());
}

TEST(DecodeUnitLine, ReadsTheColonSeparatedAddress) {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    ASSERT_TRUE(units::DecodeUnitLine("2:7:6         VEK", adapter, target));
    EXPECT_EQ(adapter, 2);
    EXPECT_EQ(target, 6);
    ASSERT_TRUE(units::DecodeUnitLine("0:255:4", adapter, target));
    EXPECT_EQ(target, 4);

    adapter = 9;
    target = 9;
    for (const char *bad : {"", "0:7", "0:7:", ":7:3", "0;7;3", "3:7:1 ", "0:7:7", "0:7:12",
                            "0:7:3x", "00001:7:3", "a:7:3"}) {
        EXPECT_FALSE(units::DecodeUnitLine(bad, adapter, target)) << bad;
    }
    EXPECT_EQ(adapter, 9) << "outputs unchanged on refusal";
    EXPECT_EQ(target, 9);
}
