// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "aspi/UnitHold.h"

#include <dirent.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace aspi {

namespace {

// The process's open descriptors, ascending, without the one that lists them; empty when /proc
// is not mounted.
std::vector<int> openDescriptors() {
    std::vector<int> descriptors;
    const std::unique_ptr<DIR, int (*)(DIR *)> folder(::opendir("/proc/self/fd"), ::closedir);
    if (!folder) {
        return descriptors;
    }
    const int own = ::dirfd(folder.get());
    while (const dirent *entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos &&
            std::stoi(name) != own) {
            descriptors.push_back(std::stoi(name));
        }
    }
    std::sort(descriptors.begin(), descriptors.end());
    return descriptors;
}

}  // namespace

std::unique_ptr<ManagerUnitHold> ManagerUnitHold::take(const AspiManager &manager,
                                                       std::uint8_t adapter, std::uint8_t target,
                                                       std::uint32_t &status) {
    const std::vector<int> before = openDescriptors();
    status = manager.HoldUnitForUpdate(adapter, target, 0);
    if (status != SS_COMP) {
        return nullptr;
    }
    const std::vector<int> after = openDescriptors();
    std::vector<int> opened;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(opened));
    return std::unique_ptr<ManagerUnitHold>(
        new ManagerUnitHold(manager, adapter, target, std::move(opened)));
}

ManagerUnitHold::ManagerUnitHold(const AspiManager &manager, std::uint8_t adapter,
                                 std::uint8_t target, std::vector<int> descriptors)
    : m_manager(manager),
      m_adapter(adapter),
      m_target(target),
      m_descriptors(std::move(descriptors)) {}

std::string ManagerUnitHold::nameOf(const AspiManager &manager, std::uint8_t adapter,
                                    std::uint8_t target) {
    return (manager.simulated() ? "simulated " : "") + std::to_string(adapter) + ":" +
           std::to_string(target);
}

ManagerUnitHold::~ManagerUnitHold() {
    m_manager.ReleaseUnitForUpdate(m_adapter, m_target, 0);
}

}  // namespace aspi
