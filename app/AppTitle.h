// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Texts the application object derives for itself.
#pragma once

#include <string>

namespace app {

// The application title: the executable's file name without its directory and without
// everything from its first "." on, its first letter in upper case and the others in lower case.
std::string applicationTitle(const std::string &executablePath);

// The message of an exception that escaped an event handler, as the error box shows it: a full
// stop is appended when the message is not empty and its last character's code is above ".".
std::string escapedExceptionText(const std::string &message);

}  // namespace app
