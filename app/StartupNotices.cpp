// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/StartupNotices.h"

#include "app/DownloadMain.h"
#include "app/EmptyListNotice.h"
#include "app/UpdateVerdicts.h"
#include "platform/Platform.h"
#include "update/UpdateChecks.h"

namespace app {

namespace {

// An empty unit list explained: why the manager found nothing to list, and what to do.
void showEmptyUnitListNotice(TMainForm &mainForm) {
    // The report costs the manager a look at every unit's node: only an empty list needs it.
    const int listed = mainForm.DrivesList->count();
    if (listed != 0) {
        return;
    }
    const auto text = emptyUnitListText(listed, mainForm.state.aspi.scanReport());
    if (text) {
        platform::messageBox(*text, std::nullopt, platform::Icon::Information);
    }
}

// What became of earlier updates, from the journal (app/UpdateVerdicts.h).
void showUpdateVerdictsNotice(TMainForm &mainForm) {
    const update::Journal *journal = mainForm.journal();
    if (journal == nullptr) {
        return;
    }
    const aspi::AspiManager &manager = mainForm.state.aspi;
    showUpdateVerdicts(*journal, journal->context(manager.simulated(), manager.simulatedBoot()),
                       listedUnits(mainForm.state.units, mainForm.unitLines()));
}

// The checks before the first block that the user turned off, said once.
void showChecksOffNotice(const TMainForm &mainForm) {
    const std::string text =
        update::overridesText({mainForm.state.AllowUsbBridge, mainForm.state.AllowBattery});
    if (!text.empty()) {
        platform::messageBox(text, std::nullopt, platform::Icon::Information);
    }
}

}  // namespace

void showStartupNotices(TMainForm &mainForm) {
    if (mainForm.state.StartupNoticesShown) {
        return;
    }
    mainForm.state.StartupNoticesShown = true;
    showChecksOffNotice(mainForm);
    showEmptyUnitListNotice(mainForm);
    showUpdateVerdictsNotice(mainForm);
}

}  // namespace app
