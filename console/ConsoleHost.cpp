// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "console/ConsoleHost.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/SystemUpdateGuard.h"
#include "platform/UPowerState.h"

namespace console {

namespace {

constexpr const char *kWaitText = "Wait a moment please...";  // the wait notice's words
constexpr unsigned kLineEverySeconds = 10;

std::string signalName(int signal) {
    const char *abbreviation = sigabbrev_np(signal);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                   : "signal " + std::to_string(signal);
}

}  // namespace

ConsoleHost::ConsoleHost(Terminal &terminal, const ConsoleSettings &settings)
    : m_terminal(terminal), m_settings(settings) {
    m_settings.guard.askDesktop = false;
    if (!m_settings.guard.onHeldSignal) {
        m_settings.guard.onHeldSignal = [this](int signal) { m_heldSignal = signal; };
    }
    m_settings.guard.announceHeldSignal = [&terminal](int signal) {
        terminal.line("cdrw-fwupdate: " + signalName(signal) +
                      " held: the update goes on to its end, then the program ends");
    };
    m_settings.guard.announceIgnoredStop = [&terminal](int signal) {
        terminal.line("cdrw-fwupdate: " + signalName(signal) +
                      " ignored: the update goes on to its end; the program cannot be stopped "
                      "until then");
    };
}

platform::Answer ConsoleHost::messageBox(const platform::MessageBoxRequest &request) {
    m_terminal.line(request.fileFault.empty() ? request.text
                                              : "cdrw-fwupdate: " + request.fileFault);
    return request.buttons == platform::Buttons::YesNo ? platform::Answer::No
                                                       : platform::Answer::Ok;
}

void ConsoleHost::sleepMilliseconds(unsigned milliseconds) {
    const std::uint64_t second = m_settings.secondMilliseconds;
    const std::uint64_t total = std::uint64_t{milliseconds} * second / 1000;
    for (std::uint64_t done = 0; done < total;) {
        const std::uint64_t left = (total - done + second - 1) / second;
        const std::string text = std::string(kWaitText) + " " + std::to_string(left) + " s";
        if (m_terminal.interactive()) {
            m_terminal.redraw(text);
        } else if (done == 0 || left % kLineEverySeconds == 0) {
            m_terminal.line(text);
        }
        const std::uint64_t slice = std::min(second, total - done);
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        done += slice;
    }
    // The countdown goes, as the wait notice closes.
    m_terminal.endRedraw(false);
}

void ConsoleHost::exitProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

std::unique_ptr<platform::UpdateGuard> ConsoleHost::takeUpdateGuard(
    const std::string &why, std::unique_ptr<platform::UnitHold> unitHold) {
    return platform::takeSystemUpdateGuard(m_settings.guard, why, std::move(unitHold));
}

platform::PowerState ConsoleHost::powerState() {
    return platform::readUPowerState(m_settings.guard.busAddress);
}

}  // namespace console
