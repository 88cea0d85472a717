// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/LogindInhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QString>
#include <chrono>
#include <cstdio>

#include "platform/CheckedBusConnection.h"

namespace platform {

namespace {

const QString kConnectionName = QStringLiteral("cdrw-fwupdate-inhibitor");

// Errors after which asking again for fewer locks cannot help.
bool isFinal(const QDBusMessage &reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Disconnected");
}

void sayWithout(const QString &reason) {
    std::fprintf(stderr,
                 "cdrw-fwupdate: no logind inhibitor (%s); sleep and shutdown are not held off "
                 "during this update\n",
                 reason.toLocal8Bit().constData());
}

}  // namespace

LogindInhibitor::LogindInhibitor(const std::string &busAddress, const std::string &why) {
    // The whole request (connect, ask, fall back) ends by this time, answered or not.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMilliseconds);
    // The bus is reached only here, for the one request, and let go at once: the inhibitor lives
    // on in the descriptor, not in the connection.
    QString failure;
    QDBusConnection bus = connectCheckedBus(busAddress.empty() ? systemBusAddress() : busAddress,
                                            kConnectionName, "system bus", deadline, failure);
    if (!bus.isConnected()) {
        sayWithout(failure);
        return;
    }
    QDBusMessage reply;
    for (const char *locks : {kAllLocks, kBasicLocks}) {
        const long long left = millisecondsUntil(deadline);
        if (left <= 0) {
            failure = QStringLiteral("no answer within %1 ms").arg(kLimitMilliseconds);
            break;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QString::fromLatin1(locks) << QString::fromLatin1(kWho) << QString::fromLatin1(why)
             << QStringLiteral("block");
        reply = bus.call(call, QDBus::Block, static_cast<int>(left));
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
            const auto fd = reply.arguments().at(0).value<QDBusUnixFileDescriptor>();
            if (fd.isValid()) {
                m_fd = ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
            }
        }
        if (m_fd >= 0) {
            m_locks = locks;
            break;
        }
        failure = reply.errorName().isEmpty()
                      ? QStringLiteral("no descriptor in logind's answer")
                      : reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        if (isFinal(reply)) {
            break;
        }
    }
    QDBusConnection::disconnectFromBus(kConnectionName);
    if (m_fd < 0) {
        sayWithout(failure);
    } else if (m_locks != kAllLocks) {
        std::fprintf(stderr,
                     "cdrw-fwupdate: logind refused the key and lid locks; only shutdown, sleep "
                     "and idle are held off during this update\n");
    }
}

LogindInhibitor::~LogindInhibitor() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

}  // namespace platform
