// Helpers for window tests on the offscreen platform.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <functional>

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

// Processes pending events for a short while.
void pumpEvents(int milliseconds = 20);

}  // namespace testing_support
