// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The simulator as the program meets it: loaded by name and bound. Each test names its own bus
// before it binds. What it does with the commands sent through it is shown by the discovery and
// update tests, which drive it the same way.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "aspi/AspiManager.h"
#include "tests/support/SimBench.h"
#include "tests/support/TestHost.h"

class SimLibrary : public ::testing::Test {
  protected:
    testing_support::TestHost host;
    testing_support::SimBench bench;
    aspi::AspiManager manager;
};

TEST_F(SimLibrary, TheBusIsReadAtBindingNotAtLoading) {
    void *handle = dlopen(aspi::kManagerLibraryName, RTLD_NOW);
    ASSERT_NE(handle, nullptr);
    bench.useBus("adapter 0 id 7\nadapter 1 id 7\nadapter 2 id 5\n");
    manager.LoadAspiManager();
    EXPECT_EQ(manager.AspiSupport(), 0x0103);
    bench.useBus("adapter 0 id 7\n");
    aspi::AspiManager second;
    second.LoadAspiManager();
    EXPECT_EQ(second.AspiSupport(), 0x0101) << "each binding reads the bus afresh";
    EXPECT_EQ(dlsym(handle, "parseBusFile"), nullptr) << "only the entry points are exported";
    EXPECT_TRUE(manager.canHoldUnits()) << "the unit hold's entry points are bound";
}

TEST_F(SimLibrary, ABadBusFileIsNamedOnStandardErrorAndLeavesNoAdapter) {
    bench.useBus("adapter 0 id 7\n\nunit 0 2 vendor \"VEK\" colour \"red\"\n");
    testing::internal::CaptureStderr();
    manager.LoadAspiManager();
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("bus.txt line 3: unknown unit keyword \"colour\""), std::string::npos)
        << message;
    EXPECT_EQ(manager.AspiSupport(), 0x0100);

    setenv("CDRW_SIM_BUS", (bench.dir() / "missing.txt").c_str(), 1);
    testing::internal::CaptureStderr();
    aspi::AspiManager second;
    second.LoadAspiManager();
    message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("cannot read the bus file"), std::string::npos) << message;
    EXPECT_EQ(second.AspiSupport(), 0x0100);
    EXPECT_TRUE(host.boxes.empty()) << "a bus without adapters binds; the list stays empty";
}
