// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "console/Terminal.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "units/ShownText.h"

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

Terminal::Terminal(bool interactive)
    : m_interactive(interactive), m_escapes([] {
          const char *term = std::getenv("TERM");
          return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
      }()) {}

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
        m_drawn = 0;
    }
    out += units::shownText(text) + "\n";
    out += m_question;
    write(out);
}

void Terminal::redraw(const std::string &text) {
    if (!m_interactive) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    const std::string shown = units::shownText(text);
    if (m_escapes) {
        write(kLineStart + shown + kClearToEnd);
    } else {
        // Blanks over what is left of the longer line drawn before.
        write(kLineStart + shown +
              std::string(m_drawn > shown.size() ? m_drawn - shown.size() : 0, ' '));
    }
    m_drawn = shown.size();
    m_redrawing = true;
}

void Terminal::endRedraw(bool keep) {
    const std::lock_guard lock(m_mutex);
    if (m_redrawing) {
        const std::string clear = m_escapes ? std::string(kLineStart) + kClearToEnd
                                            : kLineStart + std::string(m_drawn, ' ') + kLineStart;
        write(keep ? "\n" : clear);
        m_redrawing = false;
        m_drawn = 0;
    }
}

std::optional<std::string> Terminal::ask(const std::string &question) {
    {
        const std::lock_guard lock(m_mutex);
        std::string out = m_redrawing ? "\n" : "";
        m_redrawing = false;
        m_drawn = 0;
        m_question = units::shownText(question);
        write(out + m_question);
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
