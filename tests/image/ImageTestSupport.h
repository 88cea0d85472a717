// Helpers for the image tests: HEX records with correct checksums, small file access, and a
// fixture that runs each test in a fresh directory (the update resolves names against it).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "aspi/LowMemory.h"
#include "tests/support/HexText.h"
#include "tests/support/TestHost.h"

namespace image_test {

using Bytes = std::vector<std::uint8_t>;

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

inline Bytes range(std::size_t count, std::uint8_t first = 0) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

// Runs each test in its own empty directory with a recording host and an image buffer of the
// real size.
class ImageDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/cdrw-image-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
    }
    void TearDown() override {
        std::filesystem::current_path(m_previous);
        std::filesystem::remove_all(m_dir);
    }

    // The image bytes as far as the length says.
    Bytes imageBytes() const { return Bytes(image.begin(), image.begin() + imageLength); }
    Bytes dataBytes() const { return Bytes(image.begin() + 46, image.begin() + imageLength - 4); }
    bool imageAllZero() const {
        for (std::uint8_t b : image) {
            if (b != 0) {
                return false;
            }
        }
        return true;
    }
    // The one message box shown, or an empty request if there was not exactly one.
    platform::MessageBoxRequest onlyBox() const {
        EXPECT_EQ(host.boxes.size(), 1u);
        return host.boxes.size() == 1 ? host.boxes.front() : platform::MessageBoxRequest{};
    }
    // A refusal: exactly one warning box with this text and no caption, and no image left.
    void expectRefusal(const std::string &text) const {
        const platform::MessageBoxRequest box = onlyBox();
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, platform::Icon::Warning);
        EXPECT_FALSE(box.caption.has_value());
        EXPECT_EQ(imageLength, 0u);
        EXPECT_TRUE(imageAllZero());
    }

    testing_support::TestHost host;
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(aspi::kImageBufferSize, 0xEE);
    std::uint32_t imageLength = 12345;
    std::filesystem::path m_dir;
    std::filesystem::path m_previous;
};

}  // namespace image_test
