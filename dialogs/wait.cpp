#include "dialogs/wait.h"

#include "app/Glyphs.h"
#include "app/WindowSetup.h"

TWaitDlg::TWaitDlg(QWidget *parent) : QDialog(parent) {
    app::setupFixedWindow(*this, QStringLiteral("          Wait a moment please..."), 240, 7,
                          Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowIcon(app::programIcon());
}
