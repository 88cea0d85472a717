// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Binding of the manager library by name. Each suite runs in its own process with
// LD_LIBRARY_PATH naming a folder that holds one form of test manager (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/DownloadMain.h"
#include "tests/aspi/BoundFakeManager.h"
#include "units/Discovery.h"

using testing_support::ProcessExit;
using testing_support::TestHost;

namespace {

// The four fatal binding failures as they must be shown; the runs of tabs and spaces belong to
// the texts of rows 2 and 4, which are 88 characters long.
struct FatalRow {
    const char *text;
    std::optional<std::string> caption;
    platform::Icon icon;
};
constexpr char kRowTwoText[] =
    "Can't get the address of GetASPI32SupportInfo \t\t\t            function from wnaspi32.DLL!";
constexpr char kRowFourText[] =
    "Can't get the address of SendASPI32Command \t\t                function from wnaspi32.DLL!";
static_assert(sizeof kRowTwoText == 88 + 1 && sizeof kRowFourText == 88 + 1);
const FatalRow kRows[] = {
    {"Can't load the ASPI Manager wnaspi32.DLL!", "Can't load !", platform::Icon::Warning},
    {kRowTwoText, std::nullopt, platform::Icon::Warning},
    {"Failure in initializing ASPI manager!!!", std::nullopt, platform::Icon::Error},
    {kRowFourText, std::nullopt, platform::Icon::Error},
};

// Constructs the main window, which binds the manager, and expects the box of table row `row`
// (1 to 4), no window shown and exit status 1.
void expectFatalBinding(int row) {
    TestHost host;
    EXPECT_THROW({ TMainForm form; }, ProcessExit);
    EXPECT_EQ(host.exitStatus, 1);
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(widget->isVisible()) << "a window was shown";
    }
    ASSERT_EQ(host.boxes.size(), 1u);
    const FatalRow &expected = kRows[row - 1];
    EXPECT_EQ(host.boxes[0].text, expected.text);
    EXPECT_EQ(host.boxes[0].caption, expected.caption);
    EXPECT_EQ(host.boxes[0].icon, expected.icon);
}

}  // namespace

TEST(BindingNoLibrary, ShowsRowOne) {
    expectFatalBinding(1);
}

TEST(BindingNoSupportInfo, ShowsRowTwo) {
    expectFatalBinding(2);
}

TEST(BindingBadStatus, StatusByteE8ShowsRowThree) {
    expectFatalBinding(3);
}

TEST(BindingNoSend, ShowsRowFourOnlyAfterTheSupportWordPassed) {
    expectFatalBinding(4);
    EXPECT_EQ(fakeManagerEntry<int (*)()>("FakeSupportAsked")(), 1);
}

using BindingGood = BoundFakeManager;

TEST_F(BindingGood, SupportWord0102Binds) {
    EXPECT_EQ(manager.AspiSupport(), 0x0102);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(host.exitStatus.has_value());
}

TEST_F(BindingGood, CommandResultAndSenseCopy) {
    using Bytes = std::vector<std::uint8_t>;
    const Bytes untouched(18, 0xEE);
    const Bytes copied(unitSense, unitSense + 18);
    struct Case {
        const char *what;
        std::uint8_t status, haStat, targStat;
        int delayMilliseconds;  // 0: the manager completes before it returns
        aspi::CommandResult result;
        const Bytes &sense;
    };
    const Case cases[] = {
        {"success", aspi::SS_COMP, 0, 0, 0, 0x0001, untouched},
        {"check condition", aspi::SS_ERR, 0, aspi::STATUS_CHKCOND, 0, 0x0204, copied},
        {"adapter status outranks the target's", aspi::SS_ERR, aspi::HASTAT_SEL_TO,
         aspi::STATUS_CHKCOND, 0, 0x1104, untouched},
        {"late success", aspi::SS_COMP, 0, 0, 30, 0x0001, untouched},
        {"late check condition", aspi::SS_ERR, 0, aspi::STATUS_CHKCOND, 30, 0x0204, copied},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setReply(c.status, c.haStat, c.targStat, 0, unitSense, c.delayMilliseconds);
        aspi::SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
        srb.SRB_SenseLen = 18;
        Bytes sense = untouched;
        EXPECT_EQ(manager.SendAndWait(srb, sense.data()), c.result);
        EXPECT_EQ(sense, c.sense);
    }
}

// One host adapter inquiry record serves every adapter of a scan. An adapter whose inquiry the
// manager leaves untouched must not pass for answered on the previous adapter's success.
TEST_F(BindingGood, AnAdapterLeftUnansweredIsNotScanned) {
    struct Lines : units::UnitListView {
        int busType() const override { return 0; }
        int firmwareVariant() const override { return 4; }
        void appendUnitLine(const std::string &line) override { lines.push_back(line); }
        std::vector<std::string> lines;
    } list;
    units::MainState state;
    state.allocateBuffers();
    state.aspi.LoadAspiManager();
    ASSERT_EQ(state.aspi.AspiSupport() & 0xFF, 2) << "two adapters";
    setReply(aspi::SS_COMP, 0, 0, 5, unitSense, 0);
    fakeManagerEntry<void (*)(int)>("FakeSetSilentFrom")(1);
    units::ScanUnits(state, list);
    fakeManagerEntry<void (*)(int)>("FakeSetSilentFrom")(256);
    ASSERT_EQ(list.lines.size(), 7u) << "targets 0 to 6 of adapter 0";
    for (const std::string &line : list.lines) {
        EXPECT_EQ(line.substr(0, 2), "0:");
    }
}

TEST_F(BindingGood, DeviceTypeResultAfterALateCompletion) {
    setReply(aspi::SS_COMP, 0, 0, 5, unitSense, 30);
    aspi::SRB_GDEVBlock dev{};
    dev.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    EXPECT_EQ(manager.SendAndWait(dev), 0x0501);
}
