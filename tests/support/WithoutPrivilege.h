// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A test's stand-in for an ordinary user.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

namespace testing_support {

// While it lives, file modes stop the test's writes as they stop a user's: as root, whose writes
// no mode stops, the effective user is nobody's.
class WithoutPrivilege {
  public:
    WithoutPrivilege() : m_root(::geteuid() == 0) {
        if (m_root) {
            EXPECT_EQ(::seteuid(kNobody), 0);
        }
    }
    ~WithoutPrivilege() {
        if (m_root) {
            EXPECT_EQ(::seteuid(0), 0);
        }
    }
    WithoutPrivilege(const WithoutPrivilege &) = delete;
    WithoutPrivilege &operator=(const WithoutPrivilege &) = delete;

    static constexpr uid_t kNobody = 65534;

  private:
    bool m_root;
};

}  // namespace testing_support
