// The two variant rules and the About title over all seven variants.
#include <gtest/gtest.h>

#include <string>

#include "app/FirmwareVariants.h"

namespace {

// Eligibility of one unit at (1, 3) under `variant`, starting from a cleared flag.
bool eligible(int variant, const std::string &vendor) {
    app::UnitTable units;
    app::CheckUnitEligibility(units, variant, 1, 3, vendor);
    return units.Eligible[1 * 7 + 3] == 1;
}

std::string padded(const std::string &word) {
    return word + std::string(8 - word.size(), ' ');
}

}  // namespace

TEST(AnsiUpper, LatinOneLettersMoveDownBy0x20) {
    EXPECT_EQ(app::ansiUpper('a'), 'A');
    EXPECT_EQ(app::ansiUpper('z'), 'Z');
    EXPECT_EQ(app::ansiUpper('A'), 'A');
    EXPECT_EQ(app::ansiUpper('{'), '{');
    EXPECT_EQ(app::ansiUpper('`'), '`');
    EXPECT_EQ(app::ansiUpper('\xE0'), '\xC0');
    EXPECT_EQ(app::ansiUpper('\xE9'), '\xC9');
    EXPECT_EQ(app::ansiUpper('\xFE'), '\xDE');
    EXPECT_EQ(app::ansiUpper('\xF7'), '\xF7') << "division sign";
    EXPECT_EQ(app::ansiUpper('\xFF'), '\xFF') << "no single-byte upper case";
    EXPECT_EQ(app::ansiUpper('\xDF'), '\xDF');
    EXPECT_EQ(app::normalisedVendor(std::string("\t vek\x01\0 ", 8)), "VEK");
    EXPECT_EQ(app::normalisedVendor("ZA V"), "ZA V");
}

TEST(CheckUnitEligibility, EveryVariantAcceptsItsWordPaddedOrLowerCase) {
    for (int variant = 1; variant < 7; ++variant) {
        const std::string word = app::kFirmwareVariants[variant].vendorWord;
        SCOPED_TRACE(word);
        EXPECT_TRUE(eligible(variant, padded(word)));
        EXPECT_TRUE(eligible(variant, word));
        std::string lower = word;
        for (char &c : lower) {
            c = static_cast<char>(c + 0x20);
        }
        EXPECT_TRUE(eligible(variant, padded(lower)));
        EXPECT_TRUE(eligible(variant, " " + word + "\t"));
        // Other characters after the word, with or without a blank, do not match.
        if (word.size() < 7) {
            EXPECT_FALSE(eligible(variant, padded(word + "X")));
            EXPECT_FALSE(eligible(variant, padded(word + " X")));
        }
        EXPECT_FALSE(eligible(variant, word.substr(0, word.size() - 1)));
        EXPECT_FALSE(eligible(variant, "        "));
        EXPECT_FALSE(eligible(variant, ""));
    }
}

TEST(CheckUnitEligibility, VariantsJudgeOtherVendorsApart) {
    EXPECT_TRUE(eligible(4, padded("VEK")));
    EXPECT_FALSE(eligible(4, padded("ZAV")));
    EXPECT_TRUE(eligible(6, padded("VEK")));
    EXPECT_TRUE(eligible(5, padded("ZAV")));
    EXPECT_FALSE(eligible(5, padded("VEK")));
    EXPECT_TRUE(eligible(1, "TANDOR  ")) << "the two padding blanks are removed";
    EXPECT_TRUE(eligible(3, "FALKONIS")) << "a word filling all eight bytes";
    EXPECT_FALSE(eligible(3, "FALKONISX")) << "a longer vendor field";
    EXPECT_FALSE(eligible(2, padded("MIBVEK")));
    // Variant 0 takes every unit, whatever it reports.
    for (const char *vendor : {"VEK     ", "ZAV", "", "        ", "\x01\x02"}) {
        EXPECT_TRUE(eligible(0, vendor)) << vendor;
    }
}

TEST(CheckUnitEligibility, OnlyEverSetsTheFlagOfItsOwnAddress) {
    app::UnitTable units;
    units.Eligible[2 * 7 + 6] = 1;
    app::CheckUnitEligibility(units, 4, 2, 6, padded("ZAV"));
    EXPECT_EQ(units.Eligible[2 * 7 + 6], 1) << "a refusal leaves the flag as it was";

    app::CheckUnitEligibility(units, 4, 0, 1, padded("VEK"));
    int set = 0;
    for (std::uint8_t flag : units.Eligible) {
        set += flag;
    }
    EXPECT_EQ(set, 2);
    EXPECT_EQ(units.Eligible[1], 1);

    // Addresses and variants outside the table change nothing.
    app::UnitTable untouched;
    app::CheckUnitEligibility(untouched, 0, 3, 0, "VEK");
    app::CheckUnitEligibility(untouched, 0, 0, 7, "VEK");
    app::CheckUnitEligibility(untouched, 7, 0, 0, "VEK");
    app::CheckUnitEligibility(untouched, -1, 0, 0, "VEK");
    for (std::uint8_t flag : untouched.Eligible) {
        EXPECT_EQ(flag, 0);
    }
}

TEST(IsFileNameAccepted, CodesOfAllSevenVariants) {
    for (int variant = 1; variant < 7; ++variant) {
        const std::string lower = app::kFirmwareVariants[variant].lowerCode;
        const std::string upper = app::kFirmwareVariants[variant].upperCode;
        SCOPED_TRACE(upper);
        EXPECT_TRUE(app::IsFileNameAccepted(variant, lower + "1.hex"));
        EXPECT_TRUE(app::IsFileNameAccepted(variant, upper + "1.HEX"));
        EXPECT_TRUE(app::IsFileNameAccepted(variant, upper));
        EXPECT_TRUE(app::IsFileNameAccepted(variant, lower + upper));
        // Mixed case within the code.
        EXPECT_FALSE(app::IsFileNameAccepted(variant, upper.substr(0, 1) + lower.substr(1)));
        EXPECT_FALSE(app::IsFileNameAccepted(variant, lower.substr(0, 2) + upper.substr(2)));
        // Shorter than three characters.
        EXPECT_FALSE(app::IsFileNameAccepted(variant, lower.substr(0, 2)));
        EXPECT_FALSE(app::IsFileNameAccepted(variant, ""));
        // The chooser's initial text, and a path in front of the name.
        EXPECT_FALSE(app::IsFileNameAccepted(variant, "*.hex"));
        EXPECT_FALSE(app::IsFileNameAccepted(variant, "C:\\" + lower + "1.hex"));
        EXPECT_FALSE(app::IsFileNameAccepted(variant, "/tmp/" + lower + "1.hex"));
        EXPECT_FALSE(app::IsFileNameAccepted(variant, "fw/" + lower + "1.hex"));
        EXPECT_FALSE(app::IsFileNameAccepted(variant, " " + lower));
        // The codes of the other variants.
        for (int other = 1; other < 7; ++other) {
            if (other != variant) {
                EXPECT_FALSE(app::IsFileNameAccepted(
                    variant, std::string(app::kFirmwareVariants[other].lowerCode) + "1.hex"));
            }
        }
    }
}

TEST(IsFileNameAccepted, DefaultVariantAndVariantZero) {
    EXPECT_TRUE(app::IsFileNameAccepted(4, "lix1.hex"));
    EXPECT_TRUE(app::IsFileNameAccepted(4, "LIX1.HEX"));
    EXPECT_FALSE(app::IsFileNameAccepted(4, "Lix1.hex"));
    EXPECT_FALSE(app::IsFileNameAccepted(4, "wol1.hex"));
    EXPECT_FALSE(app::IsFileNameAccepted(4, "li"));
    EXPECT_TRUE(app::IsFileNameAccepted(5, "hup7.hex"));
    EXPECT_TRUE(app::IsFileNameAccepted(5, "HUP7.hex"));
    for (const char *name : {"*.hex", "li", "", "anything.bin", "C:\\x.hex"}) {
        EXPECT_TRUE(app::IsFileNameAccepted(0, name)) << name;
    }
    EXPECT_FALSE(app::IsFileNameAccepted(7, "lix1.hex"));
    EXPECT_FALSE(app::IsFileNameAccepted(-1, "lix1.hex"));
}

TEST(AboutTitle, OnePerVariant) {
    const char *titles[] = {
        "VEK CD-R/RW Firmware Update V1.1", "TANDOR CD-R/RW Firmware Update V1.1",
        "MIB CD-R/RW Firmware Update V1.1", "FALKONIS CD-R/RW Firmware Update V1.1",
        "VEK CD-R/RW Firmware Update V1.1", "ZAV CD-R/RW Firmware Update V1.1",
        "VEK CD-R/RW Firmware Update V1.1"};
    for (int variant = 0; variant < 7; ++variant) {
        EXPECT_STREQ(app::aboutTitle(variant), titles[variant]);
    }
    EXPECT_STREQ(app::aboutTitle(7), "");
}
