#include "dialogs/AboutDialogForm.h"

#include "app/Glyphs.h"
#include "app/WindowSetup.h"

TAboutDialog::TAboutDialog(QWidget *parent)
    : QDialog(parent),
      Label1(new QLabel(this)),
      Label2(new QLabel(this)),
      Image1(new QLabel(this)),
      OK(new QPushButton(QStringLiteral("OK"), this)) {
    app::setupFixedWindow(*this, QStringLiteral("About CD-R/RW Firmware Update"), 386, 125,
                          Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setWindowIcon(app::programIcon());
    setFont(app::msSansSerifPixels(13, true));
    Label1->setGeometry(55, 10, 256, 16);
    Label2->setGeometry(138, 56, 123, 13);
    Image1->setGeometry(30, 55, 41, 41);
    Image1->setPixmap(app::programIconPixmap(32));
    OK->setGeometry(164, 88, 75, 25);
    connect(OK, &QPushButton::clicked, this, &TAboutDialog::OKClick);
}

void TAboutDialog::OKClick() { close(); }
