// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Refuses the close requests that the window system sends to the program's windows (the title
// bar's close box, Alt+F4) for as long as the object lives. Windows that the program closes itself
// still close. Does nothing when no application object exists.
#pragma once

#include <QObject>

namespace platform {

class CloseRefusal : public QObject {
  public:
    CloseRefusal();
    ~CloseRefusal() override;
    CloseRefusal(const CloseRefusal &) = delete;
    CloseRefusal &operator=(const CloseRefusal &) = delete;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

}  // namespace platform
