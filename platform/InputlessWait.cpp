// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/InputlessWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <exception>
#include <thread>

#include "platform/Platform.h"

namespace platform {

void runWithoutInput(const std::function<void()> &work) {
    QCoreApplication *application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() != application->thread()) {
        work();
        return;
    }
    std::exception_ptr failure;
    {
        QEventLoop loop;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            done.store(true);
            // Wakes the loop below if it waits for events.
            QMetaObject::invokeMethod(
                &loop, [] {}, Qt::QueuedConnection);
        });
        // Whatever leaves this block, the worker has ended first.
        struct Joiner {
            std::thread &thread;
            ~Joiner() { thread.join(); }
        } joiner{worker};
        // processEvents, not exec(): an application that was told to quit makes exec() return
        // at once, and the work must run out all the same.
        while (!done.load()) {
            loop.processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void waitWithoutInput(unsigned milliseconds) {
    runWithoutInput([milliseconds] { sleepMilliseconds(milliseconds); });
}

}  // namespace platform
