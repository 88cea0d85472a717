#include "dialogs/OpenFileForm.h"

#include "app/Glyphs.h"
#include "app/WindowSetup.h"

TOpenFileDialog::TOpenFileDialog(QWidget *parent)
    : QDialog(parent), FileName(new QLineEdit(QStringLiteral("*.hex"), this)) {
    app::setupFixedWindow(*this, QStringLiteral("OpenFileDialog"), 365, 312,
                          Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setWindowIcon(app::programIcon());
    setFont(app::msSansSerif(8, true));
    FileName->setGeometry(80, 245, 146, 21);
}
