// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The small layer over what the host provides: message boxes, a blocking sleep, process exit and
// the update guard.
// The program reaches these only through platform::host(), so tests can install a stand-in that
// records each request and answers it without a display, without waiting and without ending.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/PowerSupply.h"
#include "platform/UpdateGuard.h"

namespace platform {

enum class Icon { None, Warning, Error, Question, Information };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct MessageBoxRequest {
    std::string text;
    // No caption: the toolkit's own default caption shows.
    std::optional<std::string> caption;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    // For a file the system refused: the file and the system's reason ("cannot open lix1.hex:
    // No such file or directory"). The shell writes it in the text's place; a window's box shows
    // the text alone.
    std::string fileFault;
};

class Host {
  public:
    virtual ~Host() = default;
    // Shows a modal message box with no owner window and returns the button pressed.
    virtual Answer messageBox(const MessageBoxRequest &request) = 0;
    // Blocks the calling (GUI) thread; no events are processed meanwhile.
    virtual void sleepMilliseconds(unsigned milliseconds) = 0;
    // Flushes standard output and ends the process at once. A stand-in may return or throw
    // instead; platform::exitProcess guards the caller against a return.
    virtual void exitProcess(int status) = 0;
    // Takes the update guard (platform/UpdateGuard.h) for an update described by `why`
    // ("Updating the firmware of <vendor> <product>"); the guard owns `unitHold`, the hold the
    // manager already took of the unit (null: the manager cannot hold units). Returns null when
    // another update holds the machine's update lock, which is taken only without a unit hold;
    // nothing is held then (the unit hold is let go).
    virtual std::unique_ptr<UpdateGuard> takeUpdateGuard(const std::string &why,
                                                         std::unique_ptr<UnitHold> unitHold) = 0;
    // The computer's power supply, asked of the system (platform/UPowerState.h) by the hosts of
    // the window and the shell, under the guard's deadline. This one does not ask: NotAsked.
    virtual PowerState powerState() { return {}; }
};

// The host in force. Before any host is installed this is a host that writes message boxes to
// standard error and answers them with their first button (used by command-line tools).
Host &host();
// Installs a host (not owned); nullptr restores the standard-error host.
void installHost(Host *host);

// Convenience wrappers over host().
Answer messageBox(const std::string &text, std::optional<std::string> caption, Icon icon,
                  Buttons buttons = Buttons::Ok);
// A warning box without a caption for a file the system refused, with the file and the
// system's reason (MessageBoxRequest::fileFault).
void fileWarning(const std::string &text, const std::string &fileFault);
[[noreturn]] void exitProcess(int status);
void sleepMilliseconds(unsigned milliseconds);

// A host for programs without windows: message boxes go to standard error, one line each.
class StderrHost : public Host {
  public:
    Answer messageBox(const MessageBoxRequest &request) override;
    void sleepMilliseconds(unsigned milliseconds) override;
    void exitProcess(int status) override;
    // Such programs send no firmware: a guard that holds nothing but the unit hold.
    std::unique_ptr<UpdateGuard> takeUpdateGuard(const std::string &why,
                                                 std::unique_ptr<UnitHold> unitHold) override;
};

}  // namespace platform
