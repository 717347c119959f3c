#include "platform/RateMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace platform {

void RateMeter::Start(uint64_t totalBytes, Clock::time_point now) {
  total_ = totalBytes;
  start_ = shown_ = now;
  rate_ = secondsLeft_ = 0;
  text_.clear();
}

bool RateMeter::Update(uint64_t bytesDone, Clock::time_point now) {
  if (now - shown_ < kRefresh) return false;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  if (seconds <= 0 || bytesDone == 0) return false;
  shown_ = now;
  rate_ = static_cast<double>(bytesDone) / seconds;
  secondsLeft_ = bytesDone >= total_ ? 0.0 : static_cast<double>(total_ - bytesDone) / rate_;
  text_ = RateText(rate_, secondsLeft_);
  return true;
}

std::string RateText(double bytesPerSecond, double secondsLeft) {
  static const char* const kUnits[] = {"B/s", "kB/s", "MB/s", "GB/s"};
  double value = bytesPerSecond;
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000.0;
    ++unit;
  }
  char rate[32];
  std::snprintf(rate, sizeof rate, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);

  char left[48];
  const double s = std::max(0.0, secondsLeft);
  if (s < 60) {
    std::snprintf(left, sizeof left, "about %d s left", static_cast<int>(std::ceil(s)));
  } else {
    const long long minutes = static_cast<long long>(std::ceil(s / 60.0));
    if (minutes < 60) {
      std::snprintf(left, sizeof left, "about %lld min left", minutes);
    } else {
      std::snprintf(left, sizeof left, "about %lld h %lld min left", minutes / 60, minutes % 60);
    }
  }
  return std::string(rate) + ", " + left;
}

}  // namespace platform
