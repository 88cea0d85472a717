// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/SysfsScan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <fstream>
#include <optional>
#include <system_error>
#include <tuple>
#include <utility>

namespace fs = std::filesystem;

namespace sg {

namespace {

// Parses a whole decimal number; nullopt when the text is anything else.
std::optional<int> parseNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// Attributes are at most a page; more is not read.
constexpr std::streamsize kAttributeLimit = 4096;

// The bytes of a small sysfs attribute file; nullopt when it cannot be opened or read.
std::optional<std::string> readAttribute(const fs::path &file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(kAttributeLimit), '\0');
    stream.read(text.data(), kAttributeLimit);
    if (stream.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(stream.gcount()));
    return text;
}

// The first line of an attribute's text, without its line end and trailing blanks.
std::string_view firstLine(std::string_view text) {
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    return text;
}

// Fills host, channel, id and LUN from "H:C:I:L".
bool parseAddress(std::string_view text, ScsiDevice &device) {
    std::array<int *, 4> fields = {&device.host, &device.channel, &device.id, &device.lun};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t colon = text.find(':');
        const bool last = i + 1 == fields.size();
        if (last != (colon == std::string_view::npos)) {
            return false;
        }
        const auto number = parseNumber(text.substr(0, colon));
        if (!number) {
            return false;
        }
        *fields[i] = *number;
        text = last ? std::string_view() : text.substr(colon + 1);
    }
    return true;
}

// The number of an "sgN" entry, for ordering; entries of another form sort last.
int entryNumber(const std::string &name) {
    if (name.rfind("sg", 0) != 0) {
        return INT_MAX;
    }
    return parseNumber(std::string_view(name).substr(2)).value_or(INT_MAX);
}

// The name of the block device a SCSI device's driver made for it: the one entry of its block
// folder ("sr0"); empty without a block driver.
std::string blockDeviceName(const fs::path &device) {
    std::error_code error;
    fs::directory_iterator entries(device / "block", error);
    if (error || entries == fs::directory_iterator()) {
        return {};
    }
    return entries->path().filename().string();
}

// A folder name made of `prefix` and a decimal number: "ata3", "host0".
bool isNumbered(const std::string &name, std::string_view prefix) {
    return name.size() > prefix.size() && name.rfind(prefix, 0) == 0 &&
           parseNumber(std::string_view(name).substr(prefix.size())).has_value();
}

// A four-digit hexadecimal USB id attribute ("152d"); nullopt for anything else.
std::optional<std::uint16_t> usbId(const fs::path &file) {
    const std::optional<std::string> text = readAttribute(file);
    if (!text) {
        return std::nullopt;
    }
    const std::string_view digits = firstLine(*text);
    unsigned value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
        value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

aspi::TransportInfo transportOf(const fs::path &deviceFolder) {
    bool host = false;
    bool ata = false;
    bool usb = false;
    bool usbDevice = false;  // the nearest USB device above the host was found
    aspi::TransportInfo info;
    std::error_code error;
    for (fs::path folder = deviceFolder.parent_path();
         folder.has_relative_path() && folder.filename() != "devices";
         folder = folder.parent_path()) {
        const std::string name = folder.filename().string();
        if (isNumbered(name, "host")) {
            host = true;
            // The mass-storage drivers make the host on the bridge's USB interface.
            const std::string driver =
                fs::read_symlink(folder.parent_path() / "driver", error).filename().string();
            usb = usb || driver == "usb-storage" || driver == "uas";
        }
        ata = ata || isNumbered(name, "ata");
        if (host && !usbDevice) {
            const auto vendor = usbId(folder / "idVendor");
            const auto product = usbId(folder / "idProduct");
            if (vendor && product) {
                usb = usbDevice = true;
                info.usbVendor = *vendor;
                info.usbProduct = *product;
            }
        }
    }
    if (usb) {
        info.kind = aspi::Transport::Usb;
        return info;
    }
    info = {};
    info.kind = ata    ? aspi::Transport::Ata
                : host ? aspi::Transport::Scsi
                       : aspi::Transport::Unknown;
    return info;
}

std::optional<ScsiDevice> deviceFromTexts(std::string name, std::string_view address,
                                          std::optional<std::string_view> typeText) {
    ScsiDevice device;
    device.name = std::move(name);
    if (!parseAddress(address, device)) {
        return std::nullopt;
    }
    if (typeText) {
        device.type = parseNumber(firstLine(*typeText)).value_or(kTypeUnknown);
    }
    return device;
}

void sortByEntryNumber(std::vector<ScsiDevice> &devices) {
    std::sort(devices.begin(), devices.end(), [](const ScsiDevice &a, const ScsiDevice &b) {
        return std::tuple(entryNumber(a.name), a.name) < std::tuple(entryNumber(b.name), b.name);
    });
}

std::string driverNameFromText(std::optional<std::string_view> procNameText, int host) {
    const std::string_view name = procNameText ? firstLine(*procNameText) : std::string_view();
    return name.empty() ? "host" + std::to_string(host) : std::string(name);
}

std::vector<ScsiDevice> scanScsiGeneric(const fs::path &sysfsRoot) {
    std::vector<ScsiDevice> devices;
    std::error_code error;
    fs::directory_iterator entries(sysfsRoot / "class" / "scsi_generic", error);
    if (error) {
        return devices;
    }
    for (const fs::directory_entry &entry : entries) {
        const fs::path target = fs::canonical(entry.path() / "device", error);
        if (error) {
            continue;
        }
        const std::optional<std::string> type = readAttribute(target / "type");
        if (auto device = deviceFromTexts(entry.path().filename().string(),
                                          target.filename().string(), type)) {
            device->blockName = blockDeviceName(target);
            device->transport = transportOf(target);
            devices.push_back(std::move(*device));
        }
    }
    sortByEntryNumber(devices);
    return devices;
}

bool genericDriverLoaded(const fs::path &sysfsRoot) {
    std::error_code error;
    const fs::directory_iterator entries(sysfsRoot / "class" / "scsi_generic", error);
    return !error;
}

std::string hostDriverName(const fs::path &sysfsRoot, int host) {
    const std::string hostName = "host" + std::to_string(host);
    return driverNameFromText(
        readAttribute(sysfsRoot / "class" / "scsi_host" / hostName / "proc_name"), host);
}

}  // namespace sg
