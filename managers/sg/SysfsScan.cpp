#include "managers/sg/SysfsScan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <fstream>
#include <optional>
#include <system_error>
#include <tuple>

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

// The first line of a small sysfs attribute file, without its line end.
std::optional<std::string> readLine(const fs::path &file) {
    std::ifstream stream(file);
    std::string line;
    if (!stream || !std::getline(stream, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
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

}  // namespace

std::vector<ScsiDevice> scanScsiGeneric(const fs::path &sysfsRoot) {
    std::vector<ScsiDevice> devices;
    std::error_code error;
    fs::directory_iterator entries(sysfsRoot / "class" / "scsi_generic", error);
    if (error) {
        return devices;
    }
    for (const fs::directory_entry &entry : entries) {
        ScsiDevice device;
        device.name = entry.path().filename().string();
        const fs::path target = fs::canonical(entry.path() / "device", error);
        if (error || !parseAddress(target.filename().string(), device)) {
            continue;
        }
        if (const auto type = readLine(target / "type")) {
            device.type = parseNumber(*type).value_or(kTypeUnknown);
        }
        devices.push_back(device);
    }
    std::sort(devices.begin(), devices.end(), [](const ScsiDevice &a, const ScsiDevice &b) {
        return std::tuple(entryNumber(a.name), a.name) < std::tuple(entryNumber(b.name), b.name);
    });
    return devices;
}

std::string hostDriverName(const fs::path &sysfsRoot, int host) {
    const std::string hostName = "host" + std::to_string(host);
    const auto name = readLine(sysfsRoot / "class" / "scsi_host" / hostName / "proc_name");
    return name && !name->empty() ? *name : hostName;
}

}  // namespace sg
