// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The application object: shows an exception that escapes an event handler in the error message
// box and lets the message loop go on.
#pragma once

#include <QApplication>
#include <string>

class TApplication : public QApplication {
  public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // The application title used as the caption of the error message box.
    const std::string &title() const { return m_title; }

    // Shows the error message box for an escaped exception's message.
    void showException(const std::string &message) const;

  private:
    std::string m_title;
};
