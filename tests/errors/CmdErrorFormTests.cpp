// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The command error dialog on the offscreen platform, answered by clicking its real buttons.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "errors/Cmd_error_FM.h"
#include "tests/support/GuiSupport.h"
#include "units/MainState.h"

using errors::CommandAnswer;
using Lines = QStringList;

namespace {

constexpr std::uint8_t kWriteBuffer = 0x3B;

void expectGeometry(const QWidget *widget, int left, int top, int width, int height) {
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), QRect(left, top, width, height));
}

}  // namespace

class CommandErrorDialog : public ::testing::Test {
  protected:
    // Runs the result check for a failed WRITE BUFFER; once the dialog is up, `whileShown` runs
    // and then `button` is clicked with the mouse.
    bool fail(aspi::CommandResult result, QPushButton *TCMD_Error_Form::*button,
              const std::function<void()> &whileShown = {}) {
        testing_support::whenModalShown([this, button, whileShown](QWidget *modal) {
            EXPECT_EQ(modal, &form);
            if (whileShown) {
                whileShown();
            }
            QTest::mouseClick(form.*button, Qt::LeftButton);
        });
        return errors::CheckCommandResult(state, result, kWriteBuffer, form);
    }

    void setSense(std::uint8_t senseByte, std::uint8_t asc, std::uint8_t ascq) {
        state.LastSense[2] = senseByte;
        state.LastSense[12] = asc;
        state.LastSense[13] = ascq;
    }

    Lines memoLines() const { return form.Memo1->toPlainText().split(QLatin1Char('\n')); }

    units::MainState state;
    TCMD_Error_Form form;
};

TEST_F(CommandErrorDialog, WindowAndControls) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Command error information"));
    EXPECT_EQ(form.size(), QSize(327, 265));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(form.font().pointSize(), 8);

    expectGeometry(form.Memo1, 0, 5, 326, 201);
    EXPECT_TRUE(form.Memo1->isReadOnly());
    EXPECT_EQ(form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
    expectGeometry(form.GroupBox1, 0, 210, 326, 51);
    EXPECT_TRUE(form.GroupBox1->title().isEmpty());

    const struct {
        QPushButton *button;
        const char *caption;
        int left;
    } buttons[] = {{form.Retry_btn, "Retry", 20},
                   {form.Ignore_btn, "Ignore", 125},
                   {form.Stop_btn, "Stop", 230}};
    for (const auto &b : buttons) {
        EXPECT_EQ(b.button->parentWidget(), form.GroupBox1);
        expectGeometry(b.button, b.left, 15, 75, 25);
        EXPECT_EQ(b.button->text(), QString::fromLatin1(b.caption));
        EXPECT_TRUE(b.button->font().bold());
        EXPECT_FALSE(b.button->isDefault() || b.button->autoDefault());
        EXPECT_EQ(b.button->iconSize(), QSize(16, 16));
        const QImage normal = b.button->icon().pixmap(16, 16, QIcon::Normal).toImage();
        EXPECT_EQ(normal.size(), QSize(16, 16));
        EXPECT_NE(normal, b.button->icon().pixmap(16, 16, QIcon::Disabled).toImage());
    }
    // Tab order: the text box, then Ignore, Retry, Stop.
    std::vector<QWidget *> order;
    for (QWidget *w = form.nextInFocusChain(); w != &form; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) != 0) {
            order.push_back(w);
        }
    }
    EXPECT_EQ(order,
              (std::vector<QWidget *>{form.Memo1, form.Ignore_btn, form.Retry_btn, form.Stop_btn}));
    EXPECT_EQ(form.RetryRequested, 0);
    EXPECT_EQ(form.StopRequested, 0);
}

TEST_F(CommandErrorDialog, SuccessShowsNothing) {
    bool shown = false;
    // Should the dialog come up after all, close it so the failure is reported, not a hang.
    QTimer::singleShot(500, &form, [this, &shown] {
        shown = form.isVisible();
        form.close();
    });
    EXPECT_TRUE(errors::CheckCommandResult(state, 0x0001, kWriteBuffer, form));
    EXPECT_FALSE(shown);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
}

TEST_F(CommandErrorDialog, SenseExampleThenStatusExampleFollowingIt) {
    const Lines senseExample = {"Host Adapter ID:1   Device ID:3",
                                "Operate Code:3b",
                                "Sense Key:5  Illegal request",
                                "ASC:24  ASCQ:0",
                                "Invalid field in CDB",
                                ""};
    const Lines statusExample = {"Host Adapter ID:1   Device ID:3", "Operate Code:3b",
                                 "ASPI State:2    SCSI command has been aborted.",
                                 "Host adapter and target state:11    Selection time out.", ""};
    state.SelectedAdapter = 1;
    state.SelectedTarget = 3;
    setSense(0x05, 0x24, 0x00);
    EXPECT_FALSE(fail(0x0004, &TCMD_Error_Form::Retry_btn));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(memoLines(), senseExample);
    EXPECT_EQ(errors::answerOf(form), CommandAnswer::Retry);

    EXPECT_FALSE(fail(0x1102, &TCMD_Error_Form::Ignore_btn, [this] {
        // The dialog sits in the middle of the screen while it asks.
        const QRect screen = form.screen()->availableGeometry();
        EXPECT_LE((form.frameGeometry().center() - screen.center()).manhattanLength(), 10);
        testing_support::saveFramedScreenshot(form, QStringLiteral("CommandError"));
    }));
    EXPECT_EQ(memoLines(), senseExample + statusExample) << "the first record stays";
    EXPECT_EQ(errors::answerOf(form), CommandAnswer::Ignore);
}

TEST_F(CommandErrorDialog, AdapterStatusWithErrorShowsEarlierSenseBytes) {
    // No command has ended in CHECK CONDITION yet: the sense bytes are zeros.
    EXPECT_FALSE(fail(0x1104, &TCMD_Error_Form::Ignore_btn));
    EXPECT_EQ(memoLines().mid(2), (Lines{"Sense Key:0  No sense", "ASC:0  ASCQ:0",
                                         "No additional sense information", ""}));
    // Later, the bytes of the latest CHECK CONDITION stay and are shown again.
    setSense(0x02, 0x3A, 0x01);
    EXPECT_FALSE(fail(0x1104, &TCMD_Error_Form::Ignore_btn));
    EXPECT_EQ(memoLines().mid(8), (Lines{"Sense Key:2  Not ready", "ASC:3a  ASCQ:1",
                                         "Medium not present - tray closed", ""}));
    EXPECT_FALSE(form.Memo1->toPlainText().contains(QStringLiteral("Host adapter and target")));
}

TEST_F(CommandErrorDialog, SenseByteWithFlagAndUnlistedQualifier) {
    setSense(0x25, 0x80, 0x00);
    EXPECT_FALSE(fail(0x0204, &TCMD_Error_Form::Ignore_btn));
    setSense(0x05, 0x3B, 0x00);
    EXPECT_FALSE(fail(0x0204, &TCMD_Error_Form::Ignore_btn));
    EXPECT_EQ(memoLines().mid(2),
              (Lines{"Sense Key:5  Illegal request", "ASC:80  ASCQ:0", "", "",
                     "Host Adapter ID:0   Device ID:0", "Operate Code:3b",
                     "Sense Key:5  Illegal request", "ASC:3b  ASCQ:0", "", ""}));
}

TEST_F(CommandErrorDialog, UnlistedStatusesShowNoText) {
    EXPECT_FALSE(fail(0x0082, &TCMD_Error_Form::Ignore_btn));
    EXPECT_EQ(memoLines().mid(2),
              (Lines{"ASPI State:82    ", "Host adapter and target state:0    ", ""}));
}

TEST_F(CommandErrorDialog, StopOutranksAnEarlierRetry) {
    EXPECT_FALSE(fail(0x0004, &TCMD_Error_Form::Retry_btn));
    EXPECT_EQ(errors::answerOf(form), CommandAnswer::Retry);
    EXPECT_FALSE(fail(0x0004, &TCMD_Error_Form::Stop_btn));
    EXPECT_EQ(form.RetryRequested, 1);
    EXPECT_EQ(form.StopRequested, 1);
    EXPECT_EQ(errors::answerOf(form), CommandAnswer::Stop);
}

TEST_F(CommandErrorDialog, EachShowingResetsStop) {
    EXPECT_FALSE(fail(0x0004, &TCMD_Error_Form::Stop_btn));
    EXPECT_EQ(errors::answerOf(form), CommandAnswer::Stop);
    EXPECT_FALSE(
        fail(0x0004, &TCMD_Error_Form::Ignore_btn, [this] { EXPECT_EQ(form.StopRequested, 0); }));
    EXPECT_EQ(errors::answerOf(form), CommandAnswer::Ignore);
}

// Only the buttons answer: Enter, Escape and close requests (the window's own, and the window
// manager's through the window) leave the dialog up.
TEST_F(CommandErrorDialog, EnterEscapeAndCloseRequestsDoNotAnswer) {
    EXPECT_FALSE(fail(0x0004, &TCMD_Error_Form::Retry_btn, [this] {
        for (QWidget *target :
             {static_cast<QWidget *>(form.Memo1), static_cast<QWidget *>(&form)}) {
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        EXPECT_FALSE(form.close());
        ASSERT_NE(form.windowHandle(), nullptr);
        EXPECT_FALSE(form.windowHandle()->close());
        QCoreApplication::processEvents();
        EXPECT_TRUE(form.isVisible());
        EXPECT_EQ(form.RetryRequested, 0);
    }));
    EXPECT_EQ(errors::answerOf(form), CommandAnswer::Retry);
}

TEST_F(CommandErrorDialog, OldestRecordsGoPastTheBound) {
    form.CommandErrorInfo = {1, 0, 0x3B, 0, 0, 0, 0x02, 0x11};
    form.FormShow();
    form.CommandErrorInfo.HostAdapterId = 2;
    for (int i = 0; i < TCMD_Error_Form::kMaxRecords; ++i) {
        form.FormShow();
    }
    const Lines lines = memoLines();
    EXPECT_EQ(lines.size(), TCMD_Error_Form::kMaxRecords * 5);
    EXPECT_EQ(lines.first(), QStringLiteral("Host Adapter ID:2   Device ID:0"));
    EXPECT_FALSE(form.Memo1->toPlainText().contains(QStringLiteral("Host Adapter ID:1 ")));
    EXPECT_EQ(lines.last(), QString());
}
