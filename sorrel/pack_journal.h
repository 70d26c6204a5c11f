// Crash-safe replacement of an area's header and text files.
//
// Packing never changes the live files MHnnnnn.BBS and MTnnnnn.BBS until
// their replacements are complete on disk:
//   1. MHnnnnn.PKJ is created and begins with a signature: from here on the
//      files below are provably ours (an empty one counts as ours too).
//   2. The new files MHnnnnn.NEW and MTnnnnn.NEW are written and synced; the
//      journal gets what must happen after the switch (next-read numbers,
//      attachments of deleted messages) and is synced.
//   3. Switch: MHnnnnn.BBS -> .OLD, MTnnnnn.BBS -> .OLD, the .NEW files ->
//      .BBS.  No rename ever lands on an existing name.
//   4. Commit: MHnnnnn.PKJ -> MHnnnnn.PKC.
//   5. The journal is applied (next-read numbers, then attachments), the .OLD
//      files are deleted, then the journal.
// Before an area is worked on, RecoverArea settles what an interrupted run
// left: a .PKC is applied again (every step of it is idempotent), a .PKJ is
// undone (the renames reversed, the .NEW files deleted, then the journal).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "area_files.h"
#include "platform.h"

#pragma pack(push, 1)
// The journal's fixed part, after its 16-byte signature.  It is followed by
// NextReads NextReadChange entries, Attaches Subject fields of 73 bytes and
// the CRC register (from 0xFFFFFFFF) over everything after the signature.
struct PackJournalHead {
  uint16_t Area;
  uint16_t Reserved;
  uint32_t OldCount;
  uint32_t KeptCount;
  uint32_t NextReads;
  uint32_t Attaches;
};
struct NextReadChange {
  uint16_t User;
  uint16_t Value;
};
#pragma pack(pop)
static_assert(sizeof(PackJournalHead) == 20);
static_assert(offsetof(PackJournalHead, Area) == 0);
static_assert(offsetof(PackJournalHead, OldCount) == 4);
static_assert(offsetof(PackJournalHead, KeptCount) == 8);
static_assert(offsetof(PackJournalHead, NextReads) == 12);
static_assert(offsetof(PackJournalHead, Attaches) == 16);
static_assert(sizeof(NextReadChange) == 4);

inline constexpr char kJournalSignature[16] = {'V', 'L', 'M', ' ', 'S', 'O', 'R', 'R',
                                               'E', 'L', ' ', 'P', 'A', 'C', 'K', '\x1A'};

struct PackJournal {
  uint16_t area = 0;
  uint32_t oldCount = 0;
  uint32_t keptCount = 0;
  std::vector<NextReadChange> nextReads;
  std::vector<std::array<uint8_t, 73>> attaches;  // Subject fields of deleted messages
};

// Step 1: creates the pending journal and syncs its signature.  Prints the
// failure and returns 0 when it could not.
int BeginJournal(const AreaFiles &files, plat::UniqueFile &journal);
// Step 2's end: writes the journal's content, syncs and closes it.
int FinishJournal(const AreaFiles &files, plat::UniqueFile &journal, const PackJournal &content);
// Reads and checks a journal file; 1 when it is complete and for `area`.
int ReadJournal(const std::string &path, uint16_t area, PackJournal &content);

// Steps 3 and 4.  `withNew` is false when the area keeps no message: the
// live files are only moved aside.  On failure everything done is undone
// (as far as the disk lets it) and 0 is returned.
int SwitchAreaFiles(const AreaFiles &files, bool withNew);
// Step 5 for a committed journal.
int ApplyCommitted(const AreaFiles &files, const PackJournal &content);
// Reverses an uncommitted switch and removes the pending files and journal.
int UndoSwitch(const AreaFiles &files);

// Prints "<system error text> <action> <file>", the style of every file
// failure packing reports ("... writing MH00001.NEW").
void PrintFileFailure(const char *action, const std::string &path);

// Deletes a file, printing the failure; 1 when it is gone.
int DeleteAreaFile(const std::string &path);
