#pragma once
#include <functional>
#include <string>

namespace platform {

// Plays a system sound alias asynchronously: "SystemQuestion",
// "SystemHand", "SystemExclamation" or "Default". The sound is looked up by
// its XDG sound-theme name; an unknown alias plays the default sound. A
// machine without a sound server stays silent; nothing is reported.
void PlaySystemSound(const std::string& alias);

// Called on the main thread with every alias played, before it is played
// (the window tests hear which sounds a window made); none by default.
void SetSoundListener(std::function<void(const std::string& alias)> listener);

// The XDG sound-theme event id an alias is played as.
std::string SoundThemeName(const std::string& alias);

}  // namespace platform
