// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Helpers for window tests on the offscreen platform.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <initializer_list>

namespace testing_support {

// Saves a picture of the window under the build's screenshots/ folder as <name>.png and
// returns the file's path.
QString saveScreenshot(QWidget &window, const QString &name);

// A picture of the window with its title bar: the offscreen platform draws no window frames, so
// the caption (and whether a close box shows) is drawn above the client area by the style.
QPixmap framedPicture(QWidget &window);
// Saves framedPicture(window) like saveScreenshot.
QString saveFramedScreenshot(QWidget &window, const QString &name);
// Saves a picture as <name>.png under the screenshots folder and returns the file's path.
QString savePicture(const QPixmap &picture, const QString &name);

// Runs `action` on the next modal window that opens (polled from the event loop). Used to answer
// a dialog that a handler shows with exec().
void whenModalShown(std::function<void(QWidget *)> action);

// One control as a window's layout places it.
struct ControlSpec {
    const QWidget *widget;
    QRect geometry;
    // Compared with the widget's "text" property, or "title" for a group box; null: not checked.
    const char *caption = nullptr;
    // The control may be wider than laid out so that its text fits (a label sized to a font that
    // is wider on this machine): position and height must match, the width be at least as given
    // and the whole caption fit.
    bool mayWidenForText = false;
};
inline constexpr bool kMayWidenForText = true;

// Expects every control at its place with its caption; a failure names the control.
void expectControls(std::initializer_list<ControlSpec> controls);

// Processes pending events for a short while.
void pumpEvents(int milliseconds = 20);

}  // namespace testing_support
