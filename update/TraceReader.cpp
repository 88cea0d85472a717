// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "update/TraceReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace update {

namespace {

constexpr unsigned kMaxAdapter = 7;
constexpr unsigned kMaxId = 15;
constexpr double kMaxMicroseconds = 1e15;  // some thirty years

// Throws the fault of a line; parseTrace names the line.
struct Fault {
    std::string what;
};

std::optional<long long> wholeNumber(const QJsonValue &value, double lowest, double highest) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!(number >= lowest && number <= highest) || std::trunc(number) != number) {
        return std::nullopt;
    }
    return static_cast<long long>(number);
}

long long number(const QJsonObject &object, const char *key, double lowest, double highest) {
    const std::optional<long long> value = wholeNumber(object.value(key), lowest, highest);
    if (!value) {
        throw Fault{std::string("\"") + key + "\" is missing or not a whole number from " +
                    std::to_string(static_cast<long long>(lowest)) + " to " +
                    std::to_string(static_cast<long long>(highest))};
    }
    return *value;
}

std::string text(const QJsonObject &object, const char *key, bool optional = false) {
    const QJsonValue value = object.value(key);
    if (optional && value.isUndefined()) {
        return {};
    }
    if (!value.isString()) {
        throw Fault{std::string("\"") + key + "\" is missing or not a text"};
    }
    return value.toString().toStdString();
}

// A unit's text: one byte per character, at most `width` of them.
std::string unitText(const QJsonObject &unit, const char *key, std::size_t width) {
    const QString value = unit.value(key).toString();
    bool bytes = unit.value(key).isString() && static_cast<std::size_t>(value.size()) <= width;
    for (const QChar c : value) {
        bytes = bytes && c.unicode() <= 0xFF;
    }
    if (!bytes) {
        throw Fault{std::string("the unit's \"") + key + "\" is missing or not a text of at most " +
                    std::to_string(width) + " bytes"};
    }
    const QByteArray latin1 = value.toLatin1();
    return std::string(latin1.constData(), static_cast<std::size_t>(latin1.size()));
}

std::optional<std::vector<std::uint8_t>> parseHex(const std::string &hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        for (const char c : {hex[i], hex[i + 1]}) {
            const char *digits = "0123456789abcdef";
            const char lower = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
            const char *at = c == '\0' ? nullptr : std::strchr(digits, lower);
            if (at == nullptr) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<unsigned>(at - digits);
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

void readFirstLine(const QJsonObject &line, Trace &trace) {
    if (line.value("trace") != QJsonValue(1)) {
        throw Fault{"not the first line of a trace of this program (\"trace\":1)"};
    }
    trace.id = text(line, "id");
    trace.program = text(line, "program");
    const QJsonObject unit = line.value("unit").toObject();
    const std::string address = text(unit, "address");
    char rest = 0;
    if (address.size() > 11 ||
        std::sscanf(address.c_str(), "%u:%u:%u%c", &trace.adapter, &trace.ownId, &trace.target,
                    &rest) != 3 ||
        trace.adapter > kMaxAdapter || trace.ownId > kMaxId || trace.target > kMaxId) {
        throw Fault{"the unit's \"address\" is not adapter:own id:target (adapter up to " +
                    std::to_string(kMaxAdapter) + ", ids up to " + std::to_string(kMaxId) + ")"};
    }
    trace.address = address;
    trace.vendor = unitText(unit, "vendor", 8);
    trace.product = unitText(unit, "product", 16);
    trace.revision = unitText(unit, "revision", 4);
    trace.transport = text(unit, "transport", true);
}

TraceCommand readCommand(const QJsonObject &line, std::size_t index) {
    TraceCommand command;
    if (number(line, "command", 1, 1e12) != static_cast<long long>(index)) {
        throw Fault{"\"command\" is not " + std::to_string(index) + ", the next in order"};
    }
    const std::optional<std::vector<std::uint8_t>> cdb = parseHex(text(line, "cdb"));
    if (!cdb || cdb->size() < 6 || cdb->size() > 16) {
        throw Fault{"\"cdb\" is not 6 to 16 bytes in hex"};
    }
    command.cdb = *cdb;
    command.direction = text(line, "direction");
    if (command.direction != "out" && command.direction != "in" && command.direction != "none") {
        throw Fault{"\"direction\" is not out, in or none"};
    }
    command.length = static_cast<std::uint32_t>(number(line, "length", 0, 0xFFFFFFFF));
    command.dataSha256 = text(line, "data_sha256", true);
    const std::optional<std::vector<std::uint8_t>> digest = parseHex(command.dataSha256);
    if (!digest || (!digest->empty() && digest->size() != 32)) {
        throw Fault{"\"data_sha256\" is not a SHA-256 in hex"};
    }
    // A request still pending (status 0) never ends up in a trace.
    command.aspiStatus = static_cast<std::uint8_t>(number(line, "aspi_status", 1, 0xFF));
    command.hostAdapterStatus =
        static_cast<std::uint8_t>(number(line, "host_adapter_status", 0, 0xFF));
    command.targetStatus = static_cast<std::uint8_t>(number(line, "target_status", 0, 0xFF));
    if (line.contains("sense")) {
        const std::optional<std::vector<std::uint8_t>> sense = parseHex(text(line, "sense"));
        if (!sense || sense->size() != 18) {
            throw Fault{"\"sense\" is not 18 bytes in hex"};
        }
        command.sense.emplace();
        std::copy(sense->begin(), sense->end(), command.sense->begin());
    }
    command.atMicroseconds = number(line, "at_us", 0, kMaxMicroseconds);
    command.durationMicroseconds = number(line, "duration_us", 0, kMaxMicroseconds);
    command.answer = text(line, "answer", true);
    if (line.contains("answer") && command.answer != "retry" && command.answer != "ignore" &&
        command.answer != "stop") {
        throw Fault{"\"answer\" is not retry, ignore or stop"};
    }
    return command;
}

}  // namespace

TraceParse parseTrace(std::string_view text) {
    TraceParse result;
    if (text.size() > kMaxTraceBytes) {
        result.errorLine = 1;
        result.error = "the file is larger than a trace can be (" +
                       std::to_string(kMaxTraceBytes >> 20) + " MiB)";
        return result;
    }
    Trace trace;
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size(); ++number) {
        result.errorLine = number + 1;
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            result.error = "the line is cut short (no line end): the trace is incomplete";
            return result;
        }
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() > kMaxTraceLine) {
            result.error = "the line is longer than a trace's lines can be";
            return result;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(
            QByteArray(line.data(), static_cast<qsizetype>(line.size())), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            result.error = "the line is not a JSON object";
            return result;
        }
        try {
            if (number == 0) {
                readFirstLine(document.object(), trace);
            } else {
                trace.commands.push_back(readCommand(document.object(), number));
            }
        } catch (const Fault &fault) {
            result.error = fault.what;
            return result;
        }
    }
    if (number == 0) {
        result.errorLine = 1;
        result.error = "the file is empty";
        return result;
    }
    result.errorLine = 0;
    result.trace = std::move(trace);
    return result;
}

TraceParse readTrace(const std::string &path) {
    TraceParse result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat entry {};
    if (fd < 0 || ::fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode)) {
        result.error = fd < 0 ? std::string("it cannot be opened: ") + std::strerror(errno)
                              : "it is not a regular file";
        if (fd >= 0) {
            ::close(fd);
        }
        return result;
    }
    std::string text;
    char buffer[65536];
    ssize_t count = 0;
    while (text.size() <= kMaxTraceBytes && (count = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    const int error = errno;
    ::close(fd);
    if (count < 0) {
        result.error = std::string("it cannot be read: ") + std::strerror(error);
        return result;
    }
    return parseTrace(text);
}

}  // namespace update
