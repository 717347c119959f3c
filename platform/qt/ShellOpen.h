#pragma once
#include <QUrl>
#include <string>

namespace platform {

// What "open" through the shell means for a target text: an existing file
// (relative names are taken from the process's working directory) becomes a
// file address, a text with a scheme is used as it is, and a bare host name
// such as "www.example.com" becomes a web address. Empty for an empty text.
QUrl ShellTargetUrl(const std::string& target);

// Hands the target to the desktop (xdg-open through QDesktopServices).
// Returns whether the desktop took it; callers of this program do not look.
bool ShellOpen(const std::string& target);

}  // namespace platform
