// An index record as it lies in FFIDX.BBS, for building expected files.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "test_support.h"

// `name` is the 12-character field.
inline std::string Record(const std::string &name, uint16_t area, int32_t size) {
  std::string r(20, '\0');
  r[0] = 12;
  std::memcpy(&r[1], name.data(), 12);
  vt::PutU16(r, 13, area);
  vt::PutU32(r, 16, static_cast<uint32_t>(size));
  return r;
}
