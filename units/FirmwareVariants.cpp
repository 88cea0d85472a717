// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "units/FirmwareVariants.h"

namespace units {

namespace {

const FirmwareVariantInfo *variantInfo(int variant) {
    if (variant < 0 || variant >= static_cast<int>(kFirmwareVariants.size())) {
        return nullptr;
    }
    return &kFirmwareVariants[static_cast<std::size_t>(variant)];
}

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

constexpr std::size_t kCodeLength = 3;

}  // namespace

char ansiUpper(char c) {
    const auto code = static_cast<unsigned char>(c);
    const bool asciiLower = code >= 'a' && code <= 'z';
    const bool latinLower = code >= 0xE0 && code <= 0xFE && code != 0xF7;
    return asciiLower || latinLower ? static_cast<char>(code - 0x20) : c;
}

std::string normalisedVendor(std::string_view vendor) {
    std::size_t first = 0;
    std::size_t last = vendor.size();
    while (first < last && isBlankOrControl(vendor[first])) {
        ++first;
    }
    while (last > first && isBlankOrControl(vendor[last - 1])) {
        --last;
    }
    std::string text(vendor.substr(first, last - first));
    for (char &c : text) {
        c = ansiUpper(c);
    }
    return text;
}

void CheckUnitEligibility(UnitTable &units, int variant, int adapter, int target,
                          std::string_view vendor) {
    const FirmwareVariantInfo *info = variantInfo(variant);
    if (info == nullptr || adapter < 0 || adapter >= kTableAdapters || target < 0 ||
        target >= kTableTargets) {
        return;
    }
    if (info->vendorWord == nullptr || normalisedVendor(vendor) == info->vendorWord) {
        units.Eligible[adapter * kTableTargets + target] = 1;
    }
}

bool IsFileNameAccepted(int variant, std::string_view name) {
    const FirmwareVariantInfo *info = variantInfo(variant);
    if (info == nullptr) {
        return false;
    }
    if (info->lowerCode == nullptr) {
        return true;
    }
    const std::string_view prefix = name.substr(0, kCodeLength);
    return prefix.size() == kCodeLength && (prefix == info->lowerCode || prefix == info->upperCode);
}

const char *aboutTitle(int variant) {
    const FirmwareVariantInfo *info = variantInfo(variant);
    return info == nullptr ? "" : info->aboutTitle;
}

}  // namespace units
