// The packing journal's reader and recovery: an area's directory holding
// whatever an interrupted or damaged packing may leave (journals, new and
// old files under any name), settled by the recovery entry point.  Checked
// on what it leaves: recovery reaches its end in one call (a second call
// changes nothing), and an area it declares settled packs into consistent
// files that a further run leaves as they are, unless that pack failed.
//
// Input sections: 0 control, 1 USERS.BBS, 2 LASTCOMB.BBS, then files of the
// message directory, each "<name>\n<contents>".
// Control: byte 0 MaxMsgAreas; byte 1 the area record's flags; byte 2 its
// type; byte 3 its age limit in days; bytes 4-5 its count limit.
#include <cstring>
#include <map>
#include <string>

#include "board_checks.h"
#include "msgbase.h"
#include "pack_journal.h"
#include "platform.h"
#include "program_frame.h"
#include "sorrel.h"
#include "startup.h"
#include "support.h"

namespace {

bool SafeName(const std::string &name) {
  if (name.empty() || name.size() > 24 || name[0] == '.') return false;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
          c == '~' || c == '@' || c == '-'))
      return false;
  return true;
}

std::string Path(const std::string &name) { return "BBS/MSG/AREA1/" + name; }

// Pack of one area as the maintenance run does it, with the board's streams open.
void Compress(uint16_t area, const MessageRecord &record, uint16_t &count) {
  hLastComb = plat::OpenFile("C:\\BBS\\USERS\\LASTCOMB.BBS", plat::Access::ReadWrite, plat::Share::DenyNone,
                             plat::Mode::Binary);
  CompressArea(area, record, 0, 0, count);
  if (hLastComb) plat::CloseFile(hLastComb);
  hLastComb = nullptr;
}

// Whether the area directory's board name `name` finds a file.
bool Answers(const std::string &name) {
  plat::FileIdentity id;
  return plat::IdentifyFile("C:\\BBS\\MSG\\AREA1\\" + name, id) == 1;
}

int Recover(uint16_t area) {
  hLastComb = plat::OpenFile("C:\\BBS\\USERS\\LASTCOMB.BBS", plat::Access::ReadWrite, plat::Share::DenyNone,
                             plat::Mode::Binary);
  int settled = RecoverArea(area);
  if (hLastComb) plat::CloseFile(hLastComb);
  hLastComb = nullptr;
  return settled;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> s = fz::Sections(data, size, 16);
  uint16_t maxAreas = fz::Byte(s[0], 0, 16);
  fz::ResetScratch();
  fz::SetBoard(maxAreas, 8, 0);
  fz::MakeBoardDirs();
  fz::WriteFile("BBS/USERS/USERS.BBS", s[1]);
  fz::WriteFile("BBS/USERS/LASTCOMB.BBS", s[2]);
  for (size_t i = 3; i < s.size(); ++i) {
    size_t newline = s[i].find('\n');
    if (newline == std::string::npos) continue;
    std::string name = s[i].substr(0, newline);
    if (SafeName(name)) fz::WriteFile(Path(name), s[i].substr(newline + 1));
  }
  NumUsers = static_cast<uint16_t>(std::min<size_t>(s[1].size() / sizeof(UserRecord), 65535));

  MessageRecord record;
  std::memset(&record, 0, sizeof record);
  record.AreaName[0] = 4;
  std::memcpy(record.AreaName + 1, "Area", 4);
  // No attachments are erased by the packing itself: the headers are the
  // fuzzer's, and their subjects may name any file of the board.
  record.AreaFlags = fz::Byte(s[0], 1, 0x10) & ~0x20;
  record.AreaType = fz::Byte(s[0], 2, 2) % 9;
  record.KeepDays = fz::Byte(s[0], 3, 0);
  record.MaxMsgs = fz::U16(s[0], 4);

  for (uint16_t area = 1; area <= 2; ++area) {
    int settled = Recover(area);
    std::map<std::string, std::string> once = fz::Snapshot();
    if (!settled) continue;
    FZ_CHECK(Recover(area) == 1);
    FZ_CHECK(fz::Snapshot() == once);

    char live[16];
    std::snprintf(live, sizeof live, "MH%05u.BBS", unsigned(area));
    bool exactBefore = fz::Exists(Path(live));
    std::string header = fz::ReadFile(Path(live)), text;
    live[1] = 'T';
    std::string textName = live;
    exactBefore = fz::ReadFile(Path(textName), text) && exactBefore;
    live[1] = 'H';
    DoDelete = 1;
    uint16_t count = 0;
    ResetRunFailed();
    Compress(area, record, count);
    std::string headerAfter = fz::ReadFile(Path(live)), textAfter = fz::ReadFile(Path(textName));
    // Compared by their exact names, which the area's files had before
    // (a file found under a name differing in case may carry the exact
    // name afterwards, when a switch was undone, with the same bytes).
    if (exactBefore && fz::Exists(Path(live)) && fz::Exists(Path(textName)) &&
        fz::Packed(header, text, headerAfter, textAfter))
      fz::CheckPackedArea(header, headerAfter, textAfter);
    // A pack that failed (a stray file under a name packing uses, say) left
    // the area for a later run, which may then pack it.
    if (RunHasFailed()) continue;
    // Files whose names differ from the area's only in case stood behind
    // them: once the pack deleted an emptied area's files, the area's names
    // find those, a message base the next run packs as the area's.
    if (!fz::Exists(Path(live)) && !fz::Exists(Path(textName)) && Answers(live) && Answers(textName)) continue;
    // What the pack left is final: without the limits nothing changes.
    std::map<std::string, std::string> packed = fz::Snapshot("BBS/MSG");
    DoDelete = 0;
    uint16_t again = 0;
    Compress(area, record, again);
    FZ_CHECK(fz::Snapshot("BBS/MSG") == packed);
    FZ_CHECK(again == count);
  }
  return 0;
}
