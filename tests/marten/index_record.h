// An index record as it lies in FFIDX.BBS, for building expected files.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "marten.h"
#include "test_support.h"

// `name` is the 12-character field.
inline std::string Record(const std::string &name, uint16_t area, int32_t size) {
  FastIndexRecord r{};
  r.NameLength = 12;
  std::memcpy(r.Name, name.data(), sizeof r.Name);
  r.Area = area;
  r.Size = size;
  return vt::AsBytes(r);
}
