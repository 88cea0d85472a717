// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The About box, the wait notice and the finish box on the offscreen platform.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTest>

#include "app/DownloadMain.h"
#include "dialogs/AboutDialogForm.h"
#include "dialogs/FinishB.h"
#include "dialogs/wait.h"
#include "tests/support/GuiSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestHost.h"

TEST(AboutBox, TitleFollowsTheVariant) {
    testing_support::TestHost host;
    TMainForm form;
    TAboutDialog about;
    form.attachWindows({&about, nullptr, nullptr, nullptr, nullptr});

    testing_support::whenModalShown([&about](QWidget *) {
        testing_support::pumpEvents();
        testing_support::saveFramedScreenshot(about, QStringLiteral("AboutDialog"));
        QTest::mouseClick(about.OK, Qt::LeftButton);
    });
    form.AboutClick();
    EXPECT_EQ(about.Label1->text(), QStringLiteral("VEK CD-R/RW Firmware Update V1.1"));
    EXPECT_FALSE(about.isVisible());

    form.RadioItems[5]->setChecked(true);
    testing_support::whenModalShown([&about](QWidget *) { about.close(); });
    form.AboutClick();
    EXPECT_EQ(about.Label1->text(), QStringLiteral("ZAV CD-R/RW Firmware Update V1.1"));
}

TEST(AboutBox, Layout) {
    TAboutDialog about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About CD-R/RW Firmware Update"));
    EXPECT_EQ(about.size(), QSize(386, 125));
    EXPECT_TRUE(about.windowFlags() & Qt::WindowStaysOnTopHint);
    testing_support::expectControls({
        {about.Label1, {55, 10, 256, 16}},
        {about.Label2, {138, 56, 123, 13}, "Version " CDRW_VERSION},
        {about.Image1, {30, 55, 41, 41}},
        {about.OK, {164, 88, 75, 25}, "OK"},
    });
    EXPECT_TRUE(about.Label1->font().bold());
    EXPECT_EQ(about.Label1->font().pixelSize(), 13);
    EXPECT_FALSE(about.Label2->font().bold());
    EXPECT_EQ(about.Label2->font().pixelSize(), 11);
    EXPECT_LE(about.Label2->fontMetrics().horizontalAdvance(about.Label2->text()), 123)
        << "the notice fits its one line";
    EXPECT_EQ(about.Image1->pixmap().size(), QSize(32, 32));

    // The longest title fits.
    about.Label1->setText(QStringLiteral("FALKONIS CD-R/RW Firmware Update V1.1"));
    about.show();
    EXPECT_EQ(about.Label1->pos(), QPoint(55, 10));
    EXPECT_LE(about.Label1->fontMetrics().horizontalAdvance(about.Label1->text()),
              about.Label1->width());
    EXPECT_LE(about.Label1->geometry().right(), about.width());
    about.hide();
}

TEST(WaitNotice, CannotBeClosedByTheUser) {
    TWaitDlg wait;
    EXPECT_EQ(wait.windowTitle(), QStringLiteral("          Wait a moment please..."));
    EXPECT_EQ(wait.width(), 240);
    for (const Qt::WindowType button :
         {Qt::WindowCloseButtonHint, Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint,
          Qt::WindowMaximizeButtonHint}) {
        EXPECT_FALSE(wait.windowFlags() & button) << button;
    }
    EXPECT_TRUE(wait.windowFlags() & Qt::WindowTitleHint);
    EXPECT_TRUE(wait.windowFlags() & Qt::WindowStaysOnTopHint);
    // The words in the client area too, whole, and named for a screen reader.
    EXPECT_EQ(wait.Message->text(), QStringLiteral("Wait a moment please..."));
    EXPECT_EQ(wait.Message->accessibleName(), wait.Message->text());
    EXPECT_TRUE(wait.rect().contains(wait.Message->geometry()));
    EXPECT_LE(wait.Message->fontMetrics().horizontalAdvance(wait.Message->text()),
              wait.Message->width());
    EXPECT_GE(wait.Message->height(), wait.Message->fontMetrics().height());

    wait.showNotice();
    ASSERT_TRUE(wait.isVisible());
    EXPECT_FALSE(wait.isModal());
    testing_support::saveFramedScreenshot(wait, QStringLiteral("WaitDlg"));

    QCloseEvent closeEvent;
    QCoreApplication::sendEvent(&wait, &closeEvent);
    EXPECT_FALSE(closeEvent.isAccepted()) << "a close request is refused";
    EXPECT_FALSE(wait.close());
    QTest::keyClick(&wait, Qt::Key_Escape);
    EXPECT_TRUE(wait.isVisible());
    wait.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(wait.isMinimized()) << "a minimised notice comes back";
    EXPECT_TRUE(wait.isVisible());

    wait.finish();
    EXPECT_FALSE(wait.isVisible());
    wait.showNotice();
    EXPECT_TRUE(wait.isVisible()) << "it can be shown again";
    wait.finish();
}

TEST(FinishBox, LinesFontAndDefaultButton) {
    TFinishBox box;
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Warning"));
    EXPECT_EQ(box.size(), QSize(458, 214));
    using testing_support::kMayWidenForText;
    testing_support::expectControls({
        {box.Bevel1, {8, 8, 441, 161}},
        {box.Label1, {40, 40, 298, 24}, "Update program completed.", kMayWidenForText},
        {box.Label2, {40, 88, 354, 19}, "please quit running programs now, and ", kMayWidenForText},
        {box.Label3,
         {40, 112, 381, 19},
         "then put the PC power off, restart again. ",
         kMayWidenForText},
        {box.OKBtn, {191, 180, 75, 25}, "OK"},
    });
    EXPECT_EQ(box.Label1->font().pixelSize(), 24);
    EXPECT_FALSE(box.Label1->font().italic());
    EXPECT_EQ(box.Label2->font().pixelSize(), 19);
    EXPECT_TRUE(box.Label2->font().italic());
    EXPECT_TRUE(box.Label3->font().italic());
    for (const QLabel *line : {box.Label1, box.Label2, box.Label3}) {
        EXPECT_TRUE(line->font().bold());
        EXPECT_LE(line->geometry().right(), 449 - 8) << "inside the frame";
        if (QFontDatabase::families().contains(QStringLiteral("IPAPGothic"))) {
            EXPECT_EQ(QFontInfo(line->font()).family(), QStringLiteral("IPAPGothic"));
        }
    }
    EXPECT_TRUE(box.OKBtn->isDefault());

    testing_support::whenModalShown([&box](QWidget *) {
        testing_support::pumpEvents();
        testing_support::saveFramedScreenshot(box, QStringLiteral("FinishBox"));
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_EQ(box.exec(), QDialog::Accepted) << "Enter presses OK, which closes with OK";
    EXPECT_FALSE(box.isVisible());
}
