// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program's side of the manager's unit hold (HoldUnitForUpdate / ReleaseUnitForUpdate): an
// object whose lifetime is the hold, so that the update guard that owns it lets go of the unit
// however the update ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "aspi/AspiManager.h"
#include "platform/UnitHold.h"

namespace aspi {

class ManagerUnitHold final : public platform::UnitHold {
  public:
    // Asks the manager to hold the unit at (adapter, target, LUN 0) and stores the manager's
    // answer in `status`. Returns the hold when the answer is SS_COMP, else null (nothing is held).
    // The manager must have the hold's entry points (AspiManager::canHoldUnits()) and outlive the
    // hold.
    static std::unique_ptr<ManagerUnitHold> take(const AspiManager &manager, std::uint8_t adapter,
                                                 std::uint8_t target, std::uint32_t &status);
    // Asks the manager to let go of the unit.
    ~ManagerUnitHold() override;
    ManagerUnitHold(const ManagerUnitHold &) = delete;
    ManagerUnitHold &operator=(const ManagerUnitHold &) = delete;

    // The descriptors that appeared in /proc/self/fd while the manager took the hold. Another
    // thread that opens a file at that very moment would be counted too; the program opens
    // nothing else while it takes the hold.
    std::vector<int> descriptors() const override { return m_descriptors; }
    std::string unitName() const override { return nameOf(m_manager, m_adapter, m_target); }

    // The name of the unit at (adapter, target) of `manager` for UnitHold::unitName(). A
    // simulated unit's name differs from the real unit's at the same address, so that the keeper
    // of a rehearsal is never taken for that of a real update, nor the other way round.
    static std::string nameOf(const AspiManager &manager, std::uint8_t adapter,
                              std::uint8_t target);

  private:
    ManagerUnitHold(const AspiManager &manager, std::uint8_t adapter, std::uint8_t target,
                    std::vector<int> descriptors);

    const AspiManager &m_manager;
    std::uint8_t m_adapter;
    std::uint8_t m_target;
    std::vector<int> m_descriptors;
};

}  // namespace aspi
