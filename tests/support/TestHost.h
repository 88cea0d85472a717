// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A recording, scripted stand-in for the host: message boxes are recorded and answered from a
// script, sleeps are recorded without waiting, and an exit throws ProcessExit instead of ending.
// The update guard holds nothing unless a test supplies one (makeGuard); taking and letting go of
// it are recorded either way.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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

    // Null when `anotherUpdateRunning`.
    std::unique_ptr<platform::UpdateGuard> takeUpdateGuard(
        const std::string &why, std::unique_ptr<platform::UnitHold> unitHold) override {
        if (anotherUpdateRunning) {
            return nullptr;
        }
        std::unique_ptr<platform::UpdateGuard> held =
            makeGuard ? makeGuard(why, std::move(unitHold))
                      : std::make_unique<platform::UpdateGuard>(std::move(unitHold));
        if (!held) {
            return nullptr;
        }
        return std::make_unique<RecordedGuard>(*this, why, std::move(held));
    }

    std::vector<platform::MessageBoxRequest> boxes;
    std::deque<platform::Answer> answers;
    std::vector<unsigned> sleeps;
    std::optional<int> exitStatus;
    std::function<void(const platform::MessageBoxRequest &)> onMessageBox;
    std::function<void(unsigned)> onSleep;
    bool anotherUpdateRunning = false;
    std::function<std::unique_ptr<platform::UpdateGuard>(const std::string &,
                                                         std::unique_ptr<platform::UnitHold>)>
        makeGuard;
    // "taken: <why>" and "released", in order; onGuard sees each as it is added.
    std::vector<std::string> guardEvents;
    std::function<void(const std::string &)> onGuard;

  private:
    class RecordedGuard : public platform::UpdateGuard {
      public:
        RecordedGuard(TestHost &host, const std::string &why,
                      std::unique_ptr<platform::UpdateGuard> held)
            : m_host(host), m_held(std::move(held)) {
            m_host.noteGuard("taken: " + why);
        }
        ~RecordedGuard() override {
            m_held.reset();
            m_host.noteGuard("released");
        }
        long long keeperProcess() const override { return m_held->keeperProcess(); }

      private:
        TestHost &m_host;
        std::unique_ptr<platform::UpdateGuard> m_held;
    };

    void noteGuard(const std::string &event) {
        guardEvents.push_back(event);
        if (onGuard) {
            onGuard(event);
        }
    }
};

}  // namespace testing_support
