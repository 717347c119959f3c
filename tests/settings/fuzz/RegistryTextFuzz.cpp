// Any bytes as a key file: parsing never reads out of bounds, and whatever
// parses is written back as a clean file that reads as the same values, so
// a rewrite of a damaged file can never lose or change what was kept.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/RegistryStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<platform::RegistryValue> values;
  (void)platform::ParseRegistryText(text, values);
  const std::string again = platform::FormatRegistryText("Software\\Ostrand\\NF1", values);
  std::vector<platform::RegistryValue> reread;
  if (!platform::ParseRegistryText(again, reread) || reread.size() != values.size()) std::abort();
  for (size_t i = 0; i < values.size(); ++i) {
    if (reread[i].type != values[i].type || reread[i].data != values[i].data) std::abort();
    // Names compare without regard to case; the spelling is kept anyway.
    if (reread[i].name != values[i].name) std::abort();
  }
  return 0;
}
