// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A bus of a test's own: a dbus-daemon with a private configuration in a fresh folder and the
// test logind (tests/update/TestLogind.cpp) on it, both ended with the object. The lines the
// test logind writes are collected for the test to wait on.
#pragma once

#include <QProcess>
#include <QStringList>
#include <fstream>
#include <string>

#include "tests/support/TempDir.h"

namespace testing_support {

class TestBus {
  public:
    // `logindArguments` follow the address on the test logind's command line. With `alsoTcp` the
    // bus also listens on TCP (127.0.0.1, a free port), taking anonymous clients there, as a TCP
    // bus takes a client without credentials. On failure address() is empty.
    explicit TestBus(const QStringList &logindArguments = {}, bool alsoTcp = false) {
        const std::string socket = (m_dir.path() / "bus").string();
        std::ofstream(m_dir.path() / "bus.conf")
            << "<busconfig><type>custom</type><listen>unix:path=" << socket << "</listen>"
            << (alsoTcp ? "<listen>tcp:host=127.0.0.1</listen><auth>ANONYMOUS</auth>"
                          "<allow_anonymous/>"
                        : "")
            << "<auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                        QStringLiteral("--config-file=") +
                            QString::fromStdString((m_dir.path() / "bus.conf").string())});
        if (!m_daemon.waitForReadyRead(5000)) {
            return;
        }
        // One entry per listening address, in no fixed order; the test logind needs the Unix
        // socket, which alone passes descriptors.
        QString address;
        for (const QString &entry :
             QString::fromLocal8Bit(m_daemon.readLine()).trimmed().split(QLatin1Char(';'))) {
            (entry.startsWith(QLatin1String("tcp:")) ? m_tcpAddress : address) = entry;
        }
        m_logind.start(QStringLiteral(CDRW_TEST_LOGIND), QStringList{address} + logindArguments);
        if (waitForLine(QStringLiteral("ready")).isEmpty()) {
            return;
        }
        m_address = address.toStdString();
    }
    ~TestBus() {
        for (QProcess *process : {&m_logind, &m_daemon}) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
    TestBus(const TestBus &) = delete;
    TestBus &operator=(const TestBus &) = delete;

    // The bus's Unix socket.
    const std::string &address() const { return m_address; }
    // Its TCP address, with `alsoTcp`; empty otherwise.
    std::string tcpAddress() const { return m_tcpAddress.toStdString(); }

    // The first line of the test logind not yet taken that starts with `prefix`, waiting up to
    // `milliseconds` for it; empty when none came. Lines before it are taken too.
    QString waitForLine(const QString &prefix, int milliseconds = 10000) {
        for (;;) {
            while (m_logind.canReadLine()) {
                const QString line = QString::fromUtf8(m_logind.readLine()).trimmed();
                if (line.startsWith(prefix)) {
                    return line;
                }
            }
            if (!m_logind.waitForReadyRead(milliseconds)) {
                return {};
            }
        }
    }

  private:
    TempDir m_dir{"cdrw-bus"};
    QProcess m_daemon;
    QProcess m_logind;
    std::string m_address;
    QString m_tcpAddress;
};

}  // namespace testing_support
