// The maintenance run: every area of MESSAGES.VLM packed in turn, the fast
// mail-check file and the message counts rebuilt, unconfigured boards
// removed, the attach directory tidied.
#include <cerrno>
#include <cstring>

#include "area_link.h"
#include "files.h"
#include "program_frame.h"
#include "pack_journal.h"
#include "platform.h"
#include "sorrel.h"
#include "startup.h"
#include "switches.h"
#include "system_log.h"
#include "text.h"

int DoDelete = 1;
FILE *hMsgFast = nullptr;
FILE *hLastComb = nullptr;
uint16_t NumUsers = 0;
std::vector<uint16_t> MsgCount;

void Help() {
  std::printf("\n");
  std::printf("                   SORREL always Compresses/Renumbers the Message Base\n");
  std::printf(" -CLEANUP          Cleans up unused message boards\n");
  std::printf(" -LINK             Links reply chains in messages with new Echomail/Netmail\n");
  std::printf(" -LINKALL          Links EVERY echomail/netmail message area\n");
  std::printf(" -FASTMAIL         Makes Velmora Mail Check Faster\n");
  std::printf(" -DISABLEDEL       Disables deleting of messages by Days/Recv/Number/Kilobytes\n");
  std::printf(" -NODE<1..999>     Node Number\n\n");
  std::printf("eg. SORREL -LINK -N2\n");
}

namespace {

// The files of a slot that is no longer configured.
void RemoveOldBoard(uint16_t area) {
  // A packing an earlier run left half done is settled first, so no file of
  // ours is left behind.
  if (!RecoverArea(area)) return;
  std::string header, text;
  GetMsgAreaPath(area, header, kHeaderFile);
  GetMsgAreaPath(area, text, kTextFile);
  int deleted = plat::DeleteFileIfPresent(header);
  if (deleted == 0) PrintFileFailure("deleting", header);
  if (deleted == 1) {
    std::printf("Deleting Old Msg Board %u\n", unsigned(area));
    bool ok = true;
    for (uint32_t u = 0; u < NumUsers; ++u)
      if (!PutNextRead(hLastComb, uint16_t(u), area, 1) && HasNextReadPlace(area)) ok = false;
    if (!ok) PrintFileFailure("writing", LastCombName());
  }
  if (!plat::DeleteFileIfPresent(text)) PrintFileFailure("deleting", text);
}

void WriteMsgCount() {
  std::string name = MsgPath + "MSGCOUNT.BBS";
  plat::UniqueFile file(plat::OpenFile(name, plat::Access::ReadWrite, plat::Share::DenyWrite, plat::Mode::Binary));
  if (!file) {
    // The board creates this file; without it the counts are not kept.
    if (errno != ENOENT) PrintFileFailure("opening", name);
    return;
  }
  bool ok = (MsgCount.empty() || plat::WriteBytes(file.get(), MsgCount.data(), MsgCount.size() * 2)) &&
            plat::FlushFile(file.get());
  if (!plat::CloseFile(file.release())) ok = false;
  if (!ok) PrintFileFailure("writing", name);
}

// Syncs a written file before closing it, so that it is whole after a
// power cut.
void CloseWritten(FILE *&f, const std::string &name) {
  if (!f) return;
  bool ok = plat::FlushFile(f) != 0;
  if (!plat::CloseFile(f)) ok = false;
  if (!ok) PrintFileFailure("writing", name);
  f = nullptr;
}

void PackAllAreas(int cleanup) {
  std::string areasName = SystemPath + "MESSAGES.VLM";
  plat::UniqueFile areas(plat::OpenFile(areasName, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!areas) {
    PrintFileFailure("opening", areasName);
    return;
  }
  if (!plat::SetStreamBuffer(areas.get(), 65536)) std::printf("Failed to Setup %s Buffer\n", areasName.c_str());

  std::string fastName = MsgPath + "MSGFAST.BBS";
  hMsgFast = plat::OpenFile(fastName, plat::Access::Write, plat::Share::DenyWrite, plat::Mode::Binary);
  if (!hMsgFast) {
    PrintFileFailure("opening", fastName);
    return;
  }
  if (!plat::SetStreamBuffer(hMsgFast, 65536)) std::printf("Failed to Setup %s Buffer\n", MsgPath.c_str());

  std::string lastCombName = LastCombName();
  hLastComb = plat::OpenFile(lastCombName, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary);
  if (!hLastComb) {
    PrintFileFailure("opening", lastCombName);
    CloseWritten(hMsgFast, fastName);
    return;
  }
  // Without a stream buffer every next-read number is read as the board
  // left it, not as it was when an earlier area read the same bytes.
  std::setvbuf(hLastComb, nullptr, _IONBF, 0);

  // Next-read numbers are addressed by 16-bit user indexes.
  int32_t usersSize = FileSize(UserBasePath + "USERS.BBS");
  int32_t users = usersSize > 0 ? usersSize / int32_t(sizeof(UserRecord)) : 0;
  NumUsers = static_cast<uint16_t>(users > 65535 ? 65535 : users);
  MsgCount.assign(Constant.MaxMsgAreas, 0);

  MessageRecord record;
  for (uint32_t a = 1; a <= Constant.MaxMsgAreas && std::fread(&record, sizeof record, 1, areas.get()) == 1; ++a) {
    uint16_t area = static_cast<uint16_t>(a);
    if (MessageAreaInUse(record)) {
      int link = (record.AreaType == 0 || !AreaLink) ? 0 : static_cast<signed char>(AreaLink[a - 1]) != 0;
      QueueArea(area, record, link, cleanup, MsgCount[a - 1]);
    } else if (cleanup) {
      RemoveOldBoard(area);
    }
  }
  PackQueuedAreas();

  WriteMsgCount();
  MsgCount.clear();
  // Whether the board wrote it or not, it is gone after a run.
  if (!plat::DeleteFileIfPresent(MsgPath + "MSGDLTD.BBS")) PrintFileFailure("deleting", MsgPath + "MSGDLTD.BBS");
  CloseWritten(hLastComb, lastCombName);
  CloseWritten(hMsgFast, fastName);
}

}  // namespace

void CompressMessageBase() {
  // Absent names are many: each directory is read once for the whole run.
  plat::ListingScope listings;
  if (FindMinusSlashParam("LINK")) GetAreaLink();
  if (FindMinusSlashParam("FASTMAIL")) GetUserCRC();
  int cleanup = FindMinusSlashParam("CLEANUP");
  DoDelete = FindMinusSlashParam("DISABLEDEL") ? 0 : 1;
  PackAllAreas(cleanup);
  CleanUpFileAttachPath();
}

const ProgramInfo &SorrelProgram() {
  static const ProgramInfo info{
      .banner = "Sorrel %s V%s.  Velmora Message Base Maintenance.\n",
      .code = "MSG",
      .logStart = "Sorrel %s Started",
      .logEnd = "Sorrel Finished",
      .completion = "\nSorrel Completed\n",
      .switches = {"CLEANUP", "LINK", "FASTMAIL", "DISABLEDEL"},  // LINK also takes -LINKALL
      .help = Help,
      .work = CompressMessageBase,
  };
  return info;
}
