// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "dialogs/wait.h"

#include <xcb/xcb.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ui/WindowSetup.h"

namespace {

// The five words of _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
constexpr uint32_t kMwmHintsFunctions = 1u << 0;
constexpr uint32_t kMwmHintsDecorations = 1u << 1;
constexpr uint32_t kMwmFunctionMove = 1u << 2;
constexpr uint32_t kMwmDecorationBorder = 1u << 1;
constexpr char kMwmHintsName[] = "_MOTIF_WM_HINTS";

// The toolkit's hints for a title bar without buttons limit the window's functions only, and
// some window managers (openbox) give every title bar its minimise, maximise and close buttons
// whatever the functions say. So the notice asks for a border alone, and may only be moved: with
// no title bar there is nothing to put a button on. Its words stay in the window and its title.
void askForBorderOnly(QWidget &window) {
    // The offscreen platform answers for X11 too, without a connection.
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 != nullptr ? x11->connection() : nullptr;
    if (QGuiApplication::platformName() != QLatin1String("xcb") || connection == nullptr) {
        return;  // not on X11: the toolkit's own hints stand
    }
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(
        connection, 0, static_cast<uint16_t>(std::strlen(kMwmHintsName)), kMwmHintsName);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr) {
        return;
    }
    const std::array<uint32_t, 5> hints{kMwmHintsFunctions | kMwmHintsDecorations, kMwmFunctionMove,
                                        kMwmDecorationBorder, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window.winId()), reply->atom, reply->atom, 32,
                        static_cast<uint32_t>(hints.size()), hints.data());
    xcb_flush(connection);
    std::free(reply);
}

}  // namespace

TWaitDlg::TWaitDlg(QWidget *parent) : QDialog(parent) {
    // A title without close, minimise or maximise box and without system menu, above the other
    // windows; below it a strip just tall enough for the same words.
    ui::setupFixedWindow(
        *this, QStringLiteral("          Wait a moment please..."), 240, 30,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFont(ui::msSansSerif(8, true));
    Message = new QLabel(QStringLiteral("Wait a moment please..."), this);
    Message->setGeometry(0, 0, 240, 30);
    Message->setAlignment(Qt::AlignCenter);
    Message->setAccessibleName(Message->text());
    ui::centerOnScreen(*this);
}

void TWaitDlg::showNotice() {
    // The hints go on the window before it is mapped, where the window manager reads them.
    askForBorderOnly(*this);
    show();
    raise();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TWaitDlg::finish() {
    hide();
}

void TWaitDlg::closeEvent(QCloseEvent *event) {
    event->ignore();
}

void TWaitDlg::changeEvent(QEvent *event) {
    // Minimised with the main window, or from the window manager's menu or keys, the notice
    // would hide the only sign that the unit is storing its firmware: it comes back at once.
    if (event->type() == QEvent::WindowStateChange && isVisible() &&
        (windowState() & Qt::WindowMinimized)) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
    }
    QDialog::changeEvent(event);
}
