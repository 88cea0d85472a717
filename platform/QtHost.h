// The program's real host: Qt message boxes, a blocking sleep of the GUI thread, and exit.
#pragma once

#include <QMessageBox>
#include <memory>

#include "platform/Platform.h"

namespace platform {

// The message box QtHost shows for a request, not yet shown.
std::unique_ptr<QMessageBox> buildMessageBox(const MessageBoxRequest &request);

class QtHost : public Host {
  public:
    Answer messageBox(const MessageBoxRequest &request) override;
    void sleepMilliseconds(unsigned milliseconds) override;
    void exitProcess(int status) override;
};

}  // namespace platform
