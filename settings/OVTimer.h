#pragma once
#include <cstdint>
#include <string>

// The stopwatch whose reading ends each wipe and verify record.
class OVTimer {
 public:
  void Start();  // start := now
  void Stop();   // stop := now
  // The time from start to stop as two-digit (or longer) hours, minutes and
  // seconds texts for "Total elapsed time (HH:MM:SS): %s:%s:%s\r\n". A stop
  // before the start (the clock was set back) reads as no time at all.
  void FormatElapsed(std::string& hours, std::string& minutes, std::string& seconds) const;

  int32_t start = 0;
  int32_t stop = 0;
};
