// The main window's unit list on simulated buses: start-up with no answering adapter, and the
// re-scan that a variant change runs.
#include <gtest/gtest.h>

#include "app/DownloadMain.h"
#include "app/UnitLine.h"
#include "app/WindowSetup.h"
#include "tests/support/SimBench.h"
#include "tests/support/TestHost.h"

namespace {

std::string lineAt(const TMainForm &form, int row) {
    return app::ansiBytes(form.DrivesList->item(row)->text());
}

}  // namespace

TEST(DiscoveryWindow, NoAdapterAnsweringGivesAnEmptyListAndADisabledUpdate) {
    testing_support::TestHost host;
    testing_support::SimBench bench;
    bench.useBus("adapter 0 id 7 fails\nunit 0 2 vendor \"VEK\"\n");
    TMainForm form;
    EXPECT_EQ(form.DrivesList->count(), 0);
    EXPECT_FALSE(form.Update->isEnabled());
    EXPECT_TRUE(host.boxes.empty()) << "discovery reports nothing";
}

TEST(DiscoveryWindow, AVariantChangeListsEveryUnitAgainAndLeavesSelectionAndUpdate) {
    testing_support::TestHost host;
    testing_support::SimBench bench;
    bench.useBus(
        "adapter 0 id 7\n"
        "unit 0 2 vendor \"VEK     \" product \"ONE\" revision \"1.00\"\n"
        "unit 0 4 vendor \"ZAV     \" product \"TWO\" revision \"2.00\"\n");
    TMainForm form;
    ASSERT_EQ(form.DrivesList->count(), 2);
    EXPECT_TRUE(form.Update->isEnabled());
    EXPECT_EQ(form.DrivesList->currentRow(), 0);
    EXPECT_EQ(form.state.units.Eligible[2], 1);
    EXPECT_EQ(form.state.units.Eligible[4], 0);
    form.DrivesList->setCurrentRow(1);

    form.RadioItems[5]->click();  // "For HUP": ZAV units
    ASSERT_EQ(form.DrivesList->count(), 4);
    EXPECT_EQ(lineAt(form, 2), lineAt(form, 0));
    EXPECT_EQ(lineAt(form, 3), lineAt(form, 1));
    EXPECT_EQ(form.DrivesList->currentRow(), 1);
    EXPECT_TRUE(form.Update->isEnabled());
    EXPECT_EQ(form.state.units.Eligible[2], 0);
    EXPECT_EQ(form.state.units.Eligible[4], 1);
    // The first scan ran with the SCSI form, the re-scan with ATAPI, selected after start-up.
    const auto asked = bench.logLinesWith("EXEC ha=0 target=4 ");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("cdblen=6 "), std::string::npos);
    EXPECT_NE(asked[1].find("cdblen=12 "), std::string::npos);

    // Whichever copy is selected, it decodes to the same unit.
    std::uint8_t adapter = 9;
    std::uint8_t target = 9;
    ASSERT_TRUE(app::DecodeUnitLine(lineAt(form, 3), adapter, target));
    EXPECT_EQ(adapter, 0);
    EXPECT_EQ(target, 4);
}
