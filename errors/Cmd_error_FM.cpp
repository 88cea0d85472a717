#include "errors/Cmd_error_FM.h"

#include "app/WindowSetup.h"

TCMD_Error_Form::TCMD_Error_Form(QWidget *parent) : QDialog(parent) {
    app::setupFixedWindow(*this, QStringLiteral("Command error information"), 327, 265,
                          Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(app::msSansSerif(8, false));
}
