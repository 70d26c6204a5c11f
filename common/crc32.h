// The reflected CRC-32 step used for the board's name and subject keys.  The
// register starts at 0xFFFFFFFF and is not inverted at the end.
#pragma once

#include <array>
#include <cstdint>

namespace crc_detail {
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}
}  // namespace crc_detail

inline constexpr std::array<uint32_t, 256> CRC32Table = crc_detail::MakeTable();

inline uint32_t UpdateCRC32(uint8_t byte, uint32_t crc) { return (crc >> 8) ^ CRC32Table[(crc ^ byte) & 0xFF]; }
