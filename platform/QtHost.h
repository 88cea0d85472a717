// The program's real host: Qt message boxes, a blocking sleep of the GUI thread, and exit.
#pragma once

#include "platform/Platform.h"

namespace platform {

class QtHost : public Host {
public:
    Answer messageBox(const MessageBoxRequest &request) override;
    void sleepMilliseconds(unsigned milliseconds) override;
    void exitProcess(int status) override;
};

}  // namespace platform
