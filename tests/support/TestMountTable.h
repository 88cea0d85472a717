// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A mount table of the test's own, in force while the object lives: volume tests then need no
// real mount table (a build chroot that is not a mount point has none holding its folders).
#pragma once

#include <utility>
#include <vector>

#include "platform/MountTable.h"

namespace testing_support {

class TestMountTable : public platform::MountTable {
  public:
    explicit TestMountTable(std::vector<platform::MountEntry> entries)
        : m_entries(std::move(entries)) {
        platform::installMountTable(this);
    }
    ~TestMountTable() override { platform::installMountTable(nullptr); }
    TestMountTable(const TestMountTable &) = delete;
    TestMountTable &operator=(const TestMountTable &) = delete;

    std::vector<platform::MountEntry> mounted() const override { return m_entries; }

  private:
    std::vector<platform::MountEntry> m_entries;
};

}  // namespace testing_support
