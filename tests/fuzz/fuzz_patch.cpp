// Fuzzes patch records: the input is a record's result size (u32, little-endian) and its body,
// applied to a fixed installed file and checked by its instructions alone. The seeds are
// patches made for that file (tests/fuzz/patch_seeds.py).
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "payload/extract.h"

namespace {

// The installed file every input is applied to: base[i] = (i * 2654435761 mod 2^32) >> 16.
const char* BaseFolder() {
  static std::string folder;
  if (folder.empty()) {
    char t[] = "/tmp/fuzz_patch.XXXXXX";
    if (!mkdtemp(t)) std::abort();
    folder = t;
    std::FILE* f = std::fopen((folder + "/data.arc").c_str(), "wb");
    for (std::uint32_t i = 0; i < 65536; ++i)
      std::fputc(static_cast<int>(((i * 2654435761u) >> 16) & 0xFF), f);
    std::fclose(f);
  }
  return folder.c_str();
}

void Put(std::string* s, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) s->push_back(static_cast<char>(v >> (8 * i)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t result;
  std::memcpy(&result, data, 4);
  std::string c = "MZ";
  Put(&c, 9, 2);
  c.append("data.arc", 9);
  Put(&c, 0xFFFFFFFEu, 4);  // -2: a patch record
  Put(&c, size - 4, 4);
  Put(&c, result, 4);
  Put(&c, 0x01D710B41567C980ull, 8);
  c.append(reinterpret_cast<const char*>(data + 4), size - 4);
  c.append(2 + (8 - (c.size() + 2 + 4) % 8) % 8, '\0');
  Put(&c, 2, 4);
  for (const char* base : {static_cast<const char*>(nullptr), BaseFolder()}) {
    std::FILE* f = fmemopen(&c[0], c.size(), "rb");
    if (!f) return 0;
    payload::Failure failure;
    if (payload::ExtractFrom(f, nullptr, payload::Mode::Full, nullptr, &failure, nullptr, false, base) != 0 &&
        (failure.fault == payload::Fault::None || std::strcmp(failure.record, "data.arc") != 0))
      __builtin_trap();  // a failure says what went wrong, and where
    std::fclose(f);
  }
  return 0;
}
