// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A test's bench on the simulated bus: a fresh temporary folder holding the bus file, the request
// log and the received images, and the simulator's variables pointing at them. The simulator
// reads them when the program binds it, so a test sets up its bench before it constructs a main
// window or binds a manager.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace testing_support {

class SimBench {
  public:
    SimBench() {
        std::filesystem::create_directory(m_dir.path() / "images");
        setenv("CDRW_SIM_LOG", (m_dir.path() / "requests.log").c_str(), 1);
        setenv("CDRW_SIM_IMAGES", (m_dir.path() / "images").c_str(), 1);
        unsetenv("CDRW_SIM_BUS");
    }
    ~SimBench() {
        unsetenv("CDRW_SIM_LOG");
        unsetenv("CDRW_SIM_IMAGES");
        unsetenv("CDRW_SIM_BUS");
    }
    SimBench(const SimBench &) = delete;
    SimBench &operator=(const SimBench &) = delete;

    // Writes `text` as the bus file and names it for the next binding.
    void useBus(const std::string &text) {
        const std::filesystem::path path = m_dir.path() / "bus.txt";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        setenv("CDRW_SIM_BUS", path.c_str(), 1);
    }

    // The request log, one entry per line.
    std::vector<std::string> log() const {
        std::vector<std::string> lines;
        std::ifstream in(m_dir.path() / "requests.log");
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Log lines that contain `part`.
    std::vector<std::string> logLinesWith(const std::string &part) const {
        std::vector<std::string> found;
        for (const std::string &line : log()) {
            if (line.find(part) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

    // What the unit at (adapter, target) has received; empty when it received nothing.
    std::vector<std::uint8_t> image(int adapter, int target) const {
        std::ifstream in(
            m_dir.path() / "images" /
                ("a" + std::to_string(adapter) + "t" + std::to_string(target) + ".bin"),
            std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    const std::filesystem::path &dir() const { return m_dir.path(); }

  private:
    TempDir m_dir{"cdrw-sim"};
};

}  // namespace testing_support
