// Text, length-prefixed string and bit helpers.
//
// A blank is a byte whose value read as a signed 8-bit number is at most 32:
// control characters, the space and every byte from 128 up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline bool IsBlank(char c) { return static_cast<signed char>(c) <= 32; }
// a-z to A-Z; every other byte as it is (the board's names and keys ignore
// the case of plain letters only).
inline uint8_t UpperByte(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }
inline char UpperChar(char c) { return static_cast<char>(UpperByte(static_cast<uint8_t>(c))); }

std::string &AppendBackslash(std::string &text);
std::string &RemoveBackslash(std::string &text);

// A path in its four parts.  Both `\` and `/` separate directories, as on the
// board's platform, so a path written either way splits the same.
struct PathParts {
  std::string drive;  // "X:" or empty
  std::string dir;    // up to and including the last separator; empty without one
  std::string name;   // the last component without its extension
  std::string ext;    // from the last dot of the last component, dot included
};
PathParts SplitPath(const std::string &path);
void ForceExtension(std::string &path, const std::string &extension);
std::string &FirstWord(std::string &word, std::string &line);
std::string &TrimLead(std::string &text);
std::string &TrimTrail(std::string &text);
std::string &Trim(std::string &text);
// Upper-cases a-z of the text and replaces every occurrence of `search` (which
// must be upper case and not empty) by `replacement`, kept as given.
std::string &ReplaceStr(std::string &text, const std::string &search, const std::string &replacement);
// a-z to A-Z, nothing else.
std::string &UpperCase(std::string &text);

// Length-prefixed text in a field of `fieldSize` bytes (count byte included).
// A count larger than the field is cut to the field, so a corrupt record can
// never make a reader run past it.
void PasToC(const uint8_t *field, size_t fieldSize, std::string &out);
template <size_t N>
void PasToC(const uint8_t (&field)[N], std::string &out) {
  PasToC(field, N, out);
}
template <size_t N>
std::string pPasToC(const uint8_t (&field)[N]) {
  std::string out;
  PasToC(field, N, out);
  return out;
}
// Stores a text into a length-prefixed field, cut to the field's room; the
// bytes after the text are left as they were.
void CToPas(const std::string &text, uint8_t *field, size_t fieldSize);
template <size_t N>
void CToPas(const std::string &text, uint8_t (&field)[N]) {
  CToPas(text, field, N);
}

void SetBitByte(uint8_t bit, int on, uint8_t &target);
void SetBitWord(uint8_t bit, int on, uint16_t &target);

// printf into a std::string.  The formats are checked as the C99 printf
// that both hosts use ("printf" alone would mean the older Windows runtime's
// own formats there, which lack %zu and %lld).
std::string StrPrintf(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));

// A decimal number read the way the C library's conversion to long reads it
// (leading blanks, optional sign, digits up to the first other character; 0
// without digits), held within the range of a signed 32-bit number.
int32_t ReadDecimal(const std::string &text);
