// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/CheckedBusConnection.h"

#include <QDBusError>

#include "platform/BusCheck.h"

namespace platform {

QDBusConnection connectCheckedBus(const std::string &address, const QString &name, const char *bus,
                                  std::chrono::steady_clock::time_point deadline,
                                  QString &problem) {
    const BusCheck check = checkBus(address, deadline);
    if (!check.answered()) {
        problem = QString::fromStdString(check.problem);
        return QDBusConnection(name);
    }
    QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(check.entry), name);
    if (!connection.isConnected()) {
        problem =
            QStringLiteral("no %1: %2").arg(QLatin1String(bus), connection.lastError().message());
        QDBusConnection::disconnectFromBus(name);
    }
    return connection;
}

}  // namespace platform
