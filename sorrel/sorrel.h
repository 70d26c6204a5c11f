// sorrel: message base maintenance.  Packs and renumbers every message area,
// rebuilds the fast mail-check file and the message counts, erases files
// attached to deleted messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "msgbase.h"

// ---------------------------------------------------------------- run globals

extern int DoDelete;                   // 0 with -DISABLEDEL: no deletion by the four limits
extern FILE *hMsgFast;                 // MSGFAST.BBS while the areas are packed
extern FILE *hLastComb;                // LASTCOMB.BBS, read and written
extern uint16_t NumUsers;              // USERS.BBS size / 128
extern std::vector<uint16_t> MsgCount; // messages per area after the run

// ---------------------------------------------------------------- fast mail check

// The records of MSGFAST.BBS are MsgFastRecord (msgbase.h).

// The user key table: sorted ascending as signed numbers once built; empty
// (NumUserCRC 0) means every name is accepted.
extern std::vector<int32_t> UserCRC;
extern int NumUserCRC;

// Name key of a length-prefixed name in a field of `fieldSize` bytes: CRC
// register from 0xFFFFFFFF over the upper-cased characters, no inversion.  A
// count byte of 0 or of 128 and more gives 0xFFFFFFFF; a count larger than the
// field is cut to the field.
uint32_t GetPasStringCRC(const uint8_t *field, size_t fieldSize);
template <size_t N>
uint32_t GetPasStringCRC(const uint8_t (&field)[N]) {
  return GetPasStringCRC(field, N);
}
int CompUserCRC(const int32_t *a, const int32_t *b);
void GetUserCRC();
int FindUser(const int32_t &key);
// Drops the table (tests and repeated runs).
void ClearUserCRC();

// Whether a kept message gets a fast mail record.  `skipping` is set when
// packing removes nothing from the area.
int WantsFastMail(const MessageHeader &header, const MessageRecord &record, int skipping);

// ---------------------------------------------------------------- attachments

// Erases the files named by the blank-separated words of `subject` (which is
// consumed) and, for words inside the attach directory, their directory once
// it is empty; the directories are synced so that the deletions survive a
// power cut.  Returns 0 when a file could not be deleted (the failure is
// printed), 1 when every named file is gone.
int EraseFileAttaches(std::string &subject);
// Removes the empty ~@xxxxxx directories of the attach directory.
void CleanUpFileAttachPath();

// ---------------------------------------------------------------- packing

// Packs one area (`record` is its record of MESSAGES.VLM, `link` whether
// reply chains are linked, `cleanup` whether a lone header or text file is
// deleted) and sets `count` to the messages it holds afterwards.
void CompressArea(uint16_t area, const MessageRecord &record, int link, int cleanup, uint16_t &count);
// The same for the areas of a run, packed in groups so that the syncs of a
// group are shared: an area is scanned when it is queued, and finished
// (count set, fast mail records written) when its group is packed, at the
// latest by PackQueuedAreas.  Areas are queued in order of number.
void QueueArea(uint16_t area, const MessageRecord &record, int link, int cleanup, uint16_t &count);
void PackQueuedAreas();

// ---------------------------------------------------------------- the run

void Help();
void CompressMessageBase();
// The program as the frame runs it: banner, log lines, switches, work.
const struct ProgramInfo &SorrelProgram();

