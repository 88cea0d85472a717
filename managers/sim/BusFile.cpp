// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sim/BusFile.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "aspi/AspiRecords.h"

namespace sim {

const char *const kDefaultBusText = R"(# The built-in bus.
adapter 0 id 7
adapter 1 id 7
unit 0 2 type 5 vendor "VEK     " product "CDRW 8432       " revision "1.10" newrevision "1.20"
unit 0 4 type 5 vendor "ZAV     " product "CD-RW ZR-1210   " revision "2.03"
unit 1 0 type 5 vendor "VEK     " product "CDRW 4824 A     " revision "1.32"
)";

namespace {

constexpr unsigned kMaxTarget = 15;
constexpr unsigned kMaxAdapters = 255;  // the adapter count is one byte of the support word

// A fault in the line being read; carries its message to parseBusFile.
struct LineError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Token {
    std::string text;
    bool quoted = false;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Reads a quoted text starting after its opening quote; `pos` ends after the closing quote.
std::string readQuoted(std::string_view line, std::size_t &pos) {
    std::string text;
    while (pos < line.size() && line[pos] != '"') {
        char c = line[pos++];
        if (c == '\\') {
            if (pos >= line.size()) {
                break;
            }
            const char escape = line[pos++];
            if (escape == '\\' || escape == '"') {
                c = escape;
            } else if (escape == '0') {
                c = '\0';
            } else if (escape == 'x' && pos + 1 < line.size() && hexDigit(line[pos]) >= 0 &&
                       hexDigit(line[pos + 1]) >= 0) {
                c = static_cast<char>(hexDigit(line[pos]) * 16 + hexDigit(line[pos + 1]));
                pos += 2;
            } else {
                throw LineError("unknown escape in text (use \\\" \\\\ \\0 or \\xHH)");
            }
        }
        text.push_back(c);
    }
    if (pos >= line.size()) {
        throw LineError("text without closing quote");
    }
    ++pos;
    return text;
}

std::vector<Token> tokenize(std::string_view line) {
    std::vector<Token> tokens;
    std::size_t pos = 0;
    while (true) {
        while (pos < line.size() && isSpace(line[pos])) {
            ++pos;
        }
        if (pos >= line.size() || line[pos] == '#') {
            return tokens;
        }
        if (line[pos] == '"') {
            ++pos;
            tokens.push_back({readQuoted(line, pos), true});
            continue;
        }
        const std::size_t start = pos;
        while (pos < line.size() && !isSpace(line[pos]) && line[pos] != '#' && line[pos] != '"') {
            ++pos;
        }
        tokens.push_back({std::string(line.substr(start, pos - start)), false});
    }
}

// Walks the tokens of one line.
class Cursor {
  public:
    explicit Cursor(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    bool atEnd() const { return m_next >= m_tokens.size(); }

    const Token &take(const char *what) {
        if (atEnd()) {
            throw LineError(std::string("missing ") + what);
        }
        return m_tokens[m_next++];
    }

    std::string word(const char *what) {
        const Token &token = take(what);
        if (token.quoted) {
            throw LineError(std::string("expected ") + what + ", found a quoted text");
        }
        return token.text;
    }

    // A decimal or 0x-hexadecimal number no larger than `max`.
    unsigned number(const char *what, unsigned max) {
        const std::string text = word(what);
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        return parseDigits(what, hex ? text.substr(2) : text, hex ? 16 : 10, max);
    }

    // A byte in hexadecimal, with or without "0x".
    std::uint8_t hexByte(const char *what) {
        std::string text = word(what);
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            text = text.substr(2);
        }
        return static_cast<std::uint8_t>(parseDigits(what, text, 16, 0xFF));
    }

    template <std::size_t N>
    std::array<std::uint8_t, N> text(const char *what) {
        const Token &token = take(what);
        if (!token.quoted) {
            throw LineError(std::string(what) + " must be a quoted text");
        }
        if (token.text.size() > N) {
            throw LineError(std::string(what) + " is longer than " + std::to_string(N) + " bytes");
        }
        // The loop is bounded by N itself: g++ 12 at -O2 does not carry the length check above
        // into a std::copy and warns of a write past the array (-Wstringop-overflow).
        std::array<std::uint8_t, N> bytes{};
        for (std::size_t i = 0; i < N && i < token.text.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(token.text[i]);
        }
        return bytes;
    }

  private:
    static unsigned parseDigits(const char *what, const std::string &digits, int base,
                                unsigned max) {
        if (digits.empty()) {
            throw LineError(std::string("bad number for ") + what);
        }
        unsigned long long value = 0;
        for (const char c : digits) {
            const int digit = hexDigit(c);
            if (digit < 0 || digit >= base) {
                throw LineError(std::string("bad number for ") + what + ": " + digits);
            }
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
            if (value > max) {
                throw LineError(std::string(what) + " is larger than " + std::to_string(max));
            }
        }
        return static_cast<unsigned>(value);
    }

    std::vector<Token> m_tokens;
    std::size_t m_next = 0;
};

void parseAdapter(Cursor &cursor, BusDescription &bus) {
    const unsigned number = cursor.number("adapter number", kMaxAdapters - 1);
    if (number != bus.adapters.size()) {
        throw LineError("adapter " + std::to_string(number) + " out of order; expected adapter " +
                        std::to_string(bus.adapters.size()));
    }
    if (cursor.word("\"id\"") != "id") {
        throw LineError("expected \"id\" after the adapter number");
    }
    AdapterDescription adapter;
    adapter.ownId = static_cast<std::uint8_t>(cursor.number("own id", 0xFF));
    while (!cursor.atEnd()) {
        const std::string key = cursor.word("keyword");
        if (key == "fails") {
            adapter.failsInquiry = true;
        } else if (key == "answers") {
            adapter.answeredInquiries = cursor.number("answers count", 0xFFFF);
        } else {
            throw LineError("unknown adapter keyword \"" + key + "\"");
        }
    }
    bus.adapters.push_back(adapter);
}

// Reads "<adapter> <target>" and checks that the adapter is declared.
std::pair<std::uint8_t, std::uint8_t> readAddress(Cursor &cursor, const BusDescription &bus) {
    const unsigned adapter = cursor.number("adapter number", kMaxAdapters - 1);
    if (adapter >= bus.adapters.size()) {
        throw LineError("adapter " + std::to_string(adapter) + " is not declared");
    }
    const unsigned target = cursor.number("target id", kMaxTarget);
    return {static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target)};
}

bool hasUnit(const BusDescription &bus, std::uint8_t adapter, std::uint8_t target) {
    return std::any_of(bus.units.begin(), bus.units.end(), [&](const UnitDescription &unit) {
        return unit.adapter == adapter && unit.target == target;
    });
}

// "ata", "scsi", "unknown" or "usb <vvvv>:<pppp>".
aspi::TransportInfo readTransport(Cursor &cursor) {
    const std::string kind = cursor.word("transport");
    for (const auto known :
         {aspi::Transport::Ata, aspi::Transport::Scsi, aspi::Transport::Unknown}) {
        if (kind == aspi::transportName(known)) {
            return {known, 0, 0};
        }
    }
    if (kind != "usb") {
        throw LineError("unknown transport \"" + kind + "\" (expected ata, scsi, usb or unknown)");
    }
    const std::string id = cursor.word("USB id");
    const std::size_t colon = id.find(':');
    if (id.size() != 9 || colon != 4 ||
        id.find_first_not_of("0123456789abcdefABCDEF:") != std::string::npos ||
        id.find(':', 5) != std::string::npos) {
        throw LineError("usb takes the bridge's id as vvvv:pppp in hexadecimal, such as 152d:0578");
    }
    return {aspi::Transport::Usb,
            static_cast<std::uint16_t>(std::stoul(id.substr(0, 4), nullptr, 16)),
            static_cast<std::uint16_t>(std::stoul(id.substr(5), nullptr, 16))};
}

void parseUnit(Cursor &cursor, BusDescription &bus) {
    UnitDescription unit;
    std::tie(unit.adapter, unit.target) = readAddress(cursor, bus);
    if (hasUnit(bus, unit.adapter, unit.target)) {
        throw LineError("a unit at this address is already declared");
    }
    while (!cursor.atEnd()) {
        const std::string key = cursor.word("keyword");
        if (key == "type") {
            unit.deviceType = static_cast<std::uint8_t>(cursor.number("type", 0x1F));
        } else if (key == "vendor") {
            unit.vendor = cursor.text<kVendorLength>("vendor");
        } else if (key == "product") {
            unit.product = cursor.text<kProductLength>("product");
        } else if (key == "revision") {
            unit.revision = cursor.text<kRevisionLength>("revision");
        } else if (key == "newrevision") {
            unit.newRevision = cursor.text<kRevisionLength>("newrevision");
        } else if (key == "blocktime") {
            unit.blockMilliseconds = cursor.number("blocktime", kMaxBlockMilliseconds);
        } else if (key == "held") {
            unit.heldElsewhere = true;
        } else if (key == "transport") {
            unit.transport = readTransport(cursor);
        } else {
            throw LineError("unknown unit keyword \"" + key + "\"");
        }
    }
    bus.units.push_back(unit);
}

void parseFailure(Cursor &cursor, BusDescription &bus) {
    BlockFailure failure;
    std::tie(failure.adapter, failure.target) = readAddress(cursor, bus);
    if (!hasUnit(bus, failure.adapter, failure.target)) {
        throw LineError("no unit is declared at this address");
    }
    bool haveOffset = false;
    bool residual = false;
    bool statusGiven = false;
    bool srbStatusGiven = false;
    bool targStatGiven = false;
    while (!cursor.atEnd()) {
        const std::string key = cursor.word("keyword");
        statusGiven = statusGiven || key == "status" || key == "hastat" || key == "targstat" ||
                      key == "sense";
        srbStatusGiven = srbStatusGiven || key == "status";
        targStatGiven = targStatGiven || key == "targstat";
        if (key == "offset") {
            failure.offset = cursor.number("offset", 0xFFFFFF);
            haveOffset = true;
        } else if (key == "attempts") {
            failure.attempts = cursor.number("attempts", 0xFFFF);
        } else if (key == "residual") {
            // The unit ends the block GOOD having taken none of it; the real manager reports
            // that residual as a data over-run/under-run, and so does the simulator.
            residual = true;
            failure.status = aspi::SS_ABORTED;
            failure.haStat = aspi::HASTAT_DO_DU;
            failure.targStat = 0;
        } else if (key == "status") {
            failure.status = static_cast<std::uint8_t>(cursor.number("status", 0xFF));
        } else if (key == "hastat") {
            failure.haStat = static_cast<std::uint8_t>(cursor.number("hastat", 0xFF));
        } else if (key == "targstat") {
            failure.targStat = static_cast<std::uint8_t>(cursor.number("targstat", 0xFF));
        } else if (key == "sense") {
            for (std::uint8_t &byte : failure.sense) {
                byte = cursor.hexByte("sense byte (18 are needed)");
            }
        } else {
            throw LineError("unknown fail keyword \"" + key + "\"");
        }
    }
    if (!haveOffset) {
        throw LineError("fail needs an offset");
    }
    if (residual && statusGiven) {
        throw LineError("residual takes no status, hastat, targstat or sense");
    }
    if (failure.haStat != 0 && !residual) {
        // A failure on the host side: aborted, with no target status, as the real manager
        // reports it, unless the line says otherwise.
        failure.status = srbStatusGiven ? failure.status : aspi::SS_ABORTED;
        failure.targStat = targStatGiven ? failure.targStat : 0;
    }
    if (failure.status == 0) {
        throw LineError("status 0 would leave the request pending");
    }
    bus.failures.push_back(failure);
}

}  // namespace

ParseResult parseBusFile(std::string_view text) {
    BusDescription bus;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        ++lineNumber;
        try {
            Cursor cursor(tokenize(text.substr(start, end - start)));
            if (!cursor.atEnd()) {
                const std::string kind = cursor.word("line kind");
                if (kind == "adapter") {
                    parseAdapter(cursor, bus);
                } else if (kind == "unit") {
                    parseUnit(cursor, bus);
                } else if (kind == "fail") {
                    parseFailure(cursor, bus);
                } else {
                    throw LineError("unknown line kind \"" + kind +
                                    "\" (expected adapter, unit or fail)");
                }
            }
        } catch (const LineError &error) {
            return {std::nullopt, lineNumber, error.what()};
        }
        start = end + 1;
    }
    return {std::move(bus), 0, {}};
}

}  // namespace sim
