// The main window on the offscreen platform, bound to the simulated bus.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>

#include "app/AppTitle.h"
#include "app/Application.h"
#include "app/DownloadMain.h"
#include "dialogs/AboutDialogForm.h"
#include "tests/support/GuiSupport.h"
#include "tests/support/TestHost.h"

using testing_support::ProcessExit;
using testing_support::TestHost;

namespace {

void expectGeometry(const QWidget *widget, int left, int top, int width, int height) {
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), QRect(left, top, width, height)) << widget->objectName().data();
}

}  // namespace

class MainWindow : public ::testing::Test {
  protected:
    TestHost host;
    TMainForm form;
};

TEST_F(MainWindow, WindowPropertiesAndButtonBar) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("  CD-R/RW Firmware Update"));
    EXPECT_EQ(form.size(), QSize(419, 209));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(form.font().bold());
    EXPECT_EQ(form.font().pointSize(), 8);
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));

    expectGeometry(form.Panel2, -5, 5, 471, 31);
    expectGeometry(form.Update, 30, 3, 81, 25);
    expectGeometry(form.About, 231, 3, 75, 25);
    expectGeometry(form.Close, 313, 3, 75, 25);
    EXPECT_EQ(form.Update->text(), QStringLiteral("Update"));
    EXPECT_EQ(form.About->text(), QStringLiteral("About ..."));
    EXPECT_EQ(form.Close->text(), QStringLiteral("Quit"));
    for (QAbstractButton *button :
         {static_cast<QAbstractButton *>(form.Update), static_cast<QAbstractButton *>(form.About),
          static_cast<QAbstractButton *>(form.Close)}) {
        EXPECT_EQ(button->iconSize(), QSize(16, 16));
        const QImage normal = button->icon().pixmap(16, 16, QIcon::Normal).toImage();
        const QImage disabled = button->icon().pixmap(16, 16, QIcon::Disabled).toImage();
        EXPECT_FALSE(normal.isNull());
        EXPECT_NE(normal, disabled) << "greyed picture for the disabled state";
    }
}

TEST_F(MainWindow, UnitListAndOptionsRow) {
    expectGeometry(form.Panel1, -5, 40, 471, 241);
    expectGeometry(form.GroupBox1, 9, 10, 397, 123);
    EXPECT_EQ(form.GroupBox1->title(), QStringLiteral(" CD_R/RW Unit List "));
    expectGeometry(form.Panel3, 2, 20, 394, 18);
    expectGeometry(form.Label3, 5, 3, 46, 13);
    expectGeometry(form.Label4, 70, 3, 41, 13);
    expectGeometry(form.Product, 140, 3, 45, 13);
    expectGeometry(form.Label5, 240, 3, 43, 13);
    expectGeometry(form.Label6, 310, 3, 28, 13);
    EXPECT_EQ(form.Label3->text(), QStringLiteral("SCSI ID"));
    EXPECT_EQ(form.Label4->text(), QStringLiteral("Vendor"));
    EXPECT_EQ(form.Product->text(), QStringLiteral("Product"));
    EXPECT_EQ(form.Label5->text(), QStringLiteral("Version"));
    EXPECT_EQ(form.Label6->text(), QStringLiteral("Date"));
    expectGeometry(form.DrivesList, 3, 37, 391, 83);
    EXPECT_EQ(form.DrivesList->selectionMode(), QAbstractItemView::SingleSelection);

    expectGeometry(form.Label2, 25, 145, 58, 13);
    EXPECT_EQ(form.Label2->text(), QStringLiteral("BUS Type"));
    expectGeometry(form.BUS, 90, 142, 101, 21);
    EXPECT_FALSE(form.BUS->isEditable()) << "a bus is always selected";
    ASSERT_EQ(form.BUS->count(), 2);
    EXPECT_EQ(form.BUS->itemText(0), QStringLiteral("SCSI"));
    EXPECT_EQ(form.BUS->itemText(1), QStringLiteral("ATAPI"));
    EXPECT_EQ(form.BUS->currentText(), QStringLiteral("ATAPI")) << "ATAPI after start-up";
    expectGeometry(form.CreatEDC, 280, 145, 101, 17);
    EXPECT_EQ(form.CreatEDC->text(), QStringLiteral(" Create  EDC"));
    EXPECT_TRUE(form.CreatEDC->isChecked());
}

TEST_F(MainWindow, ControlsOutsideTheClientArea) {
    expectGeometry(form.GroupBox2, 15, 175, 386, 45);
    EXPECT_EQ(form.GroupBox2->title(), QStringLiteral(" Down Load "));
    expectGeometry(form.ProgressBar1, 10, 20, 366, 15);
    EXPECT_EQ(form.ProgressBar1->minimum(), 0);
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);
    // The group starts below the client area's bottom edge.
    EXPECT_GT(form.GroupBox2->mapTo(&form, QPoint(0, 0)).y(), 209);

    expectGeometry(form.RadioGroup, 16, 288, 369, 105);
    EXPECT_EQ(form.RadioGroup->title(), QStringLiteral("The downloded file's type"));
    const char *items[] = {"For VEK", "For WOL", "For YEB", "For DUQ",
                           "For LIX", "For HUP", "For BEZ"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(form.RadioItems[i]->text(), QString::fromLatin1(items[i]));
    }
    EXPECT_EQ(form.firmwareVariant(), 4);

    const std::pair<QCheckBox *, const char *> boxes[] = {
        {form.ChkB_YEB, "For YEB"}, {form.ChkB_VEK, "For VEK"}, {form.ChkB_DUQ, "For DUQ"},
        {form.ChkB_BEZ, "For BEZ"}, {form.ChkB_HUP, "For HUP"}, {form.ChkB_WOL, "For WOL"},
        {form.ChkB_LIX, "For LIX"}};
    int top = 296;
    for (const auto &[box, caption] : boxes) {
        EXPECT_EQ(box->text(), QString::fromLatin1(caption));
        EXPECT_EQ(box->geometry().topLeft(), QPoint(448, top));
        EXPECT_FALSE(box->isChecked());
        top += 16;
    }
}

TEST_F(MainWindow, TabOrderRunsThroughPanelsThenCheckBoxesThenRadioGroup) {
    const QList<QWidget *> expected{
        form.DrivesList, form.BUS,      form.CreatEDC, form.Update,       form.Close,
        form.About,      form.ChkB_YEB, form.ChkB_VEK, form.ChkB_DUQ,     form.ChkB_BEZ,
        form.ChkB_HUP,   form.ChkB_WOL, form.ChkB_LIX, form.RadioItems[0]};
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QWidget *next = expected[i - 1]->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus)) {
            next = next->nextInFocusChain();
        }
        EXPECT_EQ(next, expected[i]) << i;
    }
}

TEST_F(MainWindow, StartUpStateAndTimer) {
    EXPECT_EQ(form.state.aspi.AspiSupport(), 0x0102);
    EXPECT_EQ(form.state.BlockSize, 16384);
    EXPECT_TRUE(form.Update->isEnabled());
    EXPECT_EQ(form.DrivesList->currentRow(), 0);
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 1000);

    // The first tick with no progress target leaves the bar at 0 and stops the timer.
    form.Timer1Timer();
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_FALSE(form.Timer1->isActive());

    // With a target the bar steps by 10 per tick, up to the target.
    form.state.ProgressTarget = 15;
    form.Timer1Timer();
    form.Timer1Timer();
    form.Timer1Timer();
    EXPECT_EQ(form.ProgressBar1->value(), 20);
}

TEST_F(MainWindow, QuitEndsWithStatusZero) {
    EXPECT_THROW(form.CloseClick(), ProcessExit);
    EXPECT_EQ(host.exitStatus, 0);
    EXPECT_TRUE(host.boxes.empty()) << "no question is asked";
}

TEST_F(MainWindow, AboutShowsTheVariantTitle) {
    TAboutDialog about;
    form.attachWindows({&about, nullptr, nullptr, nullptr, nullptr});
    testing_support::whenModalShown([](QWidget *dialog) { dialog->close(); });
    form.AboutClick();
    EXPECT_EQ(about.Label1->text(), QStringLiteral("VEK CD-R/RW Firmware Update V1.1"));
}

TEST_F(MainWindow, BuiltInBusListsItsThreeUnits) {
    ASSERT_EQ(form.DrivesList->count(), 3);
    const std::string gap9(9, ' ');
    const std::string gap7(7, ' ');
    const std::string gap5(5, ' ');
    EXPECT_EQ(form.DrivesList->item(0)->text().toStdString(),
              "0:7:2" + gap9 + "VEK     " + gap7 + "CDRW 8432       " + gap5 + "1.10");
    EXPECT_EQ(form.DrivesList->item(1)->text().toStdString(),
              "0:7:4" + gap9 + "ZAV     " + gap7 + "CD-RW ZR-1210   " + gap5 + "2.03");
    EXPECT_EQ(form.DrivesList->item(2)->text().toStdString(),
              "1:7:0" + gap9 + "VEK     " + gap7 + "CDRW 4824 A     " + gap5 + "1.32");
    // The default variant takes the VEK units.
    EXPECT_EQ(form.state.units.Eligible[0 * 7 + 2], 1);
    EXPECT_EQ(form.state.units.Eligible[0 * 7 + 4], 0);
    EXPECT_EQ(form.state.units.Eligible[1 * 7 + 0], 1);
    form.show();
    testing_support::pumpEvents();
    testing_support::saveFramedScreenshot(form, QStringLiteral("MainFormUnits"));
}

TEST_F(MainWindow, Screenshot) {
    form.show();
    testing_support::pumpEvents();
    testing_support::saveFramedScreenshot(form, QStringLiteral("MainForm"));
}

namespace {
class Thrower : public QObject {
  public:
    explicit Thrower(std::string message) : m_message(std::move(message)) {}
    bool event(QEvent *) override { throw std::runtime_error(m_message); }

  private:
    std::string m_message;
};
}  // namespace

TEST(EscapedException, ShownInTheErrorBoxWithTheApplicationTitle) {
    TestHost host;
    auto *application = dynamic_cast<TApplication *>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    Thrower thrower("Disk not ready");
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &event);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Disk not ready.");
    EXPECT_EQ(host.boxes[0].caption, std::optional<std::string>(application->title()));
    EXPECT_EQ(host.boxes[0].icon, platform::Icon::Error);
    EXPECT_EQ(host.boxes[0].buttons, platform::Buttons::Ok);
    EXPECT_EQ(application->title(), "Main_window_tests");
}

TEST(EscapedException, FullStopRuleAndTitleRule) {
    EXPECT_EQ(app::escapedExceptionText(""), "");
    EXPECT_EQ(app::escapedExceptionText("Done."), "Done.");
    EXPECT_EQ(app::escapedExceptionText("Why?"), "Why?.");  // '?' is above '.'
    EXPECT_EQ(app::escapedExceptionText("a-"), "a-");       // '-' is below '.'
    EXPECT_EQ(app::escapedExceptionText("Code 7"), "Code 7.");
    EXPECT_EQ(app::applicationTitle("/usr/bin/cdrw-fwupdate"), "Cdrw-fwupdate");
    EXPECT_EQ(app::applicationTitle("build/DOWNLOAD.old.EXE"), "Download");
}
