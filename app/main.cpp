// Program entry: creates the six windows in order, the main window first (its construction binds
// the drive-access manager and scans the buses), then runs the message loop.
#include <exception>

#include "app/Application.h"
#include "app/DownloadMain.h"
#include "dialogs/AboutDialogForm.h"
#include "dialogs/FinishB.h"
#include "dialogs/OpenFileForm.h"
#include "dialogs/wait.h"
#include "errors/Cmd_error_FM.h"
#include "platform/QtHost.h"

int main(int argc, char **argv) {
    TApplication application(argc, argv);
    platform::QtHost host;
    platform::installHost(&host);
    try {
        TMainForm MainForm;
        TAboutDialog AboutDialog;
        TOpenFileDialog OpenFileDialog;
        TCMD_Error_Form CMD_Error_Form;
        TWaitDlg WaitDlg;
        TFinishBox FinishBox;
        MainForm.attachWindows(
            {&AboutDialog, &OpenFileDialog, &CMD_Error_Form, &WaitDlg, &FinishBox});
        MainForm.show();
        TApplication::exec();
    } catch (const std::exception &error) {
        application.showException(error.what());
    }
    return 0;
}
