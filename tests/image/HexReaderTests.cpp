// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The HEX reader on its own: digit values, the checks of each record and the message that
// names the line of a bad one, the end-of-file character, and the limit of the image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/HexReader.h"
#include "tests/image/ImageTestSupport.h"

using image_test::dataRecord;
using image_test::kEndRecord;
using image_test::range;

namespace {

struct ReadOutcome {
    bool accepted;
    std::size_t dataLength;
    std::string refusal;
};

ReadOutcome readText(const std::string &text, std::size_t limit = 4096) {
    std::vector<std::uint8_t> image(limit, 0);
    ReadOutcome outcome{false, 0, {}};
    outcome.accepted =
        image::readHexText(text, image.data(), 46, limit, outcome.dataLength, outcome.refusal);
    return outcome;
}

std::string badLine(int line, const std::string &reason) {
    return "Bad record in line " + std::to_string(line) + " of the .HEX file: " + reason + " !";
}

}  // namespace

TEST(HexValue, ReadsDigitsOfEitherCaseKeptTo16Bits) {
    EXPECT_EQ(image::HexValue(":10A0FF00", 1, 2), 0x10);
    EXPECT_EQ(image::HexValue(":10A0FF00", 3, 4), 0xA0FF);
    EXPECT_EQ(image::HexValue(":10a0ff00", 3, 4), 0xA0FF);
    EXPECT_EQ(image::HexValue("12345", 0, 5), 0x2345);
    EXPECT_EQ(image::hexDigitValue('g'), -1);
    EXPECT_EQ(image::hexDigitValue('f'), 15);
}

TEST(HexReader, EachBadRecordIsRefusedNamingItsLine) {
    const std::string good = dataRecord(0, range(4));
    std::string badChecksum = good;
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    const struct {
        std::string record;
        std::string reason;
    } cases[] = {
        {good.substr(1), "it does not start with \":\""},
        {";" + good.substr(1), "it does not start with \":\""},
        {":0400000000010G0304F2", "it holds a character that is not a hex digit"},
        {good.substr(0, good.size() - 2), "its length does not match its byte count"},
        {good + "00", "its length does not match its byte count"},
        {":0000", "its length does not match its byte count"},
        {":", "its length does not match its byte count"},
        {badChecksum, "its checksum is wrong"},
        {":" + std::string(99, '0'), "it is longer than 99 characters"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.record);
        const ReadOutcome outcome =
            readText(good + "\r\n\r\n" + good + "\n" + c.record + "\n" + kEndRecord + "\n");
        EXPECT_FALSE(outcome.accepted);
        EXPECT_EQ(outcome.refusal, badLine(4, c.reason));
    }
}

TEST(HexReader, LinesEndInLfCrLfOrALoneCr) {
    const std::string good = dataRecord(0, range(4));
    const struct {
        const char *name;
        std::string text;  // the third line is the bad one
    } cases[] = {
        {"LF", good + "\n" + good + "\n:XY\n" + kEndRecord},
        {"CR LF", good + "\r\n" + good + "\r\n:XY\r\n" + kEndRecord},
        {"CR", good + "\r" + good + "\r:XY\r" + kEndRecord},
        {"CR CR: an empty line between", good + "\r\r:XY\r" + kEndRecord},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ReadOutcome outcome = readText(c.text);
        EXPECT_FALSE(outcome.accepted);
        EXPECT_EQ(outcome.refusal, badLine(3, "it holds a character that is not a hex digit"));
    }
}

TEST(HexReader, LongestRecordIs99Characters) {
    const std::string longest = dataRecord(0, range(44));
    ASSERT_EQ(longest.size(), 99u);
    const ReadOutcome outcome = readText(longest + "\n" + kEndRecord);
    EXPECT_TRUE(outcome.accepted) << outcome.refusal;
    EXPECT_EQ(outcome.dataLength, 44u);
}

TEST(HexReader, OneEndOfFileCharacterMayEndTheText) {
    const std::string records = dataRecord(0, range(4)) + "\r\n" + kEndRecord;
    EXPECT_TRUE(readText(records + "\r\n\x1A").accepted);
    EXPECT_TRUE(readText(records + "\x1A").accepted);
    EXPECT_TRUE(readText(records + "\r\n\x1A\r\n").accepted);

    const std::string reason = "text follows the end-of-file character";
    EXPECT_EQ(readText(records + "\r\n\x1A\x1A").refusal, badLine(3, reason));
    EXPECT_EQ(readText(records + "\n\x1A\n" + kEndRecord).refusal, badLine(4, reason));
    EXPECT_EQ(readText(dataRecord(0, range(4)) + "\x1A\n" + kEndRecord).refusal,
              badLine(2, reason));
}

TEST(HexReader, DataPastTheLimitIsRefused) {
    // 46 + 16 fits a limit of 62 exactly; one more byte, or a gap, does not.
    EXPECT_TRUE(readText(dataRecord(0, range(16)) + "\n" + kEndRecord, 62).accepted);
    const std::string tooLarge =
        "The data of the .HEX file does not fit into the download image (line 2) !";
    EXPECT_EQ(readText(dataRecord(0, range(16)) + "\n" + dataRecord(16, range(1)), 62).refusal,
              tooLarge);
    EXPECT_EQ(readText(dataRecord(0, range(15)) + "\n" + dataRecord(17, {}), 62).refusal, tooLarge);
}

TEST(HexReader, TextMayArriveInPiecesThatSplitRecords) {
    const std::string text =
        dataRecord(0x10, range(16)) + "\r\n" + dataRecord(0x40, range(3)) + "\r\n" + kEndRecord;
    std::vector<std::uint8_t> whole(200, 0);
    std::vector<std::uint8_t> pieces(200, 0);
    std::size_t length = 0;
    std::string refusal;
    ASSERT_TRUE(image::readHexText(text, whole.data(), 46, whole.size(), length, refusal));
    image::HexReader reader(pieces.data(), 46, pieces.size());
    for (char c : text) {
        ASSERT_TRUE(reader.feed(&c, 1));
    }
    ASSERT_TRUE(reader.finish());
    EXPECT_EQ(reader.writePosition(), 46 + length);
    EXPECT_EQ(pieces, whole);
}
