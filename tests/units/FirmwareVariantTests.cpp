// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The two variant rules and the About title over all seven variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "units/FirmwareVariants.h"

namespace {

// The seven variants as the program must know them, written out here rather than read from the
// program's own table, so that a wrong word, code or title in that table shows.
struct Variant {
    std::string vendorWord;  // empty: every unit is eligible
    std::string lowerCode;   // empty: every file name is accepted
    std::string upperCode;
    const char *aboutTitle;
};
const Variant kVariants[7] = {
    {"", "", "", "VEK CD-R/RW Firmware Update V1.1"},
    {"TANDOR", "wol", "WOL", "TANDOR CD-R/RW Firmware Update V1.1"},
    {"MIB", "yeb", "YEB", "MIB CD-R/RW Firmware Update V1.1"},
    {"FALKONIS", "duq", "DUQ", "FALKONIS CD-R/RW Firmware Update V1.1"},
    {"VEK", "lix", "LIX", "VEK CD-R/RW Firmware Update V1.1"},
    {"ZAV", "hup", "HUP", "ZAV CD-R/RW Firmware Update V1.1"},
    {"VEK", "bez", "BEZ", "VEK CD-R/RW Firmware Update V1.1"},
};

// Eligibility of one unit at (1, 3) under `variant`, starting from a cleared flag.
bool eligible(int variant, const std::string &vendor) {
    units::UnitTable units;
    units::CheckUnitEligibility(units, variant, 1, 3, vendor);
    return units.Eligible[1 * 7 + 3] == 1;
}

std::string padded(const std::string &word) {
    return word + std::string(8 - std::min<std::size_t>(8, word.size()), ' ');
}

}  // namespace

TEST(AnsiUpper, LatinOneLettersMoveDownBy0x20) {
    // 0xF7 is the division sign; 0xFF and 0xDF have no single-byte upper case.
    const std::pair<char, char> cases[] = {{'a', 'A'},       {'z', 'Z'},       {'A', 'A'},
                                           {'{', '{'},       {'`', '`'},       {'\xE0', '\xC0'},
                                           {'\xE9', '\xC9'}, {'\xFE', '\xDE'}, {'\xF7', '\xF7'},
                                           {'\xFF', '\xFF'}, {'\xDF', '\xDF'}};
    for (const auto &[in, out] : cases) {
        EXPECT_EQ(units::ansiUpper(in), out) << static_cast<int>(static_cast<unsigned char>(in));
    }
    EXPECT_EQ(units::normalisedVendor(std::string("\t vek\x01\0 ", 8)), "VEK");
    EXPECT_EQ(units::normalisedVendor("ZA V"), "ZA V");
}

TEST(CheckUnitEligibility, VendorRuleOfEveryVariant) {
    for (int variant = 1; variant < 7; ++variant) {
        const std::string &word = kVariants[variant].vendorWord;
        SCOPED_TRACE(word);
        std::string lower = word;
        for (char &c : lower) {
            c = static_cast<char>(c + 0x20);
        }
        for (const std::string &vendor : {padded(word), word, padded(lower), " " + word + "\t"}) {
            EXPECT_TRUE(eligible(variant, vendor)) << '"' << vendor << '"';
        }
        // Longer vendor fields (other characters after the word, with or without a blank), a
        // shorter word, blanks, nothing, and the other variants' words do not match.
        for (const std::string &vendor :
             {word + "X", padded(word + "X"), padded(word + " X"), word.substr(0, word.size() - 1),
              std::string(8, ' '), std::string()}) {
            EXPECT_FALSE(eligible(variant, vendor)) << '"' << vendor << '"';
        }
        for (const Variant &other : kVariants) {
            if (!other.vendorWord.empty() && other.vendorWord != word) {
                EXPECT_FALSE(eligible(variant, padded(other.vendorWord))) << other.vendorWord;
            }
        }
    }
    // Variant 0 takes every unit, whatever it reports.
    for (const char *vendor : {"VEK     ", "ZAV", "", "        ", "\x01\x02"}) {
        EXPECT_TRUE(eligible(0, vendor)) << vendor;
    }
}

TEST(CheckUnitEligibility, OnlyEverSetsTheFlagOfItsOwnAddress) {
    units::UnitTable units;
    units.Eligible[2 * 7 + 6] = 1;
    units::CheckUnitEligibility(units, 4, 2, 6, padded("ZAV"));
    EXPECT_EQ(units.Eligible[2 * 7 + 6], 1) << "a refusal leaves the flag as it was";

    units::CheckUnitEligibility(units, 4, 0, 1, padded("VEK"));
    int set = 0;
    for (std::uint8_t flag : units.Eligible) {
        set += flag;
    }
    EXPECT_EQ(set, 2);
    EXPECT_EQ(units.Eligible[1], 1);

    // Addresses and variants outside the table change nothing.
    units::UnitTable untouched;
    units::CheckUnitEligibility(untouched, 0, 3, 0, "VEK");
    units::CheckUnitEligibility(untouched, 0, 0, 7, "VEK");
    units::CheckUnitEligibility(untouched, 7, 0, 0, "VEK");
    units::CheckUnitEligibility(untouched, -1, 0, 0, "VEK");
    for (std::uint8_t flag : untouched.Eligible) {
        EXPECT_EQ(flag, 0);
    }
}

TEST(IsFileNameAccepted, CodeRuleOfEveryVariant) {
    for (int variant = 1; variant < 7; ++variant) {
        const std::string &lower = kVariants[variant].lowerCode;
        const std::string &upper = kVariants[variant].upperCode;
        SCOPED_TRACE(upper);
        for (const std::string &name :
             {lower + "1.hex", upper + "1.HEX", upper + "7.hex", upper, lower + upper}) {
            EXPECT_TRUE(units::IsFileNameAccepted(variant, name)) << name;
        }
        // Mixed case within the code, names shorter than three characters, the chooser's
        // initial text, and a drive or directory in front of the name.
        for (const std::string &name :
             {upper.substr(0, 1) + lower.substr(1), lower.substr(0, 2) + upper.substr(2),
              lower.substr(0, 2), std::string(), std::string("*.hex"), "C:\\" + lower + "1.hex",
              "/tmp/" + lower + "1.hex", "fw/" + lower + "1.hex", " " + lower}) {
            EXPECT_FALSE(units::IsFileNameAccepted(variant, name)) << name;
        }
        for (const Variant &other : kVariants) {
            if (!other.lowerCode.empty() && other.lowerCode != lower) {
                EXPECT_FALSE(units::IsFileNameAccepted(variant, other.lowerCode + "1.hex"));
            }
        }
    }
    for (const char *name : {"*.hex", "li", "", "anything.bin", "C:\\x.hex"}) {
        EXPECT_TRUE(units::IsFileNameAccepted(0, name)) << name;
    }
    EXPECT_FALSE(units::IsFileNameAccepted(7, "lix1.hex"));
    EXPECT_FALSE(units::IsFileNameAccepted(-1, "lix1.hex"));
}

TEST(AboutTitle, OnePerVariant) {
    for (int variant = 0; variant < 7; ++variant) {
        EXPECT_STREQ(units::aboutTitle(variant), kVariants[variant].aboutTitle);
    }
    EXPECT_STREQ(units::aboutTitle(7), "");
}
