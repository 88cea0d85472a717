// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/StartupNotices.h"

#include "app/DownloadMain.h"
#include "app/EmptyListNotice.h"
#include "platform/Platform.h"

namespace app {

namespace {

// An empty unit list explained: why the manager found nothing to list, and what to do.
void showEmptyUnitListNotice(TMainForm &mainForm) {
    const auto text =
        emptyUnitListText(mainForm.DrivesList->count(), mainForm.state.aspi.scanReport());
    if (text) {
        platform::messageBox(*text, std::nullopt, platform::Icon::Information);
    }
}

}  // namespace

void showStartupNotices(TMainForm &mainForm) {
    if (mainForm.state.StartupNoticesShown) {
        return;
    }
    mainForm.state.StartupNoticesShown = true;
    showEmptyUnitListNotice(mainForm);
}

}  // namespace app
