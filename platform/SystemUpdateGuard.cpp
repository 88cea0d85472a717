// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/SystemUpdateGuard.h"

#include <optional>

#include "platform/CloseRefusal.h"
#include "platform/HeldSignals.h"
#include "platform/LogindInhibitor.h"
#include "platform/PortalInhibitor.h"
#include "platform/UpdateKeeper.h"
#include "platform/UpdateLock.h"

namespace platform {

namespace {

class SystemUpdateGuard : public UpdateGuard {
  public:
    SystemUpdateGuard(std::unique_ptr<UnitHold> unitHold, std::unique_ptr<UpdateLock> lock,
                      const UpdateGuardSettings &settings, const std::string &why)
        : UpdateGuard(std::move(unitHold)),
          m_lock(std::move(lock)),
          m_onHeldSignal(settings.onHeldSignal) {
        // The inhibitors first: their requests may take a while on a slow bus, and meanwhile a
        // termination signal must still end the program, as nothing has been sent yet.
        m_inhibitor.emplace(settings.busAddress, why);
        if (settings.askDesktop) {
            m_portal.emplace(
                settings.sessionBusAddress, why,
                settings.windowIdentifier ? settings.windowIdentifier() : std::string());
        }
        m_signals.emplace(settings.announceHeldSignal, settings.announceIgnoredStop);
        m_closeRefusal.emplace();
        // Last, once everything it keeps is held: the unit's hold and the logind inhibitor. The
        // portal's inhibit lives in a bus connection, which a keeper cannot hold.
        // The keeper names the unit only when it keeps the unit's hold.
        std::vector<int> kept;
        std::string unitName;
        if (const UnitHold *hold = UpdateGuard::unitHold()) {
            kept = hold->descriptors();
            unitName = kept.empty() ? std::string() : hold->unitName();
        }
        kept.push_back(m_inhibitor->descriptor());
        m_keeper.emplace(kept, settings.keeperMilliseconds, unitName);
    }

    ~SystemUpdateGuard() override {
        // In reverse order of taking; a held signal is acted on once all is let go.
        m_keeper.reset();
        m_closeRefusal.reset();
        const int signal = m_signals->release();
        m_signals.reset();
        m_portal.reset();
        m_inhibitor.reset();
        m_lock.reset();
        releaseUnit();
        if (signal != 0 && m_onHeldSignal) {
            m_onHeldSignal(signal);
        }
    }

    long long keeperProcess() const override { return m_keeper ? m_keeper->pid() : 0; }

  private:
    std::unique_ptr<UpdateLock> m_lock;
    std::function<void(int)> m_onHeldSignal;
    std::optional<HeldSignals> m_signals;
    std::optional<CloseRefusal> m_closeRefusal;
    std::optional<LogindInhibitor> m_inhibitor;
    std::optional<PortalInhibitor> m_portal;
    std::optional<UpdateKeeper> m_keeper;
};

}  // namespace

std::unique_ptr<UpdateGuard> takeSystemUpdateGuard(const UpdateGuardSettings &settings,
                                                   const std::string &why,
                                                   std::unique_ptr<UnitHold> unitHold) {
    // The unit's own hold keeps other updates of it out; the lock file is for managers without.
    std::unique_ptr<UpdateLock> lock;
    if (!unitHold) {
        lock = std::make_unique<UpdateLock>(settings.lockPath);
        if (lock->heldElsewhere()) {
            return nullptr;
        }
    }
    return std::make_unique<SystemUpdateGuard>(std::move(unitHold), std::move(lock), settings, why);
}

}  // namespace platform
