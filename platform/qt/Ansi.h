#pragma once
#include <QString>
#include <string>
#include <string_view>

namespace platform {

// The program's texts are 8-bit Windows-1252 (drive names such as
// "A: 3\xBD Floppy", labels, messages). They are converted here, at the
// point where they reach Qt, and nowhere else.
QString FromAnsi(std::string_view text);
// Characters Windows-1252 cannot hold become '?'.
std::string ToAnsi(const QString& text);

}  // namespace platform
