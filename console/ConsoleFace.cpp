// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "console/ConsoleFace.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "units/ShownText.h"

namespace console {

namespace {

constexpr unsigned kBarWidth = 30;

std::string lowerCase(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

ConsoleFace::ConsoleFace(const units::MainState &state, const UpdateCommand &command,
                         Terminal &terminal, bool askOnError)
    : m_state(state), m_command(command), m_terminal(terminal), m_askOnError(askOnError) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(command.file, error);
    m_hexPath = error ? command.file : whole.lexically_normal().string();
}

bool ConsoleFace::selectedUnitLine(std::string &line) const {
    if (m_selected.empty()) {
        return false;
    }
    line = m_selected;
    return true;
}

bool ConsoleFace::chooseFirmwareFile(std::string &fileName) {
    const std::filesystem::path file(m_command.file);
    const std::string folder = file.parent_path().string();
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
        m_terminal.line("cdrw-fwupdate: cannot enter the folder " + folder + ": " +
                        std::strerror(errno));
        return false;
    }
    fileName = file.filename().string();
    return true;
}

bool ConsoleFace::confirmTransfer() {
    // Building the image wrote the EDC's trace of dots on standard output; its line ends here.
    std::fputc('\n', stdout);
    std::fflush(stdout);
    const std::uint32_t length = update::transferLength(m_state.ImageLength, m_command.edc);
    const std::uint32_t blocks = (length + update::kBlockSize - 1) / update::kBlockSize;
    m_terminal.line("File:  " + m_hexPath);
    m_terminal.line("Image: " + std::to_string(m_state.ImageLength) + " bytes; " +
                    std::to_string(length) + " sent " + (m_command.edc ? "with" : "without") +
                    " its EDC in " + std::to_string(blocks) + (blocks == 1 ? " block" : " blocks"));
    m_terminal.line("Unit:  " + units::latin1ToUtf8(m_selected));
    if (const std::string off = update::overridesText(m_command.overrides); !off.empty()) {
        m_terminal.line(off);
    }
    if (m_command.yes) {
        return true;
    }
    if (!m_terminal.interactive()) {
        m_terminal.line(
            "cdrw-fwupdate: nothing sent: no terminal to confirm on (--yes confirms for a "
            "script)");
        return false;
    }
    const std::optional<std::string> answer =
        m_terminal.ask("Send this firmware to this unit? [y/N] ");
    if (answer && (lowerCase(*answer) == "y" || lowerCase(*answer) == "yes")) {
        return true;
    }
    m_terminal.line("Nothing sent.");
    return false;
}

void ConsoleFace::showBlocksDone(std::uint32_t done, std::uint32_t count) {
    std::string counted = std::to_string(done) + "/" + std::to_string(count) + " blocks";
    if (m_state.IgnoredBlocks > 0) {
        counted += ", " + std::to_string(m_state.IgnoredBlocks) + " not taken";
    }
    if (m_terminal.interactive()) {
        const auto filled = static_cast<std::size_t>(std::uint64_t{kBarWidth} * done / count);
        m_terminal.redraw("Sending [" + std::string(filled, '#') +
                          std::string(kBarWidth - filled, '.') + "] " + counted);
        if (done == count) {
            m_terminal.endRedraw();
        }
    } else if (done > 0) {
        m_terminal.line("Sending: " + counted);
    }
}

void ConsoleFace::showModal(const errors::CommandErrorInfo &info) {
    m_stop = false;
    m_terminal.line("Command error information");  // the dialog's caption
    for (const std::string &line : errors::commandErrorLines(info)) {
        m_terminal.line(line);
    }
    if (!m_askOnError) {
        m_terminal.line(m_terminal.interactive() ? "Stop (--on-error stop)"
                                                 : "Stop (no terminal to ask on)");
        m_stop = true;
        return;
    }
    for (;;) {
        const std::optional<std::string> answer = m_terminal.ask("Retry, Ignore or Stop? [r/i/s] ");
        const std::string word = answer ? lowerCase(*answer) : "s";
        if (word == "r" || word == "retry") {
            m_retry = true;
            return;
        }
        if (word == "i" || word == "ignore") {
            m_retry = false;
            return;
        }
        if (word == "s" || word == "stop") {
            m_stop = true;
            return;
        }
    }
}

}  // namespace console
