// The wait notice shown during the fixed wait after the last block: a title bar and nothing the
// user can close.
#pragma once

#include <QDialog>

class TWaitDlg : public QDialog {
    Q_OBJECT
public:
    explicit TWaitDlg(QWidget *parent = nullptr);
};
