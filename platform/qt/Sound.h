#pragma once
#include <string>

namespace platform {

// Plays a system sound alias asynchronously: "SystemQuestion",
// "SystemHand", "SystemExclamation" or "Default". The sound is looked up by
// its XDG sound-theme name; an unknown alias plays the default sound. A
// machine without a sound server stays silent; nothing is reported.
void PlaySystemSound(const std::string& alias);

// The XDG sound-theme event id an alias is played as.
std::string SoundThemeName(const std::string& alias);

}  // namespace platform
