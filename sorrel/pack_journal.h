// Replacement of an area's header and text files that loses no message: not
// when the run is cut short, not across a power cut, and not when the board
// keeps posting into the area while it is packed.
//
// The files of one area (GetAreaFiles):
//   MHnnnnn.BBS, MTnnnnn.BBS   the live files the board reads and appends to
//   MHnnnnn.NEW, MTnnnnn.NEW   the packed files while they are built; after an
//                              exchange of names, the former files
//   MHnnnnn.OLD, MTnnnnn.OLD   the former files, where no exchange was possible
//   MHnnnnn.PKJ                the journal
//   MHnnnnn.PKC                the journal once the switch was final, as
//                              earlier versions named it (settled, never made)
//
// The journal names the four files by their identity (device and inode, or
// volume serial number and file index) and a checksum of their first bytes,
// so recovery acts only on files it can prove are the ones it wrote or read,
// whatever names they carry at the time.
//
// Packing one area (the live run):
//   1. The journal is created (or an earlier area's finished journal moved
//      to its name), then the new files; the journal records their
//      identities and is synced.
//   2. The new files are written and synced; the journal gets the rest (what
//      the scan saw, the next-read changes as old and new value, the subjects
//      whose attachments go) and is synced; the directory is synced.
//   3. The live files are compared with what the scan read (lengths and a
//      checksum of every header): an area the board changed is left alone.
//   4. The header files are switched (one exchange of names, or two renames
//      that never replace a file), the former header file is compared again
//      (a change undoes the switch), the directory is synced; then the text
//      files are switched and the directory synced again.
//   5. Commit: once the text switch is on disk the switch is final; a
//      complete journal whose text files are switched is finished, never
//      undone, by this run or the next.
//   6. Posts whose text went to the former text file while their header went
//      to the new header file get their text copied over and their TextStart
//      rewritten; the next-read numbers are written where the user still has
//      the old value, synced, and the journal records that step as done; the
//      attachments go; the former files are checked again and deleted, the
//      directory synced, the journal deleted.  Within a run the former files
//      are emptied instead (the journal records that first) and deleted with
//      the journal at the end of the run (DeleteEmptiedFiles), unless a
//      later area of the run takes them as its new files and its journal.
// RecoverArea settles what an earlier run left, with the same steps.
//
// A run packs areas in groups (compress_area.cpp): every area of a group
// goes through the steps above, but each sync is made once for the whole
// group, after the step's changes of all its areas (one sync of the file
// system where the host has it).  What must reach the disk before a later
// change still does, for every area, so a power cut leaves each area in one
// of the states above; the group only shares the cost of the syncs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "area_files.h"
#include "msgbase.h"
#include "platform.h"

// The four files a journal names.
enum JournalFileKind { kOldHeaderFile = 0, kOldTextFile = 1, kNewHeaderFile = 2, kNewTextFile = 3 };

// How many first bytes of a file the journal keeps a checksum of.
inline constexpr uint32_t kJournalPrefix = 4096;

#pragma pack(push, 1)
// One file as the journal knows it.
struct JournalFile {
  uint64_t Volume;        // FileIdentity::volume
  uint64_t Index;         // FileIdentity::file
  uint64_t Length;        // bytes when scanned (former files) or as written (new files)
  uint32_t PrefixLength;  // its first bytes, at most kJournalPrefix ...
  uint32_t PrefixSum;     // ... and their CRC register (from 0xFFFFFFFF)
};
// Right after the 16-byte signature, rewritten in place as the work goes on.
struct JournalProgress {
  uint8_t NextReadsDone;   // 1 once the next-read numbers are written and synced
  uint8_t FormerEmptied;   // 1 once the former files may be found empty (step 6, in a run)
  uint8_t Reserved[2];
  uint32_t FixedLate;      // late posts whose texts were taken over from the former text file
  uint64_t LatePosition;   // where in the former text file the next such text begins
};
// Follows the progress once the new files exist (their lengths still 0).
struct JournalFiles {
  uint16_t Area;
  uint16_t Flags;
  JournalFile File[4];
  uint32_t Sum;  // CRC register over the fields before it
};
// The complete journal: this head, NextReads NextReadChange entries,
// Attaches Subject fields of 73 bytes, and the CRC register over all of it.
struct PackJournalHead {
  uint16_t Area;
  uint16_t Flags;          // kJournalNoNewFiles
  uint32_t OldCount;       // headers scanned
  uint32_t KeptCount;
  uint32_t NextReads;
  uint32_t Attaches;
  uint64_t LateTextStart;  // where the former text file holds texts no scanned header names
  uint64_t OldHeaderSum;   // HeaderChecksum of the scanned headers
  JournalFile File[4];
};
struct NextReadChange {
  uint16_t User;
  uint16_t Old;  // the value the change applies to
  uint16_t New;
};
#pragma pack(pop)
static_assert(sizeof(JournalFile) == 32);
static_assert(offsetof(JournalFile, Length) == 16);
static_assert(offsetof(JournalFile, PrefixSum) == 28);
static_assert(sizeof(JournalProgress) == 16);
static_assert(offsetof(JournalProgress, FormerEmptied) == 1);
static_assert(offsetof(JournalProgress, FixedLate) == 4);
static_assert(offsetof(JournalProgress, LatePosition) == 8);
static_assert(sizeof(JournalFiles) == 136);
static_assert(offsetof(JournalFiles, File) == 4);
static_assert(offsetof(JournalFiles, Sum) == 132);
static_assert(sizeof(PackJournalHead) == 164);
static_assert(offsetof(PackJournalHead, OldCount) == 4);
static_assert(offsetof(PackJournalHead, LateTextStart) == 20);
static_assert(offsetof(PackJournalHead, OldHeaderSum) == 28);
static_assert(offsetof(PackJournalHead, File) == 36);
static_assert(sizeof(NextReadChange) == 6);

// The area keeps no message: the live files are only moved aside.
inline constexpr uint16_t kJournalNoNewFiles = 0x0001;
// OldHeaderSum is taken over four chains (HeaderChecksum); a journal without
// this flag, written by an earlier version, holds the single chain's sum.
inline constexpr uint16_t kJournalLaneSums = 0x0002;

inline constexpr char kJournalSignature[16] = {'V', 'L', 'M', ' ', 'S', 'O', 'R', 'R',
                                               'E', 'L', ' ', 'P', 'A', 'C', 'K', '\x1B'};

struct PackJournal {
  uint16_t area = 0;
  uint16_t flags = 0;
  uint32_t oldCount = 0;
  uint32_t keptCount = 0;
  uint64_t lateTextStart = 0;
  uint64_t oldHeaderSum = 0;
  JournalFile file[4] = {};
  std::vector<NextReadChange> nextReads;
  std::vector<std::array<uint8_t, 73>> attaches;  // Subject fields of deleted messages
  JournalProgress progress = {};
};

// The single chain: headers one at a time from `sum` (start with
// kHeaderSumStart), eight bytes a step.
inline constexpr uint64_t kHeaderSumStart = 0x243F6A8885A308D3ull;
uint64_t HeaderSum(const MessageHeader &header, uint64_t sum);

// The checksum of headers a journal records, taken in the order of the file
// whatever the pieces they are read in: four chains, each header's eight-byte
// words dealt to them in turn (its last, two bytes, zero-filled) and the
// chains joined at the end, so that a step need not wait for the one
// before.  Journals without kJournalLaneSums hold the single chain's sum.
class HeaderChecksum {
 public:
  explicit HeaderChecksum(uint16_t journalFlags);
  void Add(const MessageHeader *headers, size_t count);
  uint64_t Value() const;

 private:
  bool lanes_;
  uint64_t chain_[4];
};

// A file's identity and the checksum of its first bytes (as many as
// `length`, up to kJournalPrefix), read through an open stream (whose
// position is left as it was).  `length` is stored as given.
int DescribeFile(FILE *f, uint64_t length, JournalFile &file);

// Step 1 without its sync: creates the pending journal and, unless the area
// keeps no message (kJournalNoNewFiles), the two new files, and records the
// new files' identities (into content.file as well).  Everything is closed
// again.  Prints the failure, removes what it made and returns 0 when it
// could not.  The caller syncs the journals and the new files of its areas
// together (with their directories) before it writes into the new files.
int StartJournal(const AreaFiles &files, PackJournal &content);
// The directories whose names StartJournal changed besides the areas' own
// (files of earlier areas moved to be new files), to be synced with them.
std::vector<std::string> TakeSpareDirectories();
// Removes what steps 1 and 2 made when the area is not switched: the new
// files (only when they are ours) and the journal.
int DropJournal(const AreaFiles &files, const PackJournal &content);

enum class PackOutcome {
  Packed,     // switched and finished (a failure of step 6 is left to the next run)
  Changed,    // the board changed the area: left as the board wrote it
  Failed,     // a step failed and everything was undone
  Unsettled,  // a step failed and could not be undone: the journal is left
};
// One area whose journal is complete, and what became of it.
struct SwitchingArea {
  const AreaFiles *files;
  PackJournal *content;
  PackOutcome outcome = PackOutcome::Packed;
};
// Step 2's end without its sync, for several areas: appends each area's
// content to its journal.  Returns 1 or 0 (the failure printed) per area.
std::vector<int> CompleteJournals(const std::vector<SwitchingArea> &areas);
// The sync that ends step 2, then steps 3 to 6, for several areas at once:
// each area goes through every step as it would alone, and each sync is
// made once for all of them (the syncs of one step must reach the disk
// before the next step begins, whichever area they belong to).
void SwitchAreas(std::vector<SwitchingArea> &areas);
// Within a run, step 6 does not delete the former files of a packed area:
// every file deleted makes each later file creation in its directory slower
// on some file systems, for as long as the deletion is recent.  It empties
// them instead (which gives their space back at once), the journal saying so
// first, and leaves the deletions of the former files and of the journals to
// this call at the end of the run (or earlier, once `atLeast` areas wait
// for it, so that what is held for them stays bounded).  Returns 0 when a
// deletion failed (the next run finishes the area from its journal).
int DeleteEmptiedFiles(size_t atLeast = 0);

// Finishes or undoes a packing of the area that an earlier run left half
// done.  Returns 1 when the area's files are in a settled state and may be
// packed, 0 when they must be left alone this run (the reason printed).
int RecoverArea(uint16_t area);

// Prints "<system error text> <action> <file>", the style of every file
// failure packing reports ("... writing MH00001.NEW").
void PrintFileFailure(const char *action, const std::string &path);
