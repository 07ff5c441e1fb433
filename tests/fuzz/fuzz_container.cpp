// Fuzzes the container reader: any bytes as the updater's own file, read in both modes
// without writing (a null destination checks every stream instead).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "payload/container.h"
#include "platform/host_control.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (payload::Mode mode : {payload::Mode::Full, payload::Mode::Bootstrap}) {
    std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size ? size : 1, "rb");
    if (!f) return 0;
    char failed[payload::kMaxName];
    try {
      payload::ExtractFrom(f, nullptr, mode, false, failed, sizeof failed);
    } catch (const host::ProcessExit&) {
      // Allocation failure ends the run; nothing else may.
    }
    std::fclose(f);
  }
  // The name rules on raw text.
  std::string name(reinterpret_cast<const char*>(data), size < 300 ? size : 300);
  name = name.c_str();
  payload::IsSafeEntryName(name.c_str(), size & 1);
  payload::NameContainsNoCase(name.c_str(), ".txt");
  return 0;
}
