// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/QtHost.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <QThread>
#include <cstdio>
#include <cstdlib>

#include "platform/SystemUpdateGuard.h"
#include "platform/UPowerState.h"

namespace platform {

namespace {
QMessageBox::Icon toQtIcon(Icon icon) {
    switch (icon) {
        case Icon::Warning:
            return QMessageBox::Warning;
        case Icon::Error:
            return QMessageBox::Critical;
        case Icon::Question:
            return QMessageBox::Question;
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

std::unique_ptr<QMessageBox> buildMessageBox(const MessageBoxRequest &request) {
    // Texts are single-byte; Latin-1 keeps every byte as one character.
    return std::make_unique<QMessageBox>(
        toQtIcon(request.icon), request.caption ? QString::fromLatin1(*request.caption) : QString(),
        QString::fromLatin1(request.text),
        request.buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
}

std::string portalWindowIdentifier(const QWidget *window) {
    if (window == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return {};
    }
    return "x11:" + QString::number(window->window()->winId(), 16).toStdString();
}

QtHost::QtHost(UpdateGuardSettings guardSettings) : m_guardSettings(std::move(guardSettings)) {
    if (!m_guardSettings.onHeldSignal) {
        m_guardSettings.onHeldSignal = [](int signal) { platform::exitProcess(128 + signal); };
    }
}

Answer QtHost::messageBox(const MessageBoxRequest &request) {
    const int pressed = buildMessageBox(request)->exec();
    if (request.buttons == Buttons::YesNo) {
        return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    return Answer::Ok;
}

void QtHost::sleepMilliseconds(unsigned milliseconds) {
    QThread::msleep(milliseconds);
}

void QtHost::exitProcess(int status) {
    std::fflush(stdout);
    std::_Exit(status);
}

std::unique_ptr<UpdateGuard> QtHost::takeUpdateGuard(const std::string &why,
                                                     std::unique_ptr<UnitHold> unitHold) {
    return takeSystemUpdateGuard(m_guardSettings, why, std::move(unitHold));
}

PowerState QtHost::powerState() {
    return readUPowerState(m_guardSettings.busAddress);
}

}  // namespace platform
