// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A fixture bound to the "good" test manager, which answers every record from a reply the test
// sets and keeps a copy of the last execute record it received.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "aspi/AspiManager.h"
#include "tests/support/TestHost.h"

// An entry point of the bound test manager; null when the manager lacks it.
template <typename Fn>
Fn fakeManagerEntry(const char *name) {
    void *handle = dlopen(aspi::kManagerLibraryName, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(handle, nullptr);
    return handle == nullptr ? nullptr : reinterpret_cast<Fn>(dlsym(handle, name));
}

class BoundFakeManager : public ::testing::Test {
  protected:
    void SetUp() override {
        manager.LoadAspiManager();
        setReply = fakeManagerEntry<SetReply>("FakeSetReply");
        lastExec = fakeManagerEntry<LastExec>("FakeLastExec");
        commandCount = fakeManagerEntry<int (*)()>("FakeCommands");
        ASSERT_NE(setReply, nullptr);
        ASSERT_NE(lastExec, nullptr);
        ASSERT_NE(commandCount, nullptr);
    }

    // The last execute record the manager received, as it was handed over.
    aspi::SRB_ExecSCSICmd sent() const {
        aspi::SRB_ExecSCSICmd srb{};
        lastExec(&srb);
        return srb;
    }

    using SetReply = void (*)(std::uint8_t status, std::uint8_t haStat, std::uint8_t targStat,
                              std::uint8_t deviceType, const std::uint8_t *sense,
                              int delayMilliseconds);
    using LastExec = void (*)(aspi::SRB_ExecSCSICmd *);

    testing_support::TestHost host;
    aspi::AspiManager manager;
    SetReply setReply = nullptr;
    LastExec lastExec = nullptr;
    int (*commandCount)() = nullptr;
    // Sense data a unit reports: ILLEGAL REQUEST, INVALID FIELD IN CDB.
    const std::uint8_t unitSense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
};
