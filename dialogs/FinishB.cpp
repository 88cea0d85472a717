#include "dialogs/FinishB.h"

#include "app/WindowSetup.h"

TFinishBox::TFinishBox(QWidget *parent) : QDialog(parent) {
    app::setupFixedWindow(*this, QStringLiteral("Warning"), 458, 214,
                          Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint);
}
