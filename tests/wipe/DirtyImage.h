#pragma once
// Real images for the wipe tests that go end to end (the CLI, the windows):
// random leftovers, a file system made by the real tool, real files, and a
// check that nothing of them survives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/fixtures/Fixtures.h"

namespace wipetest {

inline std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937_64 random(seed);
  std::string out(size, '\0');
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t v = random();
    std::memcpy(out.data() + i, &v, 8);
  }
  return out;
}

inline uint64_t Hash16(const char* p) {
  uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  uint64_t h = a ^ (b * 0x9E3779B97F4A7C15ull);
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 29);
}

// The offset in `image` of the first 16-byte run, at any offset, that also
// occurs anywhere in one of `sources`; -1 when there is none.
inline int64_t FirstSurvivingRun(const std::string& image, const std::vector<std::string>& sources) {
  std::vector<uint64_t> known;
  for (const auto& s : sources) {
    for (size_t i = 0; i + 16 <= s.size(); ++i) known.push_back(Hash16(s.data() + i));
  }
  std::sort(known.begin(), known.end());
  for (size_t i = 0; i + 16 <= image.size(); ++i) {
    if (!std::binary_search(known.begin(), known.end(), Hash16(image.data() + i))) continue;
    for (const auto& s : sources) {
      if (memmem(s.data(), s.size(), image.data() + i, 16) != nullptr) return static_cast<int64_t>(i);
    }
  }
  return -1;
}

enum class Kind { Fat, Ntfs };

// An image full of random bytes, formatted by the real tool, with two real
// files of random content: every byte a wipe must not leave behind is in
// `sources`.
struct DirtyImage {
  DirtyImage(const fixtures::TempDir& dir, Kind kind, uint64_t size) : kind(kind) {
    path = dir.File(kind == Kind::Fat ? "fat.img" : "ntfs.img");
    sources.push_back(RandomBytes(size, 11));
    EXPECT_TRUE(fixtures::WriteFile(path, sources[0]));
    const auto made = kind == Kind::Fat ? fixtures::RunTool({"mkfs.fat", "-F", "12", "-n", "ORIGINAL", path})
                                        : fixtures::RunTool({"mkntfs", "-F", "-Q", "-L", "ORIGINAL", path});
    EXPECT_TRUE(made.ok()) << made.output;
    const fixtures::FileSystem fs = kind == Kind::Fat ? fixtures::FileSystem::FAT12 : fixtures::FileSystem::NTFS;
    int n = 0;
    for (size_t bytes : {70000u, 300000u}) {
      sources.push_back(RandomBytes(bytes, 100 + n));
      const std::string host = dir.File("file" + std::to_string(n) + ".bin");
      EXPECT_TRUE(fixtures::WriteFile(host, sources.back()));
      std::string error;
      EXPECT_TRUE(fixtures::CopyIn(path, fs, host, "FILE" + std::to_string(n) + ".BIN", &error)) << error;
      ++n;
    }
  }
  Kind kind;
  std::string path;
  std::vector<std::string> sources;
};

}  // namespace wipetest
