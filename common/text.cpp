#include "text.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform.h"

std::string &AppendBackslash(std::string &text) {
  if (!text.empty() && text.back() != '\\') text += '\\';
  return text;
}

std::string &RemoveBackslash(std::string &text) {
  if (!text.empty() && text.back() == '\\') text.pop_back();
  return text;
}

PathParts SplitPath(const std::string &path) {
  PathParts parts;
  size_t pos = 0;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = path.substr(0, 2);
    pos = 2;
  }
  size_t lastSep = path.find_last_of("\\/");
  if (lastSep != std::string::npos && lastSep >= pos) {
    parts.dir = path.substr(pos, lastSep + 1 - pos);
    pos = lastSep + 1;
  }
  std::string last = path.substr(pos);
  size_t dot = last.find_last_of('.');
  parts.name = last.substr(0, dot);
  if (dot != std::string::npos) parts.ext = last.substr(dot);
  return parts;
}

void ForceExtension(std::string &path, const std::string &extension) {
  constexpr size_t kMaxComponent = 255;
  PathParts parts = SplitPath(path);
  auto cut = [](std::string &s) {
    if (s.size() > kMaxComponent) s.resize(kMaxComponent);
  };
  cut(parts.dir);
  cut(parts.name);
  std::string newExt = extension;
  if (!newExt.empty() && newExt[0] != '.') newExt.insert(newExt.begin(), '.');
  cut(newExt);
  if (!parts.dir.empty() && parts.dir.back() != '\\' && parts.dir.back() != '/') parts.dir += '\\';
  path = parts.drive + parts.dir + parts.name + newExt;
}

std::string &FirstWord(std::string &word, std::string &line) {
  size_t space = line.find(' ');
  if (space == std::string::npos) {
    word = line;
    line.clear();
  } else {
    word = line.substr(0, space);
    line.erase(0, space);
    TrimLead(line);
  }
  return word;
}

std::string &TrimLead(std::string &text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  text.erase(0, i);
  return text;
}

std::string &TrimTrail(std::string &text) {
  size_t n = text.size();
  while (n > 0 && IsBlank(text[n - 1])) --n;
  text.resize(n);
  return text;
}

std::string &Trim(std::string &text) { return TrimLead(TrimTrail(text)); }

std::string &UpperCase(std::string &text) {
  for (char &c : text) c = UpperChar(c);
  return text;
}

std::string &ReplaceStr(std::string &text, const std::string &search, const std::string &replacement) {
  std::string copy = text;
  UpperCase(copy);
  text.clear();
  if (search.empty()) {
    text = copy;
    return text;
  }
  size_t pos = 0;
  for (;;) {
    size_t hit = copy.find(search, pos);
    if (hit == std::string::npos) break;
    text.append(copy, pos, hit - pos);
    text += replacement;
    pos = hit + search.size();
  }
  text.append(copy, pos, std::string::npos);
  return text;
}

void PasToC(const uint8_t *field, size_t fieldSize, std::string &out) {
  out.clear();
  if (fieldSize == 0) return;
  size_t n = field[0];
  if (n > fieldSize - 1) n = fieldSize - 1;
  out.assign(reinterpret_cast<const char *>(field + 1), n);
}

void CToPas(const std::string &text, uint8_t *field, size_t fieldSize) {
  if (fieldSize == 0) return;
  size_t n = text.size();
  if (n > fieldSize - 1) n = fieldSize - 1;
  if (n > 255) n = 255;
  field[0] = static_cast<uint8_t>(n);
  std::memcpy(field + 1, text.data(), n);
}

void SetBitByte(uint8_t bit, int on, uint8_t &target) {
  uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
  target = on ? static_cast<uint8_t>(target | mask) : static_cast<uint8_t>(target & ~mask);
}

void SetBitWord(uint8_t bit, int on, uint16_t &target) {
  uint16_t mask = static_cast<uint16_t>(1u << (bit & 15));
  target = on ? static_cast<uint16_t>(target | mask) : static_cast<uint16_t>(target & ~mask);
}

std::string StrPrintf(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, ap);
  }
  va_end(ap);
  return out;
}

int32_t ReadDecimal(const std::string &text) {
  int saved = errno;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  errno = saved;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}
