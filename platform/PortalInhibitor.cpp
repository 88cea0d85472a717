// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/PortalInhibitor.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>
#include <chrono>
#include <cstdio>

#include "platform/BusCheck.h"
#include "platform/CheckedBusConnection.h"

namespace platform {

namespace {

// A connection of its own rather than Qt's shared session bus connection, which the
// accessibility bridge uses: this one reaches only a bus that has just answered, and letting go
// of it touches nothing else. It stays open while the inhibitor is held, because the portal ends
// a request whose caller has left the bus.
const QString kConnectionName = QStringLiteral("cdrw-fwupdate-portal");
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");

void sayWithout(const QString &reason) {
    std::fprintf(stderr,
                 "cdrw-fwupdate: no desktop inhibitor (%s); logging out is not held off during "
                 "this update\n",
                 reason.toLocal8Bit().constData());
}

}  // namespace

PortalInhibitor::PortalInhibitor(const std::string &busAddress, const std::string &why,
                                 const std::string &window)
    : m_bus(kConnectionName) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusRequestLimitMilliseconds);
    QString failure;
    m_bus = connectCheckedBus(busAddress.empty() ? sessionBusAddress() : busAddress,
                              kConnectionName, "session bus", deadline, failure);
    if (!m_bus.isConnected()) {
        sayWithout(failure);
        return;
    }
    const long long left = millisecondsUntil(deadline);
    if (left <= 0) {
        sayWithout(QStringLiteral("no answer within %1 ms").arg(kBusRequestLimitMilliseconds));
        QDBusConnection::disconnectFromBus(kConnectionName);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString::fromStdString(window) << kFlags
         << QVariantMap{{QStringLiteral("reason"), QString::fromStdString(why)}};
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, static_cast<int>(left));
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
        m_handle = reply.arguments().at(0).value<QDBusObjectPath>().path();
    }
    if (m_handle.isEmpty()) {
        sayWithout(reply.errorName().isEmpty()
                       ? QStringLiteral("no request in the portal's answer")
                       : reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
        QDBusConnection::disconnectFromBus(kConnectionName);
    }
}

PortalInhibitor::~PortalInhibitor() {
    if (m_handle.isEmpty()) {
        return;
    }
    // Waits for the portal no longer than the request did; closing the connection afterwards
    // ends the request in any case.
    m_bus.call(QDBusMessage::createMethodCall(kService, m_handle,
                                              QStringLiteral("org.freedesktop.portal.Request"),
                                              QStringLiteral("Close")),
               QDBus::Block, kBusRequestLimitMilliseconds);
    QDBusConnection::disconnectFromBus(kConnectionName);
}

}  // namespace platform
