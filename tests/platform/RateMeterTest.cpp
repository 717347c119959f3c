// The rate and time-left line under the wipe's and the verification's
// progress bars, and on the CLI's progress lines.
#include <gtest/gtest.h>

#include "platform/RateMeter.h"

namespace {

using platform::RateMeter;
using Clock = RateMeter::Clock;
using std::chrono::milliseconds;

TEST(RateMeter, Texts) {
  const struct {
    double rate, left;
    const char* text;
  } cases[] = {
      {38.2e6, 72 * 60, "38.2 MB/s, about 1 h 12 min left"},
      {38.2e6, 71 * 60 + 1, "38.2 MB/s, about 1 h 12 min left"},  // minutes round up
      {120e6, 2 * 3600, "120.0 MB/s, about 2 h 0 min left"},
      {1.5e9, 59.2, "1.5 GB/s, about 60 s left"},
      {999.96e6, 61, "1.0 GB/s, about 2 min left"},
      {512e3, 0, "512.0 kB/s, about 0 s left"},
      {700, 3600 * 30, "700 B/s, about 30 h 0 min left"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::RateText(c.rate, c.left), c.text) << c.rate << " " << c.left;
}

TEST(RateMeter, AverageOfThePassRefreshedAtMostTwiceASecond) {
  const Clock::time_point t0{};
  RateMeter meter;
  meter.Start(1000'000'000, t0);
  // 10 MB/s throughout.
  auto at = [&](int ms) { return meter.Update(uint64_t(ms) * 10'000, t0 + milliseconds(ms)); };
  EXPECT_FALSE(at(100));
  EXPECT_FALSE(at(499));
  EXPECT_EQ(meter.Text(), "");
  EXPECT_TRUE(at(500));
  EXPECT_EQ(meter.Text(), "10.0 MB/s, about 2 min left");
  const double leftAfterHalfASecond = meter.SecondsLeft();
  EXPECT_FALSE(at(900));  // too soon after the last refresh
  EXPECT_TRUE(at(1000));
  EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 10e6);
  EXPECT_LT(meter.SecondsLeft(), leftAfterHalfASecond);
  EXPECT_NEAR(meter.SecondsLeft(), 99.0, 1e-9);
  // The end of the pass.
  EXPECT_TRUE(meter.Update(1000'000'000, t0 + milliseconds(100'000)));
  EXPECT_EQ(meter.Text(), "10.0 MB/s, about 0 s left");

  // A new pass starts from nothing: the old figure is not shown for it.
  meter.Start(500, t0 + milliseconds(200'000));
  EXPECT_EQ(meter.Text(), "");
  EXPECT_FALSE(meter.Update(0, t0 + milliseconds(201'000)));  // nothing done yet: no figure
  EXPECT_TRUE(meter.Update(250, t0 + milliseconds(202'000)));
  EXPECT_EQ(meter.Text(), "125 B/s, about 2 s left");
}

}  // namespace
