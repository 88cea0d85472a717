// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A stand-in for logind and for the desktop portal's Inhibit on a test's own bus (which serves the
// test as system and session bus alike). As logind it owns org.freedesktop.login1 and answers the
// two requests of its manager that the program and `systemd-inhibit --list` make; Inhibit answers
// with the write end of a pipe and notes when that end is closed everywhere (the inhibitor let
// go). As the portal it owns org.freedesktop.portal.Desktop; Inhibit answers with a request
// object, whose Close it notes. With --upower it is UPower too: org.freedesktop.UPower answers
// the properties OnBattery and, on its display device, Percentage (battery:N, or mains). One line
// on standard output for each thing it sees:
//
//   ready
//   inhibit what=<what> who=<who> why=<why> mode=<mode>
//   refused what=<what>                (with --refuse-keys, for any request of a handle-* lock)
//   released what=<what>
//   portal-inhibit window=<window> flags=<flags> reason=<reason>
//   portal-closed <request path>
//   upower-get <property>
//
// usage: cdrw-test-logind ADDRESS [--refuse-keys] [--upower=battery:N|mains]
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <cstdio>
#include <list>
#include <tuple>

namespace {

// One row of ListInhibitors: what, who, why, mode, uid, pid.
struct Inhibitor {
    QString what, who, why, mode;
    uint uid = 0;
    uint pid = 0;
};

QDBusArgument &operator<<(QDBusArgument &out, const Inhibitor &row) {
    out.beginStructure();
    out << row.what << row.who << row.why << row.mode << row.uid << row.pid;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, Inhibitor &row) {
    in.beginStructure();
    in >> row.what >> row.who >> row.why >> row.mode >> row.uid >> row.pid;
    in.endStructure();
    return in;
}

}  // namespace

Q_DECLARE_METATYPE(Inhibitor)

namespace {

void say(const QString &line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class Manager : public QDBusVirtualObject {
  public:
    explicit Manager(bool refuseKeys) : m_refuseKeys(refuseKeys) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        if (message.member() == QLatin1String("Inhibit") && message.arguments().size() == 4) {
            connection.send(inhibit(message));
            return true;
        }
        if (message.member() == QLatin1String("ListInhibitors")) {
            QList<Inhibitor> rows;
            for (const Held &held : m_held) {
                rows.append(held.row);
            }
            connection.send(message.createReply(QVariant::fromValue(rows)));
            return true;
        }
        return false;
    }

  private:
    struct Held {
        Inhibitor row;
        int readEnd = -1;
        QSocketNotifier *notifier = nullptr;
    };

    QDBusMessage inhibit(const QDBusMessage &message) {
        const QList<QVariant> args = message.arguments();
        Inhibitor row{
            args[0].toString(), args[1].toString(), args[2].toString(), args[3].toString(), 0, 0};
        if (m_refuseKeys && row.what.contains(QLatin1String("handle-"))) {
            say(QStringLiteral("refused what=") + row.what);
            return message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                QStringLiteral("Permission denied"));
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return message.createErrorReply(QDBusError::Failed, QStringLiteral("no pipe"));
        }
        say(QStringLiteral("inhibit what=%1 who=%2 why=%3 mode=%4")
                .arg(row.what, row.who, row.why, row.mode));
        const QDBusMessage reply =
            message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1])));
        ::close(ends[1]);  // the reply holds its own copy until it is sent
        Held &held = m_held.emplace_back(Held{row, ends[0], nullptr});
        held.notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read);
        auto position = std::prev(m_held.end());
        QObject::connect(held.notifier, &QSocketNotifier::activated, [this, position] {
            char byte;
            if (::read(position->readEnd, &byte, 1) > 0) {
                return;
            }
            say(QStringLiteral("released what=") + position->row.what);
            position->notifier->setEnabled(false);
            position->notifier->deleteLater();
            ::close(position->readEnd);
            m_held.erase(position);
        });
        return reply;
    }

    bool m_refuseKeys;
    std::list<Held> m_held;
};

// A request object of the portal: Close ends it.
class PortalRequest : public QDBusVirtualObject {
  public:
    explicit PortalRequest(QString path) : m_path(std::move(path)) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        if (message.member() != QLatin1String("Close")) {
            return false;
        }
        say(QStringLiteral("portal-closed ") + m_path);
        connection.send(message.createReply());
        QDBusConnection(connection).unregisterObject(m_path);
        deleteLater();
        return true;
    }

  private:
    QString m_path;
};

class Portal : public QDBusVirtualObject {
  public:
    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        const QList<QVariant> args = message.arguments();
        if (message.member() != QLatin1String("Inhibit") || args.size() != 3) {
            return false;
        }
        const QVariantMap options = qdbus_cast<QVariantMap>(args[2]);
        say(QStringLiteral("portal-inhibit window=%1 flags=%2 reason=%3")
                .arg(args[0].toString(), QString::number(args[1].toUInt()),
                     options.value(QStringLiteral("reason")).toString()));
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1").arg(++m_requests);
        QDBusConnection(connection).registerVirtualObject(path, new PortalRequest(path));
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        return true;
    }

  private:
    int m_requests = 0;
};

// UPower's manager object and its display device, below it: Properties.Get of OnBattery and
// Percentage.
class UPower : public QDBusVirtualObject {
  public:
    explicit UPower(double batteryPercentage) : m_percentage(batteryPercentage) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        const QList<QVariant> args = message.arguments();
        if (message.member() != QLatin1String("Get") || args.size() != 2) {
            return false;
        }
        const QString name = args[1].toString();
        say(QStringLiteral("upower-get ") + name);
        QVariant value;
        if (name == QLatin1String("OnBattery")) {
            value = m_percentage >= 0;
        } else if (name == QLatin1String("Percentage")) {
            value = m_percentage >= 0 ? m_percentage : 100.0;
        } else {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), QStringLiteral("no")));
            return true;
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        return true;
    }

  private:
    double m_percentage;  // negative: on the mains
};

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cdrw-test-logind ADDRESS [--refuse-keys]\n");
        return 2;
    }
    qDBusRegisterMetaType<Inhibitor>();
    qDBusRegisterMetaType<QList<Inhibitor>>();
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), QStringLiteral("logind"));
    bool refuseKeys = false;
    QString upower;
    for (int i = 2; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        refuseKeys = refuseKeys || argument == QLatin1String("--refuse-keys");
        if (argument.startsWith(QLatin1String("--upower="))) {
            upower = argument.mid(9);
        }
    }
    Manager manager(refuseKeys);
    Portal portal;
    UPower power(upower.startsWith(QLatin1String("battery:")) ? upower.mid(8).toDouble() : -1);
    if (!upower.isEmpty() && (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/UPower"),
                                                         &power, QDBusConnection::SubPath) ||
                              !bus.registerService(QStringLiteral("org.freedesktop.UPower")))) {
        std::fprintf(stderr, "cdrw-test-logind: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    for (const auto &[path, object, service] :
         {std::tuple<const char *, QDBusVirtualObject *, const char *>{
              "/org/freedesktop/login1", &manager, "org.freedesktop.login1"},
          {"/org/freedesktop/portal/desktop", &portal, "org.freedesktop.portal.Desktop"}}) {
        if (!bus.registerVirtualObject(QLatin1String(path), object) ||
            !bus.registerService(QLatin1String(service))) {
            std::fprintf(stderr, "cdrw-test-logind: %s\n", qPrintable(bus.lastError().message()));
            return 1;
        }
    }
    say(QStringLiteral("ready"));
    return QCoreApplication::exec();
}
