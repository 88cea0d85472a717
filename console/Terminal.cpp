// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "console/Terminal.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace console {

namespace {
// Back to the line's start, the text, then the rest of the line cleared.
constexpr const char *kLineStart = "\r";
constexpr const char *kClearToEnd = "\033[K";
constexpr unsigned kForegroundPollMicroseconds = 200000;

// After a read of standard input failed: when it failed because this process is a background
// job of the terminal whose SIGTTIN is held off (an update's guard ignores it, so that the job
// never stops in the middle of a block), waits until the job is brought to the foreground and
// gives true, so that the read is tried again; else false.
bool waitedForTheForeground() {
    if (std::ferror(stdin) == 0 || errno != EIO || ::isatty(STDIN_FILENO) != 1) {
        return false;
    }
    bool waited = false;
    for (pid_t foreground;
         (foreground = ::tcgetpgrp(STDIN_FILENO)) > 0 && foreground != ::getpgrp();) {
        ::usleep(kForegroundPollMicroseconds);
        waited = true;
    }
    std::clearerr(stdin);
    return waited;
}

}  // namespace

bool Terminal::standardStreamsAreTerminals() {
    return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1;
}

void Terminal::write(const std::string &text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void Terminal::line(const std::string &text) {
    const std::lock_guard lock(m_mutex);
    std::string out;
    if (m_redrawing || !m_question.empty()) {
        out += "\n";
        m_redrawing = false;
    }
    out += text + "\n";
    out += m_question;
    write(out);
}

void Terminal::redraw(const std::string &text) {
    if (!m_interactive) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    write(kLineStart + text + kClearToEnd);
    m_redrawing = true;
}

void Terminal::endRedraw(bool keep) {
    const std::lock_guard lock(m_mutex);
    if (m_redrawing) {
        write(keep ? "\n" : std::string(kLineStart) + kClearToEnd);
        m_redrawing = false;
    }
}

std::optional<std::string> Terminal::ask(const std::string &question) {
    {
        const std::lock_guard lock(m_mutex);
        std::string out = m_redrawing ? "\n" : "";
        m_redrawing = false;
        m_question = question;
        write(out + question);
    }
    // The lock is not held while waiting: the guard's line may come meanwhile.
    std::string answer;
    bool ended = false;
    for (int c; (c = std::fgetc(stdin)) != '\n';) {
        if (c == EOF && waitedForTheForeground()) {
            continue;
        }
        if (c == EOF) {
            ended = true;
            break;
        }
        answer += static_cast<char>(c);
    }
    const std::lock_guard lock(m_mutex);
    m_question.clear();
    if (ended) {
        // The answer's line never ended: end it here.
        write("\n");
        return std::nullopt;
    }
    return answer;
}

}  // namespace console
