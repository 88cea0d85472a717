// A recording, scripted stand-in for the host: message boxes are recorded and answered from a
// script, sleeps are recorded without waiting, and an exit throws ProcessExit instead of ending.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "platform/Platform.h"

namespace testing_support {

struct ProcessExit {
    int status;
};

class TestHost : public platform::Host {
  public:
    TestHost() { platform::installHost(this); }
    ~TestHost() override { platform::installHost(nullptr); }
    TestHost(const TestHost &) = delete;
    TestHost &operator=(const TestHost &) = delete;

    platform::Answer messageBox(const platform::MessageBoxRequest &request) override {
        boxes.push_back(request);
        if (onMessageBox) {
            onMessageBox(request);
        }
        if (!answers.empty()) {
            const platform::Answer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return request.buttons == platform::Buttons::YesNo ? platform::Answer::Yes
                                                           : platform::Answer::Ok;
    }

    void sleepMilliseconds(unsigned milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep) {
            onSleep(milliseconds);
        }
    }

    void exitProcess(int status) override {
        exitStatus = status;
        throw ProcessExit{status};
    }

    std::vector<platform::MessageBoxRequest> boxes;
    std::deque<platform::Answer> answers;
    std::vector<unsigned> sleeps;
    std::optional<int> exitStatus;
    std::function<void(const platform::MessageBoxRequest &)> onMessageBox;
    std::function<void(unsigned)> onSleep;
};

}  // namespace testing_support
