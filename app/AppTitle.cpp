// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/AppTitle.h"

#include <cctype>

namespace app {

std::string applicationTitle(const std::string &executablePath) {
    const auto slash = executablePath.find_last_of('/');
    std::string name =
        slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    // Executable names are usually all lower case; the first letter is raised so the title
    // reads as a name ("Cdrw-fwupdate").
    if (!name.empty()) {
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    }
    for (std::size_t i = 1; i < name.size(); ++i) {
        name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    }
    return name;
}

std::string escapedExceptionText(const std::string &message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

}  // namespace app
