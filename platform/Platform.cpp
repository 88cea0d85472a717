// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/Platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace platform {

namespace {
StderrHost g_stderrHost;
Host *g_host = nullptr;
}  // namespace

Host &host() {
    return g_host != nullptr ? *g_host : g_stderrHost;
}

void installHost(Host *newHost) {
    g_host = newHost;
}

Answer messageBox(const std::string &text, std::optional<std::string> caption, Icon icon,
                  Buttons buttons) {
    return host().messageBox(MessageBoxRequest{text, std::move(caption), icon, buttons, {}});
}

void fileWarning(const std::string &text, const std::string &fileFault) {
    host().messageBox(MessageBoxRequest{text, std::nullopt, Icon::Warning, Buttons::Ok, fileFault});
}

void exitProcess(int status) {
    host().exitProcess(status);
    // A host that returns from exitProcess would let the caller run on past a fatal point.
    std::fflush(stdout);
    std::_Exit(status);
}

void sleepMilliseconds(unsigned milliseconds) {
    host().sleepMilliseconds(milliseconds);
}

Answer StderrHost::messageBox(const MessageBoxRequest &request) {
    std::fprintf(stderr, "%s\n", request.text.c_str());
    return request.buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

void StderrHost::sleepMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void StderrHost::exitProcess(int status) {
    std::fflush(stdout);
    std::_Exit(status);
}

std::unique_ptr<UpdateGuard> StderrHost::takeUpdateGuard(const std::string &,
                                                         std::unique_ptr<UnitHold> unitHold) {
    return std::make_unique<UpdateGuard>(std::move(unitHold));
}

}  // namespace platform
