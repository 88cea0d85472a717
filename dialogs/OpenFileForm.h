// The firmware file chooser: drives, directories, file types and a file-name field. It makes the
// browsed directory the process's current directory and returns a bare name.
#pragma once

#include <QDialog>
#include <QLineEdit>

class TOpenFileDialog : public QDialog {
    Q_OBJECT
public:
    explicit TOpenFileDialog(QWidget *parent = nullptr);

    // Set by OK, cleared by Cancel; the close box leaves it as it was.
    bool FileChosen = false;
    QLineEdit *FileName;
};
