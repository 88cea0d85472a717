// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/SystemUpdateGuard.h"

#include <optional>

#include "platform/CloseRefusal.h"
#include "platform/HeldSignals.h"
#include "platform/LogindInhibitor.h"
#include "platform/UpdateLock.h"

namespace platform {

namespace {

class SystemUpdateGuard : public UpdateGuard {
  public:
    SystemUpdateGuard(std::unique_ptr<UpdateLock> lock, const UpdateGuardSettings &settings,
                      const std::string &why)
        : m_lock(std::move(lock)), m_onHeldSignal(settings.onHeldSignal) {
        m_signals.emplace();
        m_closeRefusal.emplace();
        m_inhibitor.emplace(settings.busAddress, why);
    }

    ~SystemUpdateGuard() override {
        // In reverse order of taking; a held signal is acted on once all is let go.
        m_inhibitor.reset();
        m_closeRefusal.reset();
        const int signal = m_signals->release();
        m_signals.reset();
        m_lock.reset();
        if (signal != 0 && m_onHeldSignal) {
            m_onHeldSignal(signal);
        }
    }

  private:
    std::unique_ptr<UpdateLock> m_lock;
    std::function<void(int)> m_onHeldSignal;
    std::optional<HeldSignals> m_signals;
    std::optional<CloseRefusal> m_closeRefusal;
    std::optional<LogindInhibitor> m_inhibitor;
};

}  // namespace

std::unique_ptr<UpdateGuard> takeSystemUpdateGuard(const UpdateGuardSettings &settings,
                                                   const std::string &why) {
    auto lock = std::make_unique<UpdateLock>(settings.lockPath);
    if (lock->heldElsewhere()) {
        return nullptr;
    }
    return std::make_unique<SystemUpdateGuard>(std::move(lock), settings, why);
}

}  // namespace platform
