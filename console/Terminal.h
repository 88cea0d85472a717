// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Standard error as the shell's update writes to it, and standard input as it reads the user's
// answers. Whole lines always; on a terminal also one line that redraws itself in place (the
// progress bar, the countdown). Lines may come from two threads at once (the update guard says
// on a thread of its own that a signal is held), so every write is whole. Control characters in
// the texts are written escaped (units/ShownText.h), and a terminal that takes no escape
// sequences (TERM=dumb, or no TERM) gets none: its line is redrawn with a carriage return and
// blanks.
#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace console {

class Terminal {
  public:
    // `interactive`: a person answers on standard input and reads standard error.
    explicit Terminal(bool interactive);
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // True when standard input and standard error are both terminals.
    static bool standardStreamsAreTerminals();

    bool interactive() const { return m_interactive; }

    // Writes `text` as a line of its own: a line being redrawn is ended first, and a question
    // waiting for its answer is asked again after it.
    void line(const std::string &text);
    // Draws `text` over the line being redrawn (terminal only; elsewhere nothing).
    void redraw(const std::string &text);
    // Ends the line being redrawn, if there is one: kept as it stands, or cleared away.
    void endRedraw(bool keep = true);
    // Writes `question` and reads one line of answer from standard input, without its line end;
    // nothing when standard input ends or fails first.
    std::optional<std::string> ask(const std::string &question);

  private:
    void write(const std::string &text);

    std::mutex m_mutex;
    const bool m_interactive;
    const bool m_escapes;  // the terminal takes the sequence that clears to the line's end
    bool m_redrawing = false;
    std::size_t m_drawn = 0;  // the length of the line being redrawn
    std::string m_question;   // asked and not yet answered
};

}  // namespace console
