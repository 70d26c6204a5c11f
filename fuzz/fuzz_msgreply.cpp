// MSGREPLY.BBS and the linker's run: the marks loaded and cleared, and the
// reply chains of every selected area linked exactly as the board's plain
// quadratic scan links them, with no other byte of a header file changed.
//
// Input sections: 0 control, 1 MSGREPLY.BBS, 2 MESSAGES.VLM, 3-5 the header
// files of areas 1-3 (MH00001.BBS ...).
// Control: byte 0 MaxMsgAreas; byte 1 bit 0 -LINKALL, bit 1 MSGREPLY.BBS
// exists, bit 2 MESSAGES.VLM exists.
#include <cstring>
#include <string>

#include "area_link.h"
#include "link.h"
#include "msgbase.h"
#include "startup.h"
#include "support.h"
#include "switches.h"
#include "tether.h"

namespace {

// The board's scan: every open chain end, in order, takes the first later
// message of its subject key that is not excluded and answers nothing yet.
int PlainLinkPass(std::vector<LinkEntry> &e) {
  int linked = 0;
  for (size_t i = 0; i + 1 < e.size(); ++i) {
    if (e[i].Excluded || e[i].NextReply != 0) continue;
    for (size_t j = i + 1; j < e.size() && e[i].NextReply == 0; ++j) {
      if (!e[j].Excluded && e[j].ReplyTo == 0 && e[j].SubjectKey == e[i].SubjectKey) {
        e[i].NextReply = static_cast<uint16_t>(j + 1);
        e[j].ReplyTo = static_cast<uint16_t>(i + 1);
        linked = 1;
      }
    }
  }
  return linked;
}

// The header file as the linker must leave it.
std::string Linked(const std::string &file) {
  size_t count = file.size() / sizeof(MessageHeader);
  if (count <= 1 || count > kMaxMessages) return file;
  std::vector<LinkEntry> table(count);
  for (size_t i = 0; i < count; ++i) {
    MessageHeader h;
    std::memcpy(&h, file.data() + i * sizeof h, sizeof h);
    table[i].ReplyTo = h.ReplyTo > count ? 0 : h.ReplyTo;
    table[i].NextReply = h.NextReply > count ? 0 : h.NextReply;
    table[i].Excluded = h.Attribute & 0x01;
    table[i].SubjectKey = SubjectKey(h.Subject);
  }
  if (!PlainLinkPass(table)) return file;
  std::string out = file;
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(&out[i * sizeof(MessageHeader)], &table[i].ReplyTo, 2);
    std::memcpy(&out[i * sizeof(MessageHeader) + 2], &table[i].NextReply, 2);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> s = fz::Sections(data, size, 6);
  uint16_t maxAreas = fz::Byte(s[0], 0, 16);
  uint8_t flags = fz::Byte(s[0], 1, 6);
  bool all = flags & 1, marksExist = flags & 2, areasExist = flags & 4;
  fz::ResetScratch();
  fz::SetBoard(maxAreas, 8, 0);
  fz::MakeBoardDirs();
  const std::string &marks = s[1], &records = s[2];
  if (marksExist) fz::WriteFile("BBS/MSG/MSGREPLY.BBS", marks);
  if (areasExist) fz::WriteFile("BBS/MESSAGES.VLM", records);
  for (int a = 1; a <= 3; ++a) fz::WriteFile("BBS/MSG/AREA1/MH0000" + std::to_string(a) + ".BBS", s[2 + a]);

  const char *argv[] = {"tether", all ? "-LINKALL" : "-X"};
  SetArguments(2, argv);
  AreaLink.reset();
  LinkMessageBase();

  if (!areasExist) {
    // Nothing can be linked: the marks stay for the next run.
    FZ_CHECK(!AreaLink);
    FZ_CHECK(fz::ReadFile("BBS/MSG/MSGREPLY.BBS") == (marksExist ? marks : std::string()));
  } else {
    FZ_CHECK(AreaLink != nullptr);
    for (size_t k = 0; k < maxAreas; ++k) {
      uint8_t mark = marksExist && k < marks.size() ? uint8_t(marks[k]) : 0;
      FZ_CHECK(AreaLink[k] == (all ? 1 : mark));
    }
    std::string after;
    FZ_CHECK(fz::ReadFile("BBS/MSG/MSGREPLY.BBS", after) == marksExist);
    if (marksExist) {
      // The first MaxMsgAreas bytes are cleared, the rest kept.
      FZ_CHECK(after.size() == std::max<size_t>(marks.size(), maxAreas));
      for (size_t k = 0; k < after.size(); ++k) FZ_CHECK(after[k] == (k < maxAreas ? '\0' : marks[k]));
    }
  }

  for (uint16_t a = 1; a <= 3; ++a) {
    const std::string &before = s[2 + a];
    std::string after = fz::ReadFile("BBS/MSG/AREA1/MH0000" + std::to_string(a) + ".BBS");
    bool selected = areasExist && a <= maxAreas;
    if (selected) {
      uint8_t mark = marksExist && a - 1u < marks.size() ? uint8_t(marks[a - 1]) : 0;
      selected = all || mark != 0;
    }
    if (selected) {
      selected = records.size() >= a * sizeof(MessageRecord);
      if (selected) {
        MessageRecord r;
        std::memcpy(&r, records.data() + (a - 1) * sizeof r, sizeof r);
        uint8_t t = r.AreaType;
        selected = r.AreaName[0] != 0 && (t <= 2 || (t >= 6 && t <= 8));
      }
    }
    FZ_CHECK(after == (selected ? Linked(before) : before));
  }
  return 0;
}
