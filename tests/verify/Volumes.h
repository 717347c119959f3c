#pragma once
// Volumes as a wipe leaves them: the last pass's pattern over the whole
// image, then the platform's formatter run on it in place.
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/fixtures/Fixtures.h"

namespace verifytest {

using fixtures::FileSystem;

// What the last pass of each level leaves on the whole medium: level 1 and
// 7 zeros, level 12 ones, level 3 random bytes each followed by its
// complement.
inline bool WriteLastPass(const std::string& path, uint64_t bytes, int level) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block(1 << 20);
  std::mt19937 rng(level * 7919u);
  for (size_t i = 0; i < block.size(); i += 2) {
    uint8_t b = level == 12 ? 0xFF : 0x00;
    uint8_t c = b;
    if (level == 3) {
      b = static_cast<uint8_t>(rng());
      c = static_cast<uint8_t>(b ^ 0xFF);
    }
    block[i] = static_cast<char>(b);
    block[i + 1] = static_cast<char>(c);
  }
  for (uint64_t done = 0; done < bytes; done += block.size()) {
    out.write(block.data(), static_cast<std::streamsize>(std::min<uint64_t>(block.size(), bytes - done)));
  }
  return static_cast<bool>(out);
}

inline uint64_t SizeFor(FileSystem fs) {
  switch (fs) {
    case FileSystem::FAT12: return 1474560;
    case FileSystem::FAT16: return 20ull << 20;
    case FileSystem::FAT32: return 40ull << 20;
    case FileSystem::NTFS: return 12ull << 20;
  }
  return 0;
}

// The formatter's command lines (mkfs.fat -I -F n -n LABEL, mkntfs -F -Q -L
// LABEL), run on the image in place so what the passes left stays outside
// the structures formatting writes.
inline fixtures::ToolResult Format(const std::string& path, FileSystem fs) {
  if (fs == FileSystem::NTFS) return fixtures::RunTool({"mkntfs", "-F", "-Q", "-L", "CLEANED", path});
  std::vector<std::string> args{"mkfs.fat", "-I", "-F"};
  args.push_back(fs == FileSystem::FAT12 ? "12" : fs == FileSystem::FAT16 ? "16" : "32");
  if (fs == FileSystem::FAT16) args.insert(args.end(), {"-s", "1"});
  args.insert(args.end(), {"-n", "CLEANED", path});
  return fixtures::RunTool(args);
}


// A wiped and formatted image at `path`; the formatter's output in `error`.
inline bool MakeWipedVolume(const std::string& path, FileSystem fs, int level, std::string* error = nullptr,
                            uint64_t size = 0) {
  if (!WriteLastPass(path, size ? size : SizeFor(fs), level)) return false;
  const auto r = Format(path, fs);
  if (error) *error = r.output;
  return r.ok();
}

}  // namespace verifytest
