// Little-endian integers appended to a byte vector: the container, the title image and the
// test programs' hand-made files all write their fields through these.
#pragma once

#include <cstdint>
#include <vector>

namespace mkupdater {

inline void PutU16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xFF));
  v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xFF));
}

inline void PutU32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  PutU16(v, x & 0xFFFF);
  PutU16(v, x >> 16);
}

inline void PutU64(std::vector<std::uint8_t>& v, std::uint64_t x) {
  PutU32(v, static_cast<std::uint32_t>(x));
  PutU32(v, static_cast<std::uint32_t>(x >> 32));
}

}  // namespace mkupdater
