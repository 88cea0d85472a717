// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "errors/Cmd_error_FM.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QShowEvent>
#include <QTextCursor>

#include "errors/ErrorGlyphs.h"
#include "ui/WindowSetup.h"

namespace {

QPushButton *glyphButton(QWidget *parent, const char *text, const QIcon &glyph, int left) {
    auto *button = new QPushButton(glyph, ui::ansi(text), parent);
    button->setGeometry(left, 15, 75, 25);
    button->setIconSize(QSize(16, 16));
    button->setFont(ui::msSansSerif(8, true));
    // Neither Enter nor Escape may answer for the user.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

TCMD_Error_Form::TCMD_Error_Form(QWidget *parent) : QDialog(parent) {
    // A dialog frame with a caption only: no close box, no system menu.
    ui::setupFixedWindow(*this, QStringLiteral("Command error information"), 327, 265,
                         Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(ui::msSansSerif(8, false));
    createMemo();
    createButtons();
    setTabOrder(Memo1, Ignore_btn);
    setTabOrder(Ignore_btn, Retry_btn);
    setTabOrder(Retry_btn, Stop_btn);
}

void TCMD_Error_Form::createMemo() {
    Memo1 = new QPlainTextEdit(this);
    Memo1->setGeometry(0, 5, 326, 201);
    Memo1->setAccessibleName(windowTitle());
    Memo1->setReadOnly(true);
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void TCMD_Error_Form::createButtons() {
    GroupBox1 = new QGroupBox(this);
    GroupBox1->setGeometry(0, 210, 326, 51);
    Retry_btn = glyphButton(GroupBox1, "Retry", errors::retryGlyph(), 20);
    Ignore_btn = glyphButton(GroupBox1, "Ignore", errors::ignoreGlyph(), 125);
    Stop_btn = glyphButton(GroupBox1, "Stop", errors::stopGlyph(), 230);
    connect(Retry_btn, &QPushButton::clicked, this, &TCMD_Error_Form::Retry_btnClick);
    connect(Ignore_btn, &QPushButton::clicked, this, &TCMD_Error_Form::Ignore_btnClick);
    connect(Stop_btn, &QPushButton::clicked, this, &TCMD_Error_Form::Stop_btnClick);
}

void TCMD_Error_Form::showModal(const errors::CommandErrorInfo &info) {
    CommandErrorInfo = info;
    exec();
}

void TCMD_Error_Form::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The window system repeats the event once the window is up; act once per showing.
    if (!event->spontaneous()) {
        ui::centerOnScreen(*this);
        FormShow();
    }
}

void TCMD_Error_Form::keyPressEvent(QKeyEvent *event) {
    // Escape would reject the dialog; only the three buttons answer it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TCMD_Error_Form::closeEvent(QCloseEvent *event) {
    if (m_answered) {
        QDialog::closeEvent(event);
    } else {
        event->ignore();
    }
}

void TCMD_Error_Form::closeAnswered() {
    m_answered = true;
    close();
    m_answered = false;
}

void TCMD_Error_Form::FormShow() {
    StopRequested = 0;
    appendRecord();
}

void TCMD_Error_Form::appendRecord() {
    const std::vector<std::string> lines = errors::commandErrorLines(CommandErrorInfo);
    QStringList text;
    for (const std::string &line : lines) {
        text.append(ui::ansi(line));
    }
    // One call, one paragraph per line; the record's last line is the empty separator.
    Memo1->appendPlainText(text.join(QLatin1Char('\n')));
    m_recordLineCounts.push_back(static_cast<int>(lines.size()));

    if (static_cast<int>(m_recordLineCounts.size()) > kMaxRecords) {
        QTextCursor oldest(Memo1->document());
        oldest.movePosition(QTextCursor::Start);
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                            m_recordLineCounts.front());
        oldest.removeSelectedText();
        m_recordLineCounts.pop_front();
    }
    Memo1->moveCursor(QTextCursor::End);
    Memo1->ensureCursorVisible();
}

void TCMD_Error_Form::Retry_btnClick() {
    RetryRequested = 1;
    closeAnswered();
}

void TCMD_Error_Form::Ignore_btnClick() {
    RetryRequested = 0;
    closeAnswered();
}

void TCMD_Error_Form::Stop_btnClick() {
    StopRequested = 1;
    closeAnswered();
}
