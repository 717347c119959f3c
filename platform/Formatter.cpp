#include "platform/Formatter.h"

#include <atomic>
#include <cstring>

namespace platform {
namespace {
std::atomic<Formatter*> g_injected{nullptr};
}  // namespace

Formatter& CurrentFormatter() {
  Formatter* f = g_injected.load();
  return f ? *f : SystemFormatter();
}

void InjectFormatter(Formatter* formatter) { g_injected.store(formatter); }

std::string FitLabel(FormatKind kind, const std::string& label) {
  std::string out = label.substr(0, 11);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    // Bytes above 0x7F are 8-bit ANSI text that the tools would read as
    // broken UTF-8; control characters cannot be shown in any label.
    if (u < 0x20 || u > 0x7E) {
      c = '_';
      continue;
    }
    if (kind != FormatKind::kNtfs) {
      // mkfs.fat(8) refuses these in a label; FAT labels are upper case.
      if (std::strchr("*?.,;:/\\|+=<>[]\"", c) != nullptr) c = '_';
      else if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

}  // namespace platform
