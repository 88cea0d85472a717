// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/DisplayOpening.h"

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace app {

namespace {

struct HeldMessage {
    QtMsgType type;
    std::string category;
    QString text;
};

QtMessageHandler g_previous = nullptr;
std::vector<HeldMessage> g_held;

void whileOpening(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (type == QtFatalMsg) {
        // The toolkit would abort right after this message: no platform could be started.
        std::fputs(kNoDisplayText, stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    g_held.push_back({type, context.category != nullptr ? context.category : "", text});
}

}  // namespace

DisplayOpening::DisplayOpening() {
    g_previous = qInstallMessageHandler(whileOpening);
}

DisplayOpening::~DisplayOpening() {
    qInstallMessageHandler(g_previous);
    for (const HeldMessage &message : g_held) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.c_str());
        qt_message_output(message.type, context, message.text);
    }
    g_held.clear();
}

}  // namespace app
