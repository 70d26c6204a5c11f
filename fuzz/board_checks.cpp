#include "board_checks.h"

#include <cstring>
#include <vector>

#include "support.h"

namespace fz {
namespace {

MessageHeader HeaderAt(const std::string &file, size_t i) {
  MessageHeader h;
  std::memcpy(&h, file.data() + i * sizeof h, sizeof h);
  return h;
}

// Header bytes apart from the links (0-3) and the text place (4-11).
std::string Body(const std::string &file, size_t i) { return file.substr(i * sizeof(MessageHeader) + 12, 174); }

}  // namespace

bool Packed(const std::string &headerBefore, const std::string &textBefore, const std::string &headerAfter,
            const std::string &textAfter) {
  if (textBefore != textAfter || headerBefore.size() != headerAfter.size()) return true;
  for (size_t i = 0; i < headerAfter.size(); ++i) {
    if (i % sizeof(MessageHeader) < 4 && i < headerAfter.size() / sizeof(MessageHeader) * sizeof(MessageHeader))
      continue;
    if (headerAfter[i] != headerBefore[i]) return true;
  }
  return false;
}

void CheckPackedArea(const std::string &headerBefore, const std::string &headerAfter, const std::string &textAfter) {
  FZ_CHECK(headerAfter.size() % sizeof(MessageHeader) == 0);
  size_t count = headerAfter.size() / sizeof(MessageHeader), old = headerBefore.size() / sizeof(MessageHeader);
  FZ_CHECK(count >= 1 && count <= old);
  uint64_t next = 0;
  size_t match = 0;
  for (size_t k = 0; k < count; ++k) {
    MessageHeader h = HeaderAt(headerAfter, k);
    FZ_CHECK(h.TextStart == next);
    FZ_CHECK(h.TextLength >= 0);
    next += static_cast<uint64_t>(h.TextLength);
    FZ_CHECK(next <= textAfter.size());
    FZ_CHECK(!(h.Attribute & 0x01));
    FZ_CHECK(h.WhoTo[0] <= kMaxWhoLength && h.WhoFrom[0] <= kMaxWhoLength && h.Subject[0] <= kMaxSubjectLength);
    FZ_CHECK(h.ReplyTo <= count && h.NextReply <= count);
    // The earliest old header that can be this one: equal apart from links
    // and text place, its text at least as long.
    std::string body = Body(headerAfter, k);
    auto fits = [&](size_t i) {
      int32_t was = HeaderAt(headerBefore, i).TextLength;
      return Body(headerBefore, i) == body && h.TextLength <= (was > 0 ? was : 0);
    };
    while (match < old && !fits(match)) ++match;
    FZ_CHECK(match < old);
    ++match;
  }
  FZ_CHECK(next == textAfter.size());
}

bool SubjectInsideAttach(const MessageHeader &h) {
  size_t n = h.Subject[0] < kMaxSubjectLength ? h.Subject[0] : kMaxSubjectLength;
  std::string text(reinterpret_cast<const char *>(h.Subject + 1), n);
  text = text.c_str();
  for (char &c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  // Any blank ends a word here: at least as fine as the erasing's own split.
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && static_cast<signed char>(text[pos]) <= 32) ++pos;
    size_t end = pos;
    while (end < text.size() && static_cast<signed char>(text[end]) > 32) ++end;
    if (end > pos) {
      std::string word = text.substr(pos, end - pos);
      if (word.rfind("C:\\BBS\\ATTACH\\", 0) != 0 || word.find("..") != std::string::npos ||
          word.find('/') != std::string::npos)
        return false;
    }
    pos = end;
  }
  return true;
}

std::string KeepAttachmentsInside(const std::string &headerFile) {
  std::string out = headerFile;
  for (size_t i = 0; i + sizeof(MessageHeader) <= out.size(); i += sizeof(MessageHeader)) {
    MessageHeader h;
    std::memcpy(&h, out.data() + i, sizeof h);
    if ((h.Attribute2 & 0x04) && !SubjectInsideAttach(h)) out[i + offsetof(MessageHeader, Attribute2)] &= ~0x04;
  }
  return out;
}

}  // namespace fz
