#include "settings/OVTimer.h"

#include <cstdio>

#include "settings/CSettings.h"

namespace {
std::string TwoDigits(int64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%02lld", static_cast<long long>(value));
  return buffer;
}
}  // namespace

void OVTimer::Start() { start = static_cast<int32_t>(CurrentTimeSeconds()); }

void OVTimer::Stop() { stop = static_cast<int32_t>(CurrentTimeSeconds()); }

void OVTimer::FormatElapsed(std::string& hours, std::string& minutes, std::string& seconds) const {
  int64_t elapsed = static_cast<int64_t>(stop) - start;
  if (elapsed < 0) elapsed = 0;  // the clock went back during the run
  hours = TwoDigits(elapsed / 3600);
  minutes = TwoDigits(elapsed / 60 % 60);
  seconds = TwoDigits(elapsed % 60);
}
