// FILEPATH.VLM: one 256-byte record per file area, area k at (k-1) * 256.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

#pragma pack(push, 1)
struct FilePathRecord {
  uint8_t AreaPath[123];  // length-prefixed directory with its trailing backslash; length 0 = unused
  uint16_t AreaSecurity;
  uint8_t Reserved[131];  // the board's; never read
};
#pragma pack(pop)

static_assert(sizeof(FilePathRecord) == 256);
static_assert(offsetof(FilePathRecord, AreaPath) == 0);
static_assert(offsetof(FilePathRecord, AreaSecurity) == 123);

// Finds the area file (FILEPATH.<node> in the system directory, FILEPATH.VLM
// in the current one, then in the system directory) and opens it for
// reading with a stream buffer of `bufferSize` bytes.  On failure prints
// what went wrong and returns null.
plat::UniqueFile OpenFilePathFile(size_t bufferSize);
