// Records of test boards built from the declarations the programs read them
// with, and read back from a file's bytes, so no test spells out an offset.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "filepath_record.h"
#include "msgbase.h"
#include "test_support.h"

namespace vt {

// A length-prefixed text into its field: the count byte is the text's
// length, the characters are cut to the field, and the bytes after them keep
// what they held.
template <size_t N>
void SetPas(uint8_t (&field)[N], const std::string &text) {
  field[0] = static_cast<uint8_t>(text.size());
  std::memcpy(field + 1, text.data(), std::min(text.size(), N - 1));
}

// The text of a length-prefixed field, never past the field.
template <size_t N>
std::string Pas(const uint8_t (&field)[N]) {
  return std::string(reinterpret_cast<const char *>(field + 1), std::min<size_t>(field[0], N - 1));
}

// A record whose byte at each offset is byte(offset): a pattern or noise in
// the bytes a program must carry through unchanged.
template <typename T, typename Byte>
T FilledRecord(Byte byte) {
  uint8_t bytes[sizeof(T)];
  for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(byte(i));
  T record;
  std::memcpy(&record, bytes, sizeof record);
  return record;
}

// Record `index` (from 0) of a file's bytes; a test failure and zeros when
// the file does not hold it whole.
template <typename T>
T RecordAt(const std::string &bytes, size_t index) {
  T record{};
  if (bytes.size() / sizeof(T) <= index) {
    ADD_FAILURE() << "no record " << index << " in " << bytes.size() << " bytes";
    return record;
  }
  std::memcpy(&record, bytes.data() + index * sizeof(T), sizeof(T));
  return record;
}

// Record `index` of a file's bytes as `change` edits it.
template <typename T, typename Change>
void EditRecord(std::string &bytes, size_t index, Change change) {
  T record = RecordAt<T>(bytes, index);
  change(record);
  if (bytes.size() / sizeof(T) > index) bytes.replace(index * sizeof(T), sizeof(T), AsBytes(record));
}

// Message `number` (from 1) of a header file's bytes.
inline MessageHeader Header(const std::string &headers, size_t number) {
  return RecordAt<MessageHeader>(headers, number - 1);
}

// Message `number` of a header file without its two link fields: what
// linking leaves as it was.
inline std::string Unlinked(const std::string &headers, size_t number) {
  constexpr size_t kFirst = offsetof(MessageHeader, TextStart);
  return headers.substr((number - 1) * sizeof(MessageHeader) + kFirst, sizeof(MessageHeader) - kFirst);
}

// A record of FILEPATH.VLM: the area's directory and security level.
inline std::string FileAreaBytes(const std::string &path, uint16_t security = 0) {
  FilePathRecord r{};
  SetPas(r.AreaPath, path);
  r.AreaSecurity = security;
  return AsBytes(r);
}

}  // namespace vt
