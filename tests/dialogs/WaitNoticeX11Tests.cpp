// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The wait notice on an X server of its own (tests/support/on-x-server.sh starts one): what a
// window manager reads from the server about the notice's frame and stacking.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dialogs/wait.h"

namespace {

xcb_connection_t *connection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char *name) {
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection(),
        xcb_intern_atom(connection(), 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t found = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return found;
}

// The 32-bit words of a window's property, as the server holds them now.
std::vector<uint32_t> words(const QWidget &window, const char *property) {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, static_cast<xcb_window_t>(window.winId()), atom(property),
                         XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
        nullptr);
    std::vector<uint32_t> result;
    if (reply != nullptr && reply->format == 32) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        result.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return result;
}

}  // namespace

TEST(WaitNoticeOnX11, AsksForABorderAloneAndToStayAbove) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    TWaitDlg wait;
    for (const char *showing : {"first showing", "showing again"}) {
        wait.showNotice();
        const std::vector<uint32_t> hints = words(wait, "_MOTIF_WM_HINTS");
        ASSERT_EQ(hints.size(), 5u) << showing;
        EXPECT_EQ(hints[0], 0x3u) << showing << ": functions and decorations both given";
        EXPECT_EQ(hints[1], 0x4u) << showing
                                  << ": move only (no resize, minimise, maximise, close)";
        EXPECT_EQ(hints[2], 0x2u) << showing << ": a border only, no title bar to hold buttons";
        const std::vector<uint32_t> state = words(wait, "_NET_WM_STATE");
        EXPECT_NE(std::find(state.begin(), state.end(), atom("_NET_WM_STATE_ABOVE")), state.end())
            << showing;
        wait.finish();
    }
}
