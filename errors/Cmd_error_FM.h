// The command error dialog: explains a failed drive command and asks Retry, Ignore or Stop.
#pragma once

#include <QDialog>
#include <cstdint>

class TCMD_Error_Form : public QDialog {
    Q_OBJECT
public:
    explicit TCMD_Error_Form(QWidget *parent = nullptr);

    std::uint8_t RetryRequested = 0;
    std::uint8_t StopRequested = 0;
};
