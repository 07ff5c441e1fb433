// Fuzzes the container reader: any bytes as the updater's own file, read in both modes
// without writing (a null destination checks every stream instead).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "payload/container.h"
#include "payload/extract.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (payload::Mode mode : {payload::Mode::Full, payload::Mode::Bootstrap}) {
    std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size ? size : 1, "rb");
    if (!f) return 0;
    payload::Failure failure;
    if (payload::ExtractFrom(f, nullptr, mode, nullptr, &failure) != 0 &&
        (failure.fault == payload::Fault::None || !std::memchr(failure.record, 0, sizeof failure.record)))
      __builtin_trap();  // a failure always says what went wrong
    std::fclose(f);
  }
  // The name rules on raw text.
  std::string name(reinterpret_cast<const char*>(data), size < 300 ? size : 300);
  name = name.c_str();
  payload::IsSafeEntryName(name.c_str(), size & 1);
  payload::NameContainsNoCase(name.c_str(), ".txt");
  return 0;
}
