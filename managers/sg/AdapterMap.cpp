// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/AdapterMap.h"

#include <algorithm>
#include <tuple>

namespace sg {

namespace {

bool holdsCdUnit(const Adapter &adapter) {
    return std::any_of(adapter.units.begin(), adapter.units.end(),
                       [](const ScsiDevice &unit) { return unit.type == kTypeCdDvd; });
}

}  // namespace

std::vector<Adapter> numberAdapters(const std::vector<ScsiDevice> &devices) {
    std::vector<Adapter> adapters;
    for (const ScsiDevice &device : devices) {
        if (device.lun != 0 || device.id > 0xFF) {
            continue;
        }
        auto adapter = std::find_if(adapters.begin(), adapters.end(), [&](const Adapter &a) {
            return a.host == device.host && a.channel == device.channel;
        });
        if (adapter == adapters.end()) {
            adapter = adapters.insert(adapters.end(), Adapter{device.host, device.channel, {}});
        }
        adapter->units.push_back(device);
    }
    for (Adapter &adapter : adapters) {
        std::sort(adapter.units.begin(), adapter.units.end(),
                  [](const ScsiDevice &a, const ScsiDevice &b) { return a.id < b.id; });
    }
    std::sort(adapters.begin(), adapters.end(), [](const Adapter &a, const Adapter &b) {
        return std::tuple(!holdsCdUnit(a), a.host, a.channel) <
               std::tuple(!holdsCdUnit(b), b.host, b.channel);
    });
    if (adapters.size() > kMaxAdapters) {
        adapters.resize(kMaxAdapters);
    }
    return adapters;
}

const ScsiDevice *findUnit(const Adapter &adapter, std::uint8_t target, std::uint8_t lun) {
    if (lun != 0) {
        return nullptr;
    }
    const auto unit = std::find_if(adapter.units.begin(), adapter.units.end(),
                                   [&](const ScsiDevice &u) { return u.id == target; });
    return unit == adapter.units.end() ? nullptr : &*unit;
}

}  // namespace sg
