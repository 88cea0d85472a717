// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The sense and status lookups: the shape of the tables and the cases that are easy to get wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "errors/SenseTextTables.h"
#include "errors/SenseTexts.h"

using namespace errors;

namespace {

const std::string kDiagnostic = "Diagnostic failure on component ";
const std::string kTagged = "Tagged overlapped commands(Queue tag=";
const std::string kFailurePrediction = "Failure prediction threshold exceeded(False) ";

// Every constant text of the four lookups.
std::vector<std::string> allTexts() {
    std::vector<std::string> texts;
    for (const auto &row : additionalSenseRows()) {
        texts.emplace_back(row.text);
    }
    for (const auto &rule : specialSenseRules()) {
        texts.push_back(std::string(rule.prefix) + (rule.appendAscq ? "0" : "") + rule.suffix);
    }
    for (const char *name : senseKeyNames()) {
        texts.emplace_back(name);
    }
    for (const auto &row : srbStatusRows()) {
        texts.emplace_back(row.text);
    }
    for (const auto &row : hostTargetStatusRows()) {
        texts.emplace_back(row.text);
    }
    return texts;
}

}  // namespace

TEST(SenseTables, RowsAreSortedWithUniqueKeysAndCover101Codes) {
    const auto rows = additionalSenseRows();
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_LT(std::pair(rows[i - 1].asc, rows[i - 1].ascq),
                  std::pair(rows[i].asc, rows[i].ascq))
            << "row " << i;
    }
    const auto rules = specialSenseRules();
    EXPECT_TRUE(std::ranges::is_sorted(rules, {}, &SpecialSenseRule::asc));
    std::set<int> ascs;
    for (const auto &row : rows) {
        ascs.insert(row.asc);
    }
    for (const auto &rule : rules) {
        ascs.insert(rule.asc);
        EXPECT_LE(rule.firstAscq, rule.lastAscq);
        // A rule never shadows a plain row: plain rows are searched first.
        for (const auto &row : rows) {
            EXPECT_FALSE(row.asc == rule.asc && row.ascq >= rule.firstAscq &&
                         row.ascq <= rule.lastAscq)
                << std::hex << int(row.asc) << "/" << int(row.ascq);
        }
    }
    EXPECT_EQ(ascs.size(), 101u);
    EXPECT_TRUE(std::ranges::is_sorted(srbStatusRows(), {}, &StatusRow::value));
    EXPECT_TRUE(std::ranges::is_sorted(hostTargetStatusRows(), {}, &StatusRow::value));
}

TEST(SenseTables, BlanksOnlyWhereTheTextsHaveThem) {
    for (const std::string &text : allTexts()) {
        if (text.empty()) {
            continue;  // the reserved 44h entries
        }
        const bool edgeBlank = text.front() == ' ' || text.back() == ' ';
        const bool allowed = text == kFailurePrediction || text == kDiagnostic + "0";
        EXPECT_EQ(edgeBlank && !allowed, false) << '"' << text << '"';
        EXPECT_EQ(text.find("  ") != std::string::npos, text == "Associated  write protect")
            << '"' << text << '"';
    }
}

TEST(SenseKeyName, OnlyTheLowFourBitsCount) {
    EXPECT_EQ(SenseKeyName(0x25), "Illegal request");
    EXPECT_EQ(SenseKeyName(0x00), "No sense");
    for (int key = 0; key < 16; ++key) {
        const std::string name = SenseKeyName(static_cast<std::uint8_t>(key));
        EXPECT_FALSE(name.empty());
        for (const int flags : {0x20, 0x40, 0x80, 0xF0}) {
            EXPECT_EQ(SenseKeyName(static_cast<std::uint8_t>(flags | key)), name);
        }
    }
    EXPECT_EQ(SenseKeyName(0x09), "Vendor-specific");
    EXPECT_EQ(SenseKeyName(0x0F), "Reserved");
}

struct SenseCase {
    std::uint8_t senseByte, asc, ascq;
    std::string text;
};

TEST(AdditionalSenseText, EdgeCases) {
    const std::vector<SenseCase> cases = {
        {0x05, 0x00, 0x00, "No additional sense information"},
        {0x05, 0x00, 0x01, ""},
        {0x05, 0x00, 0x17, "Clearning requested"},
        {0x05, 0x02, 0x00, "No seek complete"},
        {0x05, 0x02, 0x01, ""},
        {0x05, 0x3B, 0x00, ""},
        {0x05, 0x3B, 0x0F, "End of medium reached"},
        {0x05, 0x44, 0x00, "Internal target failure"},
        {0x05, 0x44, 0x0A, "ERROR:Clear SRAM to"},
        {0x05, 0x44, 0x0B, ""},
        {0x05, 0x44, 0x0F, ""},
        {0x05, 0x44, 0x10, ""},
        {0x05, 0x5D, 0x00, "Failure prediction threshold exceeded"},
        {0x05, 0x5D, 0x01, kFailurePrediction},
        {0x05, 0x5D, 0xFF, kFailurePrediction},
        {0x04, 0x80, 0x00, "EDC error"},
        {0x05, 0x80, 0x00, "Invalid initiator ID"},
        {0x03, 0x80, 0x00, ""},
        {0x25, 0x80, 0x00, ""},
        {0x04, 0x80, 0x01, ""},
        {0x05, 0x80, 0x01, ""},
        {0x05, 0x9C, 0xD9, "OPC area none"},
        {0x05, 0x9F, 0x00, ""},
        {0x05, 0x9F, 0x01, "Writing Philips error"},
        {0x05, 0xB7, 0x00, ""},
        {0x05, 0xBA, 0x00, "ERROR:Buffer underrun"},
        {0x05, 0xBC, 0x00, "Read time out error"},
        {0x05, 0xFF, 0x80, "IAP over run"},
        {0x05, 0xFF, 0x01, ""},
        {0x05, 0x40, 0x80, kDiagnostic + "80"},
        {0x05, 0x40, 0x05, kDiagnostic + "5"},
        {0x05, 0x40, 0x00, kDiagnostic + "0"},
        {0x05, 0x4D, 0x1F, kTagged + "1f)"},
        {0x05, 0x4D, 0x0A, kTagged + "a)"},
        {0x05, 0x4D, 0x8A, kTagged + "8a)"},
        {0x05, 0x27, 0x03, "Associated  write protect"},
        {0x05, 0x04, 0x02, "Logical unit not ready,initializing CMD,required"},
        {0x05, 0x29, 0x00, "Power on,reset,or BUS device reset occurred"},
        {0x05, 0x01, 0x00, ""},  // an ASC without rows
        {0x05, 0xFE, 0x00, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AdditionalSenseText(c.senseByte, c.asc, c.ascq), c.text)
            << std::hex << int(c.senseByte) << " " << int(c.asc) << "/" << int(c.ascq);
    }
}

TEST(AdditionalSenseText, RangesAndTheSenseByteRuleOverEveryValue) {
    for (int value = 0; value < 256; ++value) {
        const auto v = static_cast<std::uint8_t>(value);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%x", value);
        EXPECT_EQ(AdditionalSenseText(0x05, 0x40, v), kDiagnostic + hex);
        EXPECT_EQ(AdditionalSenseText(0x05, 0x4D, v), kTagged + hex + ")");
        if (value >= 1) {
            EXPECT_EQ(AdditionalSenseText(0x05, 0x5D, v), kFailurePrediction);
        }
        if (value >= 0x0B) {
            EXPECT_EQ(AdditionalSenseText(0x05, 0x44, v), "");
        }
        const std::string edc = AdditionalSenseText(v, 0x80, 0x00);
        EXPECT_EQ(edc.empty(), value != 0x04 && value != 0x05) << value;
        // The sense byte matters for ASC 80h only.
        EXPECT_EQ(AdditionalSenseText(v, 0x24, 0x00), "Invalid field in CDB");
    }
}

TEST(StatusTexts, ListedValuesAndGaps) {
    const std::pair<std::uint8_t, const char *> srbTexts[] = {
        {0x01, "SCSI request has completed without error."},
        {0x02, "SCSI command has been aborted."},
        {0x03, "SCSI command abort failed."},
        {0x04, "SCSI command completed with an error!"},
        {0xE0, "One or more parameters in the SRB are set incorrectly."},
        {0xE1, "The ASPI manager can't handle the alignment on this buffer."},
        {0xE6, "The ASPI manager can't handle the given transfer size."},
    };
    const std::pair<std::uint8_t, const char *> hostTargetTexts[] = {
        {0x08, "Target is busy."},
        {0x11, "Selection time out."},
        {0x12, "Data over-run/under-run."},
        {0x13, "Unexpexted Bus Free."},
        {0x14, "Target bus phase sequence failure."},
        {0x18, "Reservation conflict."},
    };
    // Every value not listed has the empty text (0x00, 0x82 and CHECK CONDITION 0x02 among them).
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<std::uint8_t>(value);
        SCOPED_TRACE(value);
        std::string srb, hostTarget;
        for (const auto &[listed, text] : srbTexts) {
            srb = listed == byte ? text : srb;
        }
        for (const auto &[listed, text] : hostTargetTexts) {
            hostTarget = listed == byte ? text : hostTarget;
        }
        EXPECT_EQ(SrbStatusText(byte), srb);
        EXPECT_EQ(HostTargetStatusText(byte), hostTarget);
    }
}
