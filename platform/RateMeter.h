#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace platform {

// The speed of one pass over a drive and the time it still needs, as one
// line of text: "38.2 MB/s, about 1 h 12 min left". Fed with the bytes the
// pass has done and the time; the rate is the pass's average so far, and
// the text changes at most twice a second so it can be read.
//
//   meter.Start(total, now);            // a pass or read-back begins
//   if (meter.Update(done, now)) show(meter.Text());
class RateMeter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kRefresh{500};

  // A new pass over `totalBytes` begins at `now`; the text goes empty.
  void Start(uint64_t totalBytes, Clock::time_point now);
  // `bytesDone` of the pass are done at `now`. True when the text was
  // refreshed (at least kRefresh after the start or the last refresh).
  bool Update(uint64_t bytesDone, Clock::time_point now);

  // Empty until the first refresh.
  const std::string& Text() const { return text_; }
  double BytesPerSecond() const { return rate_; }
  double SecondsLeft() const { return secondsLeft_; }

 private:
  uint64_t total_ = 0;
  Clock::time_point start_{}, shown_{};
  double rate_ = 0;
  double secondsLeft_ = 0;
  std::string text_;
};

// "38.2 MB/s, about 1 h 12 min left" (decimal units; minutes rounded up).
std::string RateText(double bytesPerSecond, double secondsLeft);

}  // namespace platform
