// The finish notice: the update is complete and the PC is to be switched off.
#pragma once

#include <QDialog>

class TFinishBox : public QDialog {
    Q_OBJECT
public:
    explicit TFinishBox(QWidget *parent = nullptr);
};
