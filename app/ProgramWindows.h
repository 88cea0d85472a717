// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program's six windows, created in this order and kept until the process ends: the main
// window first (its construction binds the drive-access manager and scans the buses), then the
// About box, the file chooser, the command error dialog, the wait notice and the finish box.
#pragma once

#include "app/DownloadMain.h"
#include "dialogs/AboutDialogForm.h"
#include "dialogs/FinishB.h"
#include "dialogs/OpenFileForm.h"
#include "dialogs/wait.h"
#include "errors/Cmd_error_FM.h"

struct ProgramWindows {
    TMainForm MainForm;
    TAboutDialog AboutDialog;
    TOpenFileDialog OpenFileDialog;
    TCMD_Error_Form CMD_Error_Form;
    TWaitDlg WaitDlg;
    TFinishBox FinishBox;

    ProgramWindows() {
        MainForm.attachWindows(
            {&AboutDialog, &OpenFileDialog, &CMD_Error_Form, &WaitDlg, &FinishBox});
    }
};
