// The reflected CRC-32 step used for the board's name and subject keys.  The
// register starts at 0xFFFFFFFF and is not inverted at the end.
#pragma once

#include <array>
#include <cstddef>
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
// Tables for eight bytes a step: entry [k][b] is byte b followed by k zero bytes.
constexpr std::array<std::array<uint32_t, 256>, 8> MakeSlices() {
  std::array<std::array<uint32_t, 256>, 8> t{};
  t[0] = MakeTable();
  for (int k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}
inline constexpr std::array<std::array<uint32_t, 256>, 8> Slices = MakeSlices();
}  // namespace crc_detail

inline constexpr std::array<uint32_t, 256> CRC32Table = crc_detail::MakeTable();

inline uint32_t UpdateCRC32(uint8_t byte, uint32_t crc) { return (crc >> 8) ^ CRC32Table[(crc ^ byte) & 0xFF]; }

// The same step over a run of bytes, eight at a time: the result equals
// UpdateCRC32 applied to each byte in turn.
inline uint32_t UpdateCRC32(const void *data, size_t size, uint32_t crc) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  const auto &t = crc_detail::Slices;
  for (; size >= 8; size -= 8, p += 8) {
    uint32_t lo = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; size > 0; --size, ++p) crc = UpdateCRC32(*p, crc);
  return crc;
}
