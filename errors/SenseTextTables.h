// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The constant rows behind the sense and status lookups, open to the tests that check them.
// The lookups themselves are declared in errors/SenseTexts.h.
#pragma once

#include <cstdint>
#include <span>

namespace errors {

// One additional sense code with one qualifier and its message.
struct AdditionalSenseRow {
    std::uint8_t asc;
    std::uint8_t ascq;
    const char *text;
};

// Every (ASC, ASCQ) pair with a message of its own, sorted by ASC then ASCQ, no key twice.
std::span<const AdditionalSenseRow> additionalSenseRows();

// A row that covers a range of qualifiers, or one qualifier under one whole sense byte, and may
// append the qualifier in hexadecimal between a fixed prefix and suffix. Checked only when the
// plain rows have no match. Rows are sorted by ASC.
struct SpecialSenseRule {
    std::uint8_t asc;
    std::uint8_t firstAscq;
    std::uint8_t lastAscq;
    int senseByte;  // the whole sense byte the rule needs, or kAnySenseByte
    const char *prefix;
    bool appendAscq;
    const char *suffix;
};
inline constexpr int kAnySenseByte = -1;

std::span<const SpecialSenseRule> specialSenseRules();

// A status value with its text; both status tables are sorted by value.
struct StatusRow {
    std::uint8_t value;
    const char *text;
};

std::span<const char *const> senseKeyNames();  // 16 names, indexed by sense key
std::span<const StatusRow> srbStatusRows();
std::span<const StatusRow> hostTargetStatusRows();

}  // namespace errors
