// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Helpers for the image tests: HEX text, small file access, and a fixture that runs each test in
// a fresh directory (the update resolves names against it) with a recording host.
#pragma once

#include <gtest/gtest.h>
#include <cstdlib>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "aspi/LowMemory.h"
#include "image/PrepareDownloadImage.h"
#include "tests/support/HexText.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHost.h"

namespace image_test {

using hex_text::Bytes;
using hex_text::dataRecord;
using hex_text::kEndRecord;
using hex_text::record;

inline void writeFile(const std::string &name, const std::string &content) {
    std::ofstream(name, std::ios::binary) << content;
}

inline std::string readFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Bytes asBytes(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

// `count` bytes counting up from `first`.
inline Bytes range(std::size_t count, std::uint8_t first = 0) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

// `count` bytes of the pseudo-random sequence that `seed` starts.
inline std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char &c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

// HEX text with one record to a line, each line ended by CR LF.
inline std::string hexLines(std::initializer_list<std::string> records) {
    std::string text;
    for (const std::string &line : records) {
        text += line + "\r\n";
    }
    return text;
}

// Runs each test in its own empty directory with a recording host and an image buffer of the
// real size, filled with a pattern that a built image must not keep.
class ImageDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_dir.path());
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    bool prepare(const std::string &chosen = "FW01.hex") {
        return image::prepareDownloadImage(chosen, image.data(), imageLength);
    }
    // The image bytes as far as the length says, and the data bytes between header and EDC.
    Bytes imageBytes() const { return Bytes(image.begin(), image.begin() + imageLength); }
    Bytes dataBytes() const { return Bytes(image.begin() + 46, image.begin() + imageLength - 4); }

    // A refusal: exactly one warning box with no caption whose text is `text` (or begins with it,
    // for `prefixOnly`), and no image left.
    void expectRefusal(const std::string &text, bool prefixOnly = false) const {
        ASSERT_EQ(host.boxes.size(), 1u);
        const platform::MessageBoxRequest &box = host.boxes.front();
        EXPECT_EQ(prefixOnly ? box.text.substr(0, text.size()) : box.text, text);
        EXPECT_EQ(box.icon, platform::Icon::Warning);
        EXPECT_FALSE(box.caption.has_value());
        EXPECT_EQ(imageLength, 0u);
        EXPECT_TRUE(std::ranges::all_of(image, [](std::uint8_t b) { return b == 0; }));
    }

    testing_support::TestHost host;
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(aspi::kImageBufferSize, 0xEE);
    std::uint32_t imageLength = 12345;
    testing_support::TempDir m_dir{"cdrw-image"};
    std::filesystem::path m_previous;
};

}  // namespace image_test
