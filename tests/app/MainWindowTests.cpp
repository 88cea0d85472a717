// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The main window on the offscreen platform, bound to the simulated bus.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <cmath>
#include <functional>

#include "app/AppTitle.h"
#include "app/Application.h"
#include "app/DownloadMain.h"
#include "app/ProgramWindows.h"
#include "app/StartupNotices.h"
#include "tests/support/GuiSupport.h"
#include "tests/support/SimBench.h"
#include "tests/support/TestHost.h"
#include "ui/WindowSetup.h"

using testing_support::ProcessExit;
using testing_support::TestHost;

class MainWindow : public ::testing::Test {
  protected:
    TestHost host;
    TMainForm form;
};

TEST_F(MainWindow, WindowAndEveryControl) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("  CD-R/RW Firmware Update - rehearsal"))
        << "on the simulator";
    EXPECT_EQ(form.size(), QSize(419, 209));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(form.font().bold());
    EXPECT_EQ(form.font().pointSize(), 8);
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));

    testing_support::expectControls({
        {form.Panel2, {-5, 5, 471, 31}},
        {form.Update, {30, 3, 81, 25}, "Update"},
        {form.About, {231, 3, 75, 25}, "About ..."},
        {form.Close, {313, 3, 75, 25}, "Quit"},
        {form.Panel1, {-5, 40, 471, 241}},
        {form.GroupBox1, {9, 10, 397, 123}, " CD_R/RW Unit List "},
        {form.Panel3, {2, 20, 394, 18}},
        {form.Label3, {5, 3, 46, 13}, "SCSI ID"},
        {form.Label4, {70, 3, 41, 13}, "Vendor"},
        {form.Product, {140, 3, 45, 13}, "Product"},
        {form.Label5, {240, 3, 43, 13}, "Version"},
        {form.Label6, {310, 3, 28, 13}, "Date"},
        {form.DrivesList, {3, 37, 391, 83}},
        {form.Label2, {25, 145, 58, 13}, "BUS Type"},
        {form.BUS, {90, 142, 101, 21}},
        {form.CreatEDC, {280, 145, 101, 17}, " Create  EDC"},
        // Outside the client area.
        {form.GroupBox2, {15, 175, 386, 45}, " Down Load "},
        {form.ProgressBar1, {10, 20, 366, 15}},
        {form.RadioGroup, {16, 288, 369, 105}, "The downloded file's type"},
    });
    EXPECT_GT(form.GroupBox2->mapTo(&form, QPoint(0, 0)).y(), 209) << "below the client area";

    for (QAbstractButton *button :
         std::initializer_list<QAbstractButton *>{form.Update, form.About, form.Close}) {
        EXPECT_EQ(button->iconSize(), QSize(16, 16));
        const QImage normal = button->icon().pixmap(16, 16, QIcon::Normal).toImage();
        EXPECT_FALSE(normal.isNull());
        EXPECT_NE(normal, button->icon().pixmap(16, 16, QIcon::Disabled).toImage())
            << "greyed picture for the disabled state";
    }
    EXPECT_EQ(form.DrivesList->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(form.BUS->isEditable()) << "a bus is always selected";
    ASSERT_EQ(form.BUS->count(), 2);
    EXPECT_EQ(form.BUS->itemText(0), QStringLiteral("SCSI"));
    EXPECT_EQ(form.BUS->itemText(1), QStringLiteral("ATAPI"));
    EXPECT_EQ(form.BUS->currentText(), QStringLiteral("ATAPI")) << "ATAPI after start-up";
    EXPECT_TRUE(form.CreatEDC->isChecked());
    EXPECT_EQ(form.ProgressBar1->minimum(), 0);
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);

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

namespace {
// Presses and releases a key on the widget that has the keyboard focus.
void pressKey(Qt::Key key) {
    QWidget *target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}
}  // namespace

// Keyboard only: Tab runs through the six visible controls and nothing else, and the arrow keys
// and Space pressed wherever a keyboard user lands never reach the variant group: the variant,
// the unit list and the About title stay as they were. The controls outside the client area are
// hidden, so no screen reader announces them either.
TEST(MainWindowKeyboard, KeysReachOnlyTheVisibleControls) {
    TestHost host;
    testing_support::SimBench bench;
    ProgramWindows windows;
    TMainForm &form = windows.MainForm;
    form.show();
    form.activateWindow();
    form.DrivesList->setFocus();
    testing_support::pumpEvents();
    ASSERT_EQ(QApplication::focusWidget(), form.DrivesList);
    form.SetAboutTitle();
    const QString title = windows.AboutDialog.Label1->text();
    const std::size_t inquiries = bench.logLinesWith("cdb=12 ").size();

    const QList<QWidget *> chain{form.BUS,   form.CreatEDC, form.Update,
                                 form.Close, form.About,    form.DrivesList};
    for (int round = 0; round < 2; ++round) {
        for (QWidget *expected : chain) {
            pressKey(Qt::Key_Tab);
            ASSERT_EQ(QApplication::focusWidget(), expected) << expected->metaObject()->className();
            // Space would press a button: each one is tried by its own tests.
            const bool button =
                expected == form.Update || expected == form.Close || expected == form.About;
            for (Qt::Key key : {Qt::Key_Left, Qt::Key_Left, Qt::Key_Up, Qt::Key_Down, Qt::Key_Right,
                                Qt::Key_Space}) {
                if (key != Qt::Key_Space || !button) {
                    pressKey(key);
                    // Arrow keys may move between buttons, never out of view.
                    EXPECT_TRUE(QApplication::focusWidget()->isVisible());
                }
            }
            expected->setFocus(Qt::TabFocusReason);
        }
    }
    EXPECT_EQ(form.firmwareVariant(), 4);
    EXPECT_EQ(bench.logLinesWith("cdb=12 ").size(), inquiries) << "no re-scan";
    EXPECT_EQ(form.DrivesList->count(), 3);
    form.SetAboutTitle();
    EXPECT_EQ(windows.AboutDialog.Label1->text(), title);

    for (QWidget *outOfView : std::initializer_list<QWidget *>{
             form.GroupBox2, form.RadioGroup, form.ChkB_YEB, form.ChkB_VEK, form.ChkB_DUQ,
             form.ChkB_BEZ, form.ChkB_HUP, form.ChkB_WOL, form.ChkB_LIX}) {
        EXPECT_FALSE(outOfView->isVisible()) << outOfView->metaObject()->className();
    }
    // Hidden, they still work for the program.
    form.RadioItems[5]->setChecked(true);
    EXPECT_EQ(form.firmwareVariant(), 5);
    form.setProgressPosition(30);
    EXPECT_EQ(form.ProgressBar1->value(), 30);
}

namespace {

// What a screen reader says of a node, for a failure message.
std::string describe(QAccessibleInterface *node) {
    return std::to_string(node->role()) + " \"" + node->text(QAccessible::Name).toStdString() +
           "\" of " + (node->object() ? node->object()->metaObject()->className() : "?");
}

// Walks what a screen reader sees of `window`: every control it announces (buttons, check boxes,
// lists, combo boxes, text fields, texts) that is showing has a name and lies inside the window,
// and a combo box is read with the label that names it.
void expectAnnouncedControlsNamedAndInside(QWidget &window) {
    static const QList<QAccessible::Role> kAnnounced = {
        QAccessible::PushButton, QAccessible::CheckBox,     QAccessible::RadioButton,
        QAccessible::ComboBox,   QAccessible::EditableText, QAccessible::List,
        QAccessible::StaticText, QAccessible::ProgressBar};
    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(&window);
    ASSERT_NE(root, nullptr);
    const QRect inside = root->rect();
    int announced = 0;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface *child = node->child(i);
            if (child == nullptr || child->state().invisible) {
                continue;
            }
            if (kAnnounced.contains(child->role())) {
                ++announced;
                EXPECT_FALSE(child->text(QAccessible::Name).trimmed().isEmpty()) << describe(child);
                EXPECT_TRUE(inside.contains(child->rect())) << describe(child) << " outside";
                if (child->role() == QAccessible::ComboBox) {
                    EXPECT_FALSE(child->relations(QAccessible::Label).isEmpty())
                        << describe(child) << " has no label";
                }
            }
            if (child->role() != QAccessible::List) {  // a list's lines are its items
                walk(child);
            }
        }
    };
    walk(root);
    EXPECT_GT(announced, 0);
}

// WCAG's contrast ratio of two colours, 1 to 21.
double contrast(const QColor &a, const QColor &b) {
    const auto luminance = [](const QColor &c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

// Every window a screen reader meets during an update names each control it announces, and shows
// none that a person cannot see.
TEST(Accessibility, EveryAnnouncedControlHasANameAndLiesInsideItsWindow) {
    TestHost host;
    testing_support::SimBench bench;
    ProgramWindows windows;
    for (QWidget *window :
         std::initializer_list<QWidget *>{&windows.MainForm, &windows.OpenFileDialog,
                                          &windows.CMD_Error_Form, &windows.WaitDlg}) {
        SCOPED_TRACE(window->windowTitle().toStdString());
        window->show();
        testing_support::pumpEvents();
        expectAnnouncedControlsNamedAndInside(*window);
        window->hide();
    }
}

// Under a dark colour scheme every text keeps its contrast: text and background both follow the
// palette, in every window.
TEST(Accessibility, TextsStayReadableUnderADarkPalette) {
    TestHost host;
    testing_support::SimBench bench;
    const QPalette previous = QApplication::palette();
    QPalette dark = previous;
    dark.setColor(QPalette::Window, QColor(0x22, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, QColor(0xe0, 0xe0, 0xe0));
    QApplication::setPalette(dark);
    {
        ProgramWindows windows;
        int texts = 0;
        for (QWidget *window : std::initializer_list<QWidget *>{
                 &windows.MainForm, &windows.AboutDialog, &windows.OpenFileDialog,
                 &windows.CMD_Error_Form, &windows.WaitDlg, &windows.FinishBox}) {
            for (QWidget *text : window->findChildren<QWidget *>()) {
                if (qobject_cast<QLabel *>(text) == nullptr &&
                    qobject_cast<QGroupBox *>(text) == nullptr &&
                    qobject_cast<QCheckBox *>(text) == nullptr) {
                    continue;
                }
                ++texts;
                const QPalette &palette = text->palette();
                EXPECT_GE(
                    contrast(palette.color(QPalette::WindowText), palette.color(QPalette::Window)),
                    4.5)
                    << window->windowTitle().toStdString() << ": "
                    << text->objectName().toStdString() << " "
                    << text->property("text").toString().toStdString()
                    << text->property("title").toString().toStdString();
            }
        }
        EXPECT_GT(texts, 20);
        windows.MainForm.show();
        testing_support::pumpEvents();
        testing_support::saveFramedScreenshot(windows.MainForm, QStringLiteral("MainFormDark"));
    }
    QApplication::setPalette(previous);
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

TEST_F(MainWindow, BuiltInBusListsItsThreeUnits) {
    const std::string gap9(9, ' ');
    const std::string gap7(7, ' ');
    const std::string gap5(5, ' ');
    const std::string lines[] = {
        "0:7:2" + gap9 + "VEK     " + gap7 + "CDRW 8432       " + gap5 + "1.10",
        "0:7:4" + gap9 + "ZAV     " + gap7 + "CD-RW ZR-1210   " + gap5 + "2.03",
        "1:7:0" + gap9 + "VEK     " + gap7 + "CDRW 4824 A     " + gap5 + "1.32"};
    ASSERT_EQ(form.DrivesList->count(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(form.DrivesList->item(row)->text().toStdString(), lines[row]);
    }
    // The default variant takes the VEK units.
    EXPECT_EQ(form.state.units.Eligible[0 * 7 + 2], 1);
    EXPECT_EQ(form.state.units.Eligible[0 * 7 + 4], 0);
    EXPECT_EQ(form.state.units.Eligible[1 * 7 + 0], 1);
    form.show();
    testing_support::pumpEvents();
    testing_support::saveFramedScreenshot(form, QStringLiteral("MainForm"));
    testing_support::saveFramedScreenshot(form, QStringLiteral("MainFormUnits"));
}

TEST_F(MainWindow, TheSelectedLineCannotBeCleared) {
    ASSERT_GT(form.DrivesList->count(), 0);
    form.DrivesList->item(0)->setSelected(false);  // what a Ctrl+click on it does
    EXPECT_TRUE(form.DrivesList->item(0)->isSelected());
    std::string line;
    ASSERT_TRUE(form.selectedUnitLine(line));
    EXPECT_EQ(line.substr(0, 5), "0:7:2");
}

// The unit list on buses of the test's own.
TEST(UnitListWindow, NoAdapterAnsweringGivesAnEmptyListAndADisabledUpdate) {
    TestHost host;
    testing_support::SimBench bench;
    bench.useBus(
        "adapter 0 id 7 fails\n"
        "adapter 1 id 7 answers 0\n"
        "unit 0 2 vendor \"VEK\"\n"
        "unit 1 2 vendor \"VEK\"\n");
    TMainForm form;
    EXPECT_EQ(form.state.AdapterCount, 2);
    EXPECT_EQ(form.DrivesList->count(), 0);
    EXPECT_FALSE(form.Update->isEnabled());
    EXPECT_TRUE(bench.logLinesWith("EXEC").empty()) << "no unit of a silent adapter is asked";
    // The simulator has no scan report: an empty list is not explained.
    app::showStartupNotices(form);
    EXPECT_TRUE(host.boxes.empty()) << "discovery reports nothing";
}

TEST(UnitListWindow, AVariantChangeListsEveryUnitAgainAndLeavesSelectionAndUpdate) {
    TestHost host;
    testing_support::SimBench bench;
    bench.useBus(
        "adapter 0 id 7\n"
        "unit 0 2 vendor \"VEK     \" product \"ONE\" revision \"1.00\"\n"
        "unit 0 4 vendor \"ZAV     \" product \"TWO\" revision \"2.00\"\n");
    TMainForm form;
    ASSERT_EQ(form.DrivesList->count(), 2);
    form.DrivesList->setCurrentRow(1);

    form.RadioItems[5]->click();  // "For HUP": ZAV units
    const auto line = [&form](int row) {
        return ui::ansiBytes(form.DrivesList->item(row)->text());
    };
    ASSERT_EQ(form.DrivesList->count(), 4);
    EXPECT_EQ(line(2), line(0));
    EXPECT_EQ(line(3), line(1));
    EXPECT_EQ(form.DrivesList->currentRow(), 1);
    EXPECT_TRUE(form.Update->isEnabled());
    EXPECT_EQ(form.state.units.Eligible[2], 0);
    EXPECT_EQ(form.state.units.Eligible[4], 1);
    // The first scan ran with the SCSI form, the re-scan with ATAPI, selected after start-up.
    const auto asked = bench.logLinesWith("EXEC ha=0 target=4 ");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("cdblen=6 "), std::string::npos);
    EXPECT_NE(asked[1].find("cdblen=12 "), std::string::npos);
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
    EXPECT_EQ(application->title(), "Main_window_tests");
    Thrower thrower("Disk not ready");
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &event);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Disk not ready.");
    EXPECT_EQ(host.boxes[0].caption, std::optional<std::string>("Main_window_tests"));
    EXPECT_EQ(host.boxes[0].icon, platform::Icon::Error);
    EXPECT_EQ(host.boxes[0].buttons, platform::Buttons::Ok);
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
