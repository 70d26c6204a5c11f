// MESSAGES.VLM with header and text files through the maintenance run: the
// scan, the four limits, the link pass and whole packs, on a board in the
// scratch directory.  Checked on what the run leaves: the counts match the
// files, packed areas are consistent (every header's text inside the new
// text file), next-read numbers and fast mail records point at messages that
// exist, nothing half done is left behind, and a second run finds nothing to do.
//
// Input sections: 0 control, 1 MESSAGES.VLM, 2 USERS.BBS, 3 LASTCOMB.BBS,
// 4 MSGREPLY.BBS, then header and text file of areas 1, 2 and 3
// (5 MH00001.BBS, 6 MT00001.BBS, ... 10 MT00003.BBS).
// Control: byte 0 switches (bit 0 -LINK, 1 -LINKALL, 2 -FASTMAIL, 3 -CLEANUP,
// 4 -DISABLEDEL); byte 1 MaxMsgAreas; byte 2 bit 0 the constant flag of type
// 1 attachments; byte 3 which area files exist (bit per section 5-10);
// byte 4 bit 0 USERS.BBS, 1 LASTCOMB.BBS, 2 MSGREPLY.BBS, 3 MSGCOUNT.BBS exist.
#include <cstring>
#include <map>
#include <string>

#include "area_link.h"
#include "board_checks.h"
#include "msgbase.h"
#include "sorrel.h"
#include "startup.h"
#include "support.h"
#include "switches.h"

namespace {

std::string AreaFile(char kind, int area) { return std::string("BBS/MSG/AREA1/M") + kind + "0000" + std::to_string(area) + ".BBS"; }

void Run(const std::vector<std::string> &switches) {
  std::vector<const char *> argv{"sorrel"};
  for (const std::string &s : switches) argv.push_back(s.c_str());
  SetArguments(static_cast<int>(argv.size()), argv.data());
  AreaLink.reset();
  ClearUserCRC();
  CompressMessageBase();
}

bool InUse(const MessageRecord &r) {
  if (static_cast<signed char>(r.AreaName[0]) < 1) return false;
  return r.AreaType <= 2 || (r.AreaType >= 5 && r.AreaType <= 8);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> s = fz::Sections(data, size, 11);
  uint8_t switches = fz::Byte(s[0], 0, 0);
  uint16_t maxAreas = fz::Byte(s[0], 1, 16);
  uint16_t constantFlags = fz::Byte(s[0], 2, 0) & 1 ? 0x0100 : 0;
  uint8_t areaFiles = fz::Byte(s[0], 3, 0xFF), boardFiles = fz::Byte(s[0], 4, 0xFF);
  fz::ResetScratch();
  fz::SetBoard(maxAreas, 8, constantFlags);
  fz::MakeBoardDirs();
  const std::string &records = s[1];
  fz::WriteFile("BBS/MESSAGES.VLM", records);
  if (boardFiles & 1) fz::WriteFile("BBS/USERS/USERS.BBS", s[2]);
  if (boardFiles & 2) fz::WriteFile("BBS/USERS/LASTCOMB.BBS", s[3]);
  if (boardFiles & 4) fz::WriteFile("BBS/MSG/MSGREPLY.BBS", s[4]);
  bool counts = boardFiles & 8;
  if (counts) fz::WriteFile("BBS/MSG/MSGCOUNT.BBS", "");
  for (const char *f : {"~@0000A1/PICNIC.GIF", "~@0000A2/RULES.TXT", "~@0000B1/SPAM.ZIP"})
    fz::WriteFile(std::string("BBS/ATTACH/") + f, "attached");
  fz::MakeDir("BBS/ATTACH/~@0000C1");

  std::map<int, std::string> header, text;
  for (int a = 1; a <= 3; ++a) {
    if (areaFiles & (1 << (2 * a - 2))) header[a] = fz::KeepAttachmentsInside(s[3 + 2 * a]);
    if (areaFiles & (1 << (2 * a - 1))) text[a] = s[4 + 2 * a];
    if (header.count(a)) fz::WriteFile(AreaFile('H', a), header[a]);
    if (text.count(a)) fz::WriteFile(AreaFile('T', a), text[a]);
  }

  std::vector<std::string> args;
  static const char *const kSwitches[] = {"-LINK", "-LINKALL", "-FASTMAIL", "-CLEANUP", "-DISABLEDEL"};
  for (int b = 0; b < 5; ++b)
    if (switches & (1 << b)) args.push_back(kSwitches[b]);
  Run(args);
  std::map<std::string, std::string> area1 = fz::Snapshot("BBS/MSG/AREA1");
  if (!(boardFiles & 2)) {
    // Without LASTCOMB.BBS the run packs nothing: next-read numbers could
    // not follow the new numbering.
    for (int a = 1; a <= 3; ++a) {
      std::string h, t;
      FZ_CHECK(fz::ReadFile(AreaFile('H', a), h) == (header.count(a) > 0) && h == header[a]);
      FZ_CHECK(fz::ReadFile(AreaFile('T', a), t) == (text.count(a) > 0) && t == text[a]);
    }
    return 0;
  }

  std::string lastComb = fz::ReadFile("BBS/USERS/LASTCOMB.BBS");
  size_t users = std::min<size_t>(boardFiles & 1 ? s[2].size() / sizeof(UserRecord) : 0, 65535);
  std::vector<uint32_t> expected(maxAreas + 1u, 0);
  for (uint16_t a = 1; a <= maxAreas && a * sizeof(MessageRecord) <= records.size(); ++a) {
    MessageRecord r;
    std::memcpy(&r, records.data() + (a - 1) * sizeof r, sizeof r);
    if (a > 3) continue;
    std::string h, t;
    bool hasHeader = fz::ReadFile(AreaFile('H', a), h), hasText = fz::ReadFile(AreaFile('T', a), t);
    bool both = hasHeader && hasText;
    bool had = header.count(a) && text.count(a);
    if (!InUse(r)) {
      if (switches & 8) {
        FZ_CHECK(!fz::Exists(AreaFile('H', a)) && !fz::Exists(AreaFile('T', a)));
      } else {
        FZ_CHECK(h == header[a] && t == text[a]);
      }
      continue;
    }
    if (both) expected[a] = static_cast<uint32_t>(h.size() / sizeof(MessageHeader));
    bool emptied = had && header[a].size() >= sizeof(MessageHeader) && !both;
    bool packed = both && fz::Packed(header[a], text[a], h, t);
    if (packed) fz::CheckPackedArea(header[a], h, t);
    if (!had && (switches & 8)) FZ_CHECK(!both);
    if (emptied) FZ_CHECK(!fz::Exists(AreaFile('H', a)) && !fz::Exists(AreaFile('T', a)));
    // Next-read numbers of a packed area name a kept message or the one after
    // the last; those of an emptied area are 1.
    if ((packed || emptied) && HasNextReadPlace(a) && (boardFiles & 2)) {
      const size_t blocks = maxAreas / 16;
      for (size_t u = 0; u < users; ++u) {
        size_t offset = (u * blocks + (a - 1) / 16) * 34 + ((a - 1) % 16) * 2 + 2;
        if (offset + 2 > lastComb.size()) break;
        uint16_t v = fz::U16(lastComb, offset);
        if (emptied)
          FZ_CHECK(v == 1);
        else
          FZ_CHECK(v <= expected[a] + 1);
      }
    }
  }
  if (counts) {
    std::string c = fz::ReadFile("BBS/MSG/MSGCOUNT.BBS");
    FZ_CHECK(c.size() == maxAreas * 2u);
    for (uint16_t a = 1; a <= maxAreas; ++a) FZ_CHECK(fz::U16(c, (a - 1) * 2u) == expected[a]);
  }
  std::string fast;
  if (fz::ReadFile("BBS/MSG/MSGFAST.BBS", fast)) {
    FZ_CHECK(fast.size() % sizeof(MsgFastRecord) == 0);
    for (size_t at = 0; at < fast.size(); at += sizeof(MsgFastRecord)) {
      uint16_t area = fz::U16(fast, at + 4), message = fz::U16(fast, at + 6);
      FZ_CHECK(area >= 1 && area <= maxAreas && message >= 1 && message <= expected[area]);
    }
  }
  // Nothing but the live files is left in the message directory.
  for (const auto &file : area1) {
    const std::string &name = file.first;
    FZ_CHECK(name.size() == 25 && name.compare(name.size() - 4, 4, ".BBS") == 0);
  }

  // A second run without the limits finds nothing to remove or link.
  Run({"-DISABLEDEL"});
  FZ_CHECK(fz::Snapshot("BBS/MSG/AREA1") == area1);
  return 0;
}
