#include "pack_journal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "crc32.h"
#include "msgbase.h"
#include "next_reads.h"
#include "run_failure.h"
#include "sorrel.h"
#include "startup.h"
#include "system_log.h"
#include "text.h"

namespace {

constexpr int64_t kHeaderBytes = sizeof(MessageHeader);
constexpr int64_t kProgressAt = sizeof kJournalSignature;
constexpr int64_t kFilesAt = kProgressAt + sizeof(JournalProgress);
constexpr int64_t kBodyAt = kFilesAt + sizeof(JournalFiles);
// How long a run waits for the header of a post whose text is already in
// the former text file, and how often it looks.
constexpr int kLateWaits = 50;
constexpr unsigned kLateWaitMilliseconds = 20;

uint32_t Crc(const void *bytes, size_t size, uint32_t crc = 0xFFFFFFFFu) { return UpdateCRC32(bytes, size, crc); }

template <typename T>
void Append(std::vector<uint8_t> &out, const T &value) {
  const uint8_t *p = reinterpret_cast<const uint8_t *>(&value);
  out.insert(out.end(), p, p + sizeof value);
}

void Announce(const std::string &text) {
  std::printf("%s\n", text.c_str());
  WriteSystemLog(text);
}

// A step that another program may refuse for a moment (on Windows a file
// that the board holds open for one append cannot be renamed, nor opened
// denying others to write) is tried again for up to half a second.
template <typename Step>
int Retried(Step step) {
  for (int attempt = 0;; ++attempt) {
    if (step()) return 1;
    if (errno != EACCES || attempt == 25) return 0;
    plat::SleepMilliseconds(20);
  }
}

int Rename(const std::string &from, const std::string &to) {
  if (Retried([&] { return plat::RenameFileNoReplace(from, to); })) return 1;
  ReportFailure(StrPrintf("%s renaming %s to %s\n", std::strerror(errno), from.c_str(), to.c_str()));
  return 0;
}

int SyncDirectory(const AreaFiles &files) {
  if (plat::SyncDirectory(files.directory)) return 1;
  PrintFileFailure("syncing", files.directory);
  return 0;
}

plat::UniqueFile OpenRead(const std::string &path) {
  return plat::UniqueFile(plat::OpenFile(path, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
}

// Reads `size` bytes at `offset`; false when the file holds fewer.  The
// stream's position is left as it was.
bool ReadAt(FILE *f, int64_t offset, void *into, size_t size) {
  return size == 0 || plat::ReadBytesAt(f, offset, into, size) == 1;
}

// ---------------------------------------------------------------- identities

// The three names a file of one kind (headers or texts) can have.
struct KindNames {
  const std::string &live, &fresh, &old;
};
KindNames HeaderNames(const AreaFiles &f) { return {f.header, f.newHeader, f.oldHeader}; }
KindNames TextNames(const AreaFiles &f) { return {f.text, f.newText, f.oldText}; }

bool Known(const JournalFile &file) { return file.Volume != 0 || file.Index != 0; }

// With `length`, the file's length is told from the same look.
bool SameFile(const std::string &name, const JournalFile &file, int64_t *length = nullptr) {
  plat::FileIdentity id;
  return Known(file) && plat::IdentifyFile(name, id, length) == 1 && id.volume == file.Volume &&
         id.file == file.Index;
}

// The file of that name is the journal's: the same identity and the same
// first bytes.
bool IsOurs(const std::string &name, const JournalFile &file) {
  if (!SameFile(name, file)) return false;
  plat::UniqueFile f = OpenRead(name);
  if (!f) return false;
  std::vector<uint8_t> prefix(file.PrefixLength);
  return ReadAt(f.get(), 0, prefix.data(), prefix.size()) && Crc(prefix.data(), prefix.size()) == file.PrefixSum;
}

enum Place { kNowhere = -1, kLive = 0, kFresh = 1, kOld = 2 };

Place Where(const KindNames &n, const JournalFile &file, int64_t *length = nullptr) {
  if (SameFile(n.live, file, length)) return kLive;
  if (SameFile(n.fresh, file, length)) return kFresh;
  if (SameFile(n.old, file, length)) return kOld;
  return kNowhere;
}

// Where a file is that is known not to be under the live name.
Place WhereAside(const KindNames &n, const JournalFile &file) {
  if (SameFile(n.fresh, file)) return kFresh;
  if (SameFile(n.old, file)) return kOld;
  return kNowhere;
}

const std::string &NameAt(const KindNames &n, Place p) { return p == kLive ? n.live : p == kFresh ? n.fresh : n.old; }

bool HasNewFiles(const PackJournal &c) { return !(c.flags & kJournalNoNewFiles); }

// A rename without the host's no-replace step is a second name first: a run
// cut short in between leaves one file under two names.  The second one is
// dropped (the file stays under the live name).
void DropSecondNames(const AreaFiles &files) {
  for (const KindNames &n : {HeaderNames(files), TextNames(files)}) {
    plat::FileIdentity live, other;
    if (plat::IdentifyFile(n.live, live) != 1) continue;
    for (const std::string *name : {&n.fresh, &n.old})
      if (plat::IdentifyFile(*name, other) == 1 && other == live) plat::DeleteFile(*name);
  }
}

// Deletes the file of `name` when it is the journal's; a name that holds
// another file, or none, is left alone.
int DeleteIfOurs(const std::string &name, const JournalFile &file) {
  if (!IsOurs(name, file)) return 1;
  if (plat::DeleteFile(name)) return 1;
  PrintFileFailure("deleting", name);
  return 0;
}

// Deletes a former file of the journal's: its identity, and its first bytes
// or, once the journal says the former files were emptied, no bytes at all.
int DeleteFormer(const std::string &name, const JournalFile &file, bool emptied) {
  int64_t length = -1;
  if (!SameFile(name, file, &length)) return 1;
  if (emptied && length == 0) {
    if (plat::DeleteFile(name)) return 1;
    PrintFileFailure("deleting", name);
    return 0;
  }
  return DeleteIfOurs(name, file);
}

// An emptied file, ready to become another area's new file: moving it
// costs the file system far less than deleting one file and creating
// another, which on some file systems slows every later creation.
struct Spare {
  std::string name;
  plat::FileIdentity id;
};
std::vector<Spare> Spares;
// The directories spares were moved out of since the last call of
// TakeSpareDirectories: their names change as well.
std::vector<std::string> MovedFrom;
// The spares moved to be new files since the emptied files were last
// deleted: none of them is under its former area's names any more.
std::vector<plat::FileIdentity> Taken;
// Finished journals of this run, each ready to become a later area's
// journal: moving one and writing over it costs the file system far less
// than deleting it (its blocks freed one by one) and creating another.
// Whatever name a power cut leaves it under, its content tells which area
// it belongs to (ReadJournalFile).
std::vector<Spare> JournalSpares;
// The names journals were moved from to be other areas' journals: not
// deleted at the end (one file may serve several areas in turn).
std::vector<std::string> TakenJournals;

// A former file of the journal's opened to be emptied: its identity and its
// first bytes (one that is not is left alone, and null is returned).
plat::UniqueFile OpenIfOurs(const std::string &name, const JournalFile &file, plat::FileIdentity &id) {
  plat::UniqueFile f(plat::OpenFile(name, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  if (!f || !plat::IdentifyStream(f.get(), id) || id.volume != file.Volume || id.file != file.Index) return {};
  std::vector<uint8_t> prefix(file.PrefixLength);
  if (!ReadAt(f.get(), 0, prefix.data(), prefix.size()) || Crc(prefix.data(), prefix.size()) != file.PrefixSum) return {};
  return f;
}

// The former files emptied in this run and the journals that name them,
// deleted at its end (those not taken as new files meanwhile).
struct EmptiedArea {
  AreaFiles files;
  std::string journal;
  JournalFile oldHeader, oldText;
};
std::vector<EmptiedArea> Emptied;

// ---------------------------------------------------------------- the journal file

enum class Stage {
  Missing,   // no journal
  Foreign,   // not written by us
  Early,     // begun: new files may exist but are not recorded
  Files,     // the new files are recorded, their content is not complete
  Complete,  // everything recorded: the switch may have begun
  Elsewhere, // the journal of another area, under this area's name
};

Stage ReadJournalFile(const std::string &path, uint16_t area, PackJournal &c) {
  // Only this program makes journals: a name its listings do not hold is
  // not looked for.
  if (plat::KnownAbsent(path)) return Stage::Missing;
  plat::UniqueFile f = OpenRead(path);
  if (!f) return errno == ENOENT ? Stage::Missing : Stage::Foreign;
  int64_t length = plat::FileLength(f.get());
  // Far more than any area can need: 65535 users and 65535 subjects.
  constexpr int64_t kLongest = kBodyAt + sizeof(PackJournalHead) + 65535 * 6 + 65535 * 73 + 4;
  if (length < 0 || length > kLongest) return Stage::Foreign;
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (!ReadAt(f.get(), 0, bytes.data(), bytes.size())) return Stage::Foreign;
  size_t signature = std::min(bytes.size(), sizeof kJournalSignature);
  // What a run stopped before its signature reached the disk left is ours
  // too: an empty file, or the beginning of the signature.
  if (signature > 0 && std::memcmp(bytes.data(), kJournalSignature, signature) != 0) return Stage::Foreign;
  if (bytes.size() < size_t(kBodyAt)) return Stage::Early;
  std::memcpy(&c.progress, bytes.data() + kProgressAt, sizeof c.progress);
  JournalFiles recorded;
  std::memcpy(&recorded, bytes.data() + kFilesAt, sizeof recorded);
  if (Crc(&recorded, offsetof(JournalFiles, Sum)) != recorded.Sum) return Stage::Early;
  // A finished journal moved to be another area's, before or after that
  // area's first bytes reached it.
  if (recorded.Area != area) return Stage::Elsewhere;
  c.area = recorded.Area;
  c.flags = recorded.Flags;
  std::memcpy(c.file, recorded.File, sizeof c.file);

  const uint8_t *body = bytes.data() + kBodyAt;
  size_t bodySize = bytes.size() - size_t(kBodyAt);
  PackJournalHead head;
  if (bodySize < sizeof head + 4) return Stage::Files;
  bodySize -= 4;
  std::memcpy(&head, body, sizeof head);
  if (head.Area != area || head.NextReads > 65535 || head.Attaches > 65535 ||
      sizeof head + size_t(head.NextReads) * sizeof(NextReadChange) + size_t(head.Attaches) * 73 != bodySize)
    return Stage::Files;
  uint32_t stored;
  std::memcpy(&stored, body + bodySize, 4);
  if (Crc(body, bodySize) != stored) return Stage::Files;
  c.flags = head.Flags;
  c.oldCount = head.OldCount;
  c.keptCount = head.KeptCount;
  c.lateTextStart = head.LateTextStart;
  c.oldHeaderSum = head.OldHeaderSum;
  std::memcpy(c.file, head.File, sizeof c.file);
  c.nextReads.resize(head.NextReads);
  const uint8_t *p = body + sizeof head;
  if (head.NextReads) std::memcpy(c.nextReads.data(), p, size_t(head.NextReads) * sizeof(NextReadChange));
  p += size_t(head.NextReads) * sizeof(NextReadChange);
  c.attaches.resize(head.Attaches);
  for (auto &subject : c.attaches) {
    std::memcpy(subject.data(), p, 73);
    p += 73;
  }
  return Stage::Complete;
}

// Rewrites the progress of a journal in place and syncs it, unless the
// caller syncs it together with others.
int WriteProgress(const std::string &path, const JournalProgress &progress, bool sync = true) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  bool ok = f && plat::WriteBytesAt(f.get(), kProgressAt, &progress, sizeof progress) &&
            (!sync || plat::FlushFile(f.get()));
  if (f && !plat::CloseFile(f.release())) ok = false;
  if (!ok) PrintFileFailure("writing", path);
  return ok ? 1 : 0;
}

// ---------------------------------------------------------------- checks against the scan

// The header file of that name holds the scanned headers unchanged and
// nothing after them (`exact`), or at least the scanned headers unchanged.
bool HeadersAsScanned(const std::string &name, const PackJournal &c, bool exact) {
  plat::UniqueFile f = OpenRead(name);
  if (!f) return false;
  plat::FileIdentity id;
  const JournalFile &old = c.file[kOldHeaderFile];
  if (!plat::IdentifyStream(f.get(), id) || id.volume != old.Volume || id.file != old.Index) return false;
  int64_t length = plat::FileLength(f.get());
  if (exact ? length != int64_t(old.Length) : length < int64_t(old.Length)) return false;
  std::vector<MessageHeader> piece(std::min<size_t>(kHeaderChunk, c.oldCount));
  HeaderChecksum sum(c.flags);
  for (uint32_t done = 0; done < c.oldCount;) {
    size_t want = std::min<size_t>(kHeaderChunk, c.oldCount - done);
    if (std::fread(piece.data(), sizeof(MessageHeader), want, f.get()) != want) return false;
    sum.Add(piece.data(), want);
    done += static_cast<uint32_t>(want);
  }
  return sum.Value() == c.oldHeaderSum;
}

bool TextAsScanned(const std::string &name, const PackJournal &c) {
  int64_t length = -1;
  return SameFile(name, c.file[kOldTextFile], &length) && length == int64_t(c.file[kOldTextFile].Length);
}

// ---------------------------------------------------------------- switching and undoing

// Puts the new file of one kind under the live name in one exchange of
// names (the former file then has the new file's name) or, where the host
// has no exchange, by two renames that never replace a file (the former file
// goes to the .OLD name, and the live name is missing in between).
int SwitchKind(const KindNames &n) {
  if (Retried([&] { return plat::ExchangeFiles(n.fresh, n.live); })) return 1;
  if (errno != ENOSYS) {
    ReportFailure(StrPrintf("%s renaming %s to %s\n", std::strerror(errno), n.live.c_str(), n.fresh.c_str()));
    return 0;
  }
  return Rename(n.live, n.old) && Rename(n.fresh, n.live);
}

// Appends headers that the board wrote into the new header file while it
// was live to the former one, which is live again.  Their texts are in the
// live text file, which was not switched.  A header the former file already
// holds after its scanned ones was carried by an earlier attempt.
int CarryHeadersBack(const AreaFiles &files, const PackJournal &c) {
  KindNames n = HeaderNames(files);
  Place at = Where(n, c.file[kNewHeaderFile]);
  if (at == kNowhere || at == kLive) return 1;
  plat::UniqueFile from = OpenRead(NameAt(n, at));
  if (!from) return 1;
  int64_t start = int64_t(c.file[kNewHeaderFile].Length);
  int64_t length = plat::FileLength(from.get());
  if (length <= start + kHeaderBytes - 1) return 1;
  std::vector<MessageHeader> late(static_cast<size_t>((length - start) / kHeaderBytes));
  if (!ReadAt(from.get(), start, late.data(), late.size() * sizeof(MessageHeader))) return 1;
  from.reset();

  plat::UniqueFile live = OpenRead(files.header);
  std::vector<MessageHeader> carried;
  if (live) {
    int64_t liveLength = plat::FileLength(live.get());
    int64_t scanned = int64_t(c.oldCount) * kHeaderBytes;
    if (liveLength >= scanned + kHeaderBytes) {
      carried.resize(static_cast<size_t>((liveLength - scanned) / kHeaderBytes));
      if (!ReadAt(live.get(), scanned, carried.data(), carried.size() * sizeof(MessageHeader))) carried.clear();
    }
  }
  live.reset();
  plat::UniqueFile out;
  Retried([&] {
    out.reset(plat::OpenFile(files.header, plat::Access::Append, plat::Share::DenyWrite, plat::Mode::Binary));
    return out != nullptr;
  });
  if (!out) {
    PrintFileFailure("opening", files.header);
    return 0;
  }
  bool ok = true;
  for (const MessageHeader &h : late) {
    bool there = std::any_of(carried.begin(), carried.end(),
                             [&](const MessageHeader &o) { return std::memcmp(&o, &h, sizeof h) == 0; });
    int64_t at = 0;
    if (!there && !plat::AppendBytes(out.get(), &h, sizeof h, at)) ok = false;
  }
  if (ok) ok = plat::FlushFile(out.get()) != 0;
  if (!plat::CloseFile(out.release())) ok = false;
  if (!ok) PrintFileFailure("writing", files.header);
  return ok ? 1 : 0;
}

// Puts the former header file back under the live name and carries over
// what the board appended to the new one meanwhile.
int UndoHeaderSwitch(const AreaFiles &files, const PackJournal &c) {
  KindNames n = HeaderNames(files);
  Place old = Where(n, c.file[kOldHeaderFile]);
  if (old == kLive) return CarryHeadersBack(files, c);
  Place fresh = HasNewFiles(c) ? Where(n, c.file[kNewHeaderFile]) : kNowhere;
  plat::FileIdentity any;
  bool liveMissing = plat::IdentifyFile(n.live, any) == plat::kNoSuchFile;
  bool ok = false;
  if (old == kFresh && fresh == kLive)
    ok = Retried([&] { return plat::ExchangeFiles(n.fresh, n.live); });
  else if (old == kOld && fresh == kLive)
    ok = Rename(n.live, n.fresh) && Rename(n.old, n.live);
  else if (old == kOld && liveMissing)
    ok = Rename(n.old, n.live);
  if (!ok) return 0;
  return CarryHeadersBack(files, c);
}

// Puts the former text file back where a switch by renames stopped between
// its two renames.
int UndoTextSwitch(const AreaFiles &files, const PackJournal &c) {
  KindNames n = TextNames(files);
  Place old = Where(n, c.file[kOldTextFile]);
  if (old == kLive) return 1;
  plat::FileIdentity any;
  if (old == kOld && plat::IdentifyFile(n.live, any) == plat::kNoSuchFile) return Rename(n.old, n.live);
  return 0;
}

// Finishes a switch of the text files that stopped between its two renames.
int CompleteTextSwitch(const AreaFiles &files, const PackJournal &c) {
  KindNames n = TextNames(files);
  if (!HasNewFiles(c)) return Where(n, c.file[kOldTextFile]) != kLive ? 1 : 0;
  Place fresh = Where(n, c.file[kNewTextFile]);
  if (fresh == kLive) return 1;
  plat::FileIdentity any;
  if (fresh == kFresh && Where(n, c.file[kOldTextFile]) == kOld && plat::IdentifyFile(n.live, any) == plat::kNoSuchFile)
    return Rename(n.fresh, n.live);
  return 0;
}

// ---------------------------------------------------------------- after the commit

// Copies over the texts of posts that the board wrote while the switch went
// on: their text went to the former text file, their header to the new
// header file, with TextStart in the former file.  Such posts are the first
// ones after the packed headers, their texts one after another in the
// former file from where the scanned texts end.  Each text is appended to
// the live text file and its header's TextStart rewritten in place; the
// journal records how far this got.  `waiting` tells whether the former text
// file still holds bytes written after the scan that no header names yet;
// `oldAt` where the former text file was found.  `liveHeaderLength` is the
// live header file's length when the caller has just looked (-1 if not).
int TakeLateTexts(const AreaFiles &files, const std::string &journal, PackJournal &c, bool &waiting, Place &oldAt,
                  int64_t liveHeaderLength = -1) {
  waiting = false;
  KindNames t = TextNames(files);
  int64_t formerLength = -1;
  oldAt = Where(t, c.file[kOldTextFile], &formerLength);
  if (oldAt == kNowhere || oldAt == kLive) return 1;
  const int64_t start = int64_t(c.file[kNewHeaderFile].Length);  // the packed headers end here
  const int64_t scannedEnd = int64_t(c.file[kOldTextFile].Length);
  int64_t pos = c.progress.FixedLate ? int64_t(c.progress.LatePosition) : int64_t(c.lateTextStart);
  // The usual case, told from the files' status alone: no header after the
  // packed ones, and no byte in the former text file past what was taken.
  plat::FileIdentity any;
  int64_t liveLength = liveHeaderLength;
  if ((liveLength >= 0 || plat::IdentifyFile(files.header, any, &liveLength) == 1) && liveLength < start + kHeaderBytes &&
      formerLength <= std::max(pos, scannedEnd))
    return 1;
  plat::UniqueFile oldText = OpenRead(NameAt(t, oldAt));
  plat::UniqueFile liveHeader = OpenRead(files.header);
  if (!oldText || !liveHeader) return 1;
  int64_t oldLength = plat::FileLength(oldText.get());
  int64_t headerLength = plat::FileLength(liveHeader.get());
  std::vector<MessageHeader> late;
  if (headerLength >= start + kHeaderBytes) {
    late.resize(static_cast<size_t>((headerLength - start) / kHeaderBytes));
    if (!ReadAt(liveHeader.get(), start, late.data(), late.size() * sizeof(MessageHeader))) late.clear();
  }
  liveHeader.reset();

  size_t i = c.progress.FixedLate;
  plat::UniqueFile liveText, header;
  bool ok = true;
  size_t fixed = 0;
  std::vector<uint8_t> text, compare;
  for (; ok && i < late.size() && pos < oldLength; ++i) {
    MessageHeader &h = late[i];
    int64_t length = h.TextLength > 0 ? h.TextLength : 0;
    // The first text may also begin where the scanned file ended, past bytes
    // that no header ever named.
    bool chained = int64_t(h.TextStart) == pos ||
                   (i == 0 && int64_t(h.TextStart) == scannedEnd && scannedEnd > pos);
    if (chained && int64_t(h.TextStart) + length <= oldLength) {
      text.resize(static_cast<size_t>(length));
      if (!ReadAt(oldText.get(), h.TextStart, text.data(), text.size())) break;
      if (!liveText) {
        Retried([&] {
          liveText.reset(plat::OpenFile(files.text, plat::Access::Append, plat::Share::DenyWrite, plat::Mode::Binary));
          return liveText != nullptr;
        });
        header.reset(plat::OpenFile(files.header, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
        if (!liveText || !header) {
          PrintFileFailure("opening", !liveText ? files.text : files.header);
          ok = false;
          break;
        }
      }
      int64_t at = 0;
      if (length > 0 && !plat::AppendBytes(liveText.get(), text.data(), text.size(), at)) {
        PrintFileFailure("writing", files.text);
        ok = false;
        break;
      }
      if (at > int64_t(0xFFFFFFFFu)) {
        errno = EFBIG;
        PrintFileFailure("writing", files.text);
        ok = false;
        break;
      }
      pos = int64_t(h.TextStart) + length;
      uint32_t textStart = static_cast<uint32_t>(at);
      int64_t record = start + int64_t(i) * kHeaderBytes + int64_t(offsetof(MessageHeader, TextStart));
      if (length > 0 && (std::fseek(header.get(), long(record), SEEK_SET) != 0 ||
                         !plat::WriteBytes(header.get(), &textStart, sizeof textStart))) {
        PrintFileFailure("writing", files.header);
        ok = false;
        break;
      }
      ++fixed;
      continue;
    }
    // Taken over already by a run that stopped before it recorded so.
    text.resize(static_cast<size_t>(length));
    compare.resize(text.size());
    plat::UniqueFile live = OpenRead(files.text);
    if (length > 0 && live && ReadAt(oldText.get(), pos, text.data(), text.size()) &&
        ReadAt(live.get(), h.TextStart, compare.data(), compare.size()) && text == compare) {
      pos += length;
      ++fixed;
      continue;
    }
    break;
  }
  if (fixed > 0) {
    if (liveText && (!plat::FlushFile(liveText.get()) || !plat::CloseFile(liveText.release()))) {
      PrintFileFailure("writing", files.text);
      ok = false;
    }
    if (header && (!plat::FlushFile(header.get()) || !plat::CloseFile(header.release()))) {
      PrintFileFailure("writing", files.header);
      ok = false;
    }
    if (ok) {
      c.progress.FixedLate = static_cast<uint32_t>(i);
      c.progress.LatePosition = static_cast<uint64_t>(pos);
      ok = WriteProgress(journal, c.progress) != 0;
    }
  }
  waiting = ok && oldLength > std::max(pos, scannedEnd);
  return ok ? 1 : 0;
}

// Syncs files and directories together; prints the failure.
int SyncAll(const std::vector<std::string> &files, const std::vector<std::string> &directories) {
  std::string failed;
  if (plat::SyncTogether(files, directories, failed)) return 1;
  PrintFileFailure("syncing", failed);
  return 0;
}

void AddOnce(std::vector<std::string> &list, const std::string &item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// One committed journal on its way through step 6.
struct Finishing {
  const AreaFiles *files;
  PackJournal *c;
  const std::string *journal;  // the name the journal has: .PKJ, or .PKC from an earlier version
  bool going = true;   // no step has failed yet
  bool waiting = false;
  bool attachesGone = true;
  bool emptying = false;  // the former files are emptied now, deleted at the end of the run
  int oldHeader = -1, oldText = -1;  // Place of the former files once they are checked
  bool journalSpare = false;  // the journal may become a later area's once the emptied files are synced
  plat::FileIdentity journalId{};
};

// Writes the next-read changes of the journals where LASTCOMB.BBS still
// holds the value a change was made from, and syncs it.  Returns 0 when it
// could not (the failure printed).
int ApplyNextReads(std::vector<Finishing *> &areas) {
  // A few hundred users at a time, so that what is held stays small: their
  // records are one stretch of the file.
  constexpr uint32_t kUsersAtOnce = 256;
  auto byUser = [](const NextReadChange &a, const NextReadChange &b) { return a.User < b.User; };
  for (Finishing *f : areas)
    if (!std::is_sorted(f->c->nextReads.begin(), f->c->nextReads.end(), byUser))
      std::stable_sort(f->c->nextReads.begin(), f->c->nextReads.end(), byUser);
  uint32_t lastUser = 0;
  for (Finishing *f : areas)
    if (!f->c->nextReads.empty()) lastUser = std::max<uint32_t>(lastUser, f->c->nextReads.back().User);
  const size_t n = areas.size();
  std::vector<int64_t> within(n);  // where each area's number lies in user 0's record
  for (size_t i = 0; i < n; ++i) within[i] = NextReadOffset(0, areas[i]->c->area);
  const int64_t record = NextReadRecordBytes();
  // Each area's list as it stands, and how far it has been gone through:
  // the lists are sorted by user, so with the users taken in order one
  // cursor a list finds each user's changes in turn.
  std::vector<const NextReadChange *> next(n), end(n);
  for (size_t i = 0; i < n; ++i) {
    next[i] = areas[i]->c->nextReads.data();
    end[i] = next[i] + areas[i]->c->nextReads.size();
  }
  std::vector<NextReadWrite> writes;
  bool ok = hLastComb != nullptr;
  for (uint32_t first = 0; ok && first <= lastUser; first += kUsersAtOnce) {
    uint32_t count = std::min<uint32_t>(kUsersAtOnce, lastUser + 1 - first);
    writes.clear();
    // User by user, area by area: in the order of the file when the areas
    // come in order of number, as a run's do.
    for (uint32_t user = first; user < first + count; ++user)
      for (size_t i = 0; i < n; ++i) {
        const NextReadChange *&change = next[i];
        if (change == end[i] || change->User != user) continue;
        int64_t at = int64_t(user) * record + within[i];
        bool placed = within[i] >= 0 && at <= LONG_MAX - 2;  // as NextReadOffset refuses it
        for (; change != end[i] && change->User == user; ++change)
          if (placed) writes.push_back({at, change->Old, change->New});
      }
    if (!writes.empty()) ok = WriteNextReads(hLastComb, writes) != 0;
  }
  if (ok) ok = plat::FlushFile(hLastComb) != 0;
  if (ok) return 1;
  if (!hLastComb) errno = EBADF;
  PrintFileFailure("writing", LastCombName());
  return 0;
}

// Cuts each file to its length, many at once (on file systems that discard
// freed blocks straight away each cut waits on the device, and the waits
// overlap), and closes it.  Returns per file 0, or the errno of its failure.
std::vector<int> CutAndClose(std::vector<plat::UniqueFile> &files, const std::vector<int64_t> &lengths) {
  std::vector<FILE *> streams;
  for (const plat::UniqueFile &f : files) streams.push_back(f.get());
  std::vector<int> errors(files.size());
  plat::TruncateFiles(streams.data(), lengths.data(), streams.size(), errors.data());
  for (size_t i = 0; i < files.size(); ++i)
    if (!plat::CloseFile(files[i].release()) && errors[i] == 0) errors[i] = errno ? errno : EIO;
  files.clear();
  return errors;
}

// Bounds the files held open at once for CutAndClose.
constexpr size_t kCutsAtOnce = 128;

// Empties the former files of areas whose journals say they may be found
// empty, many at once; each emptied file joins the spares.  An area whose
// file could not be emptied stops going.
void EmptyFormerFiles(const std::vector<Finishing *> &areas) {
  struct Emptying {
    Finishing *area;
    std::string name;
    plat::FileIdentity id;
  };
  std::vector<Emptying> batch;
  std::vector<plat::UniqueFile> files;
  auto cut = [&] {
    std::vector<int> errors = CutAndClose(files, std::vector<int64_t>(batch.size(), 0));
    for (size_t i = 0; i < batch.size(); ++i) {
      if (errors[i] == 0) {
        Spares.push_back({batch[i].name, batch[i].id});
        continue;
      }
      errno = errors[i];
      PrintFileFailure("writing", batch[i].name);
      batch[i].area->going = false;
    }
    batch.clear();
  };
  for (Finishing *f : areas)
    for (int kind = 0; kind < 2; ++kind) {
      KindNames n = kind == 0 ? HeaderNames(*f->files) : TextNames(*f->files);
      Place at = Place(kind == 0 ? f->oldHeader : f->oldText);
      if (at <= kLive) continue;
      Emptying e{f, NameAt(n, at), {}};
      plat::UniqueFile file = OpenIfOurs(e.name, f->c->file[kind == 0 ? kOldHeaderFile : kOldTextFile], e.id);
      if (!file) continue;
      batch.push_back(std::move(e));
      files.push_back(std::move(file));
      if (files.size() == kCutsAtOnce) cut();
    }
  cut();
}

// Step 6 for committed journals, each area's part as for one area alone,
// the syncs shared.  Returns 1 when every area is settled; an area whose
// journal is left for the next run has the reason printed.
int FinishCommitted(std::vector<Finishing> &areas, bool lastChance) {
  // The texts of late posts; the former files checked once the board has
  // had a moment to finish a post it was writing into them.
  for (Finishing &f : areas) {
    const AreaFiles &files = *f.files;
    PackJournal &c = *f.c;
    bool withNew = HasNewFiles(c);
    int64_t headerLength = -1;
    if (withNew &&
        (!SameFile(files.header, c.file[kNewHeaderFile], &headerLength) || !SameFile(files.text, c.file[kNewTextFile]))) {
      ReportFailure(StrPrintf("%s does not hold the packed files: area %u left as it is\n", f.journal->c_str(),
                              unsigned(c.area)));
      f.going = false;
      continue;
    }
    Place oldText = kNowhere;
    if (withNew && !TakeLateTexts(files, *f.journal, c, f.waiting, oldText, headerLength)) f.going = false;
    if (withNew) f.oldText = oldText;
  }
  for (Finishing &f : areas) {
    if (!f.going) continue;
    const AreaFiles &files = *f.files;
    PackJournal &c = *f.c;
    // A post still being written into the former files is waited for a
    // moment; the former files go only once nothing more can be taken over.
    for (int wait = 0; HasNewFiles(c) && f.waiting && wait < kLateWaits && f.going; ++wait) {
      plat::SleepMilliseconds(kLateWaitMilliseconds);
      Place oldText = kNowhere;
      if (!TakeLateTexts(files, *f.journal, c, f.waiting, oldText)) f.going = false;
      f.oldText = oldText;
    }
    if (!f.going) continue;
    KindNames h = HeaderNames(files), t = TextNames(files);
    // With new files the live names hold them (seen above), and the former
    // text file was found by TakeLateTexts.
    bool withNew = HasNewFiles(c);
    Place oldHeader = withNew ? WhereAside(h, c.file[kOldHeaderFile]) : Where(h, c.file[kOldHeaderFile]);
    Place oldText = withNew ? Place(f.oldText) : Where(t, c.file[kOldTextFile]);
    f.oldHeader = oldHeader;
    f.oldText = oldText;
    if (f.waiting) {
      if (!lastChance) {
        // Normal on a live board: reported and logged, not a failure.
        Announce(StrPrintf("%s holds a post not yet complete: area %u left for the next run",
                           NameAt(t, oldText).c_str(), unsigned(c.area)));
        f.going = false;
        continue;
      }
      ReportFailure("Text without a header dropped from " + NameAt(t, oldText) + "\n");
    }
    if (oldHeader != kNowhere && oldHeader != kLive && !c.progress.FormerEmptied &&
        !HeadersAsScanned(NameAt(h, oldHeader), c, true)) {
      ReportFailure(StrPrintf("%s was written to after the switch: area %u left as it is\n",
                              NameAt(h, oldHeader).c_str(), unsigned(c.area)));
      f.going = false;
      continue;
    }
    // In a run the former files are emptied now and deleted at its end.
    f.emptying = !lastChance && !c.progress.FormerEmptied && (oldHeader > kLive || oldText > kLive);
  }

  // The next-read numbers, then one write of each journal's progress: the
  // numbers are done, the former files may be found empty.
  std::vector<Finishing *> numbers;
  for (Finishing &f : areas)
    if (f.going && !f.c->progress.NextReadsDone && !f.c->nextReads.empty()) numbers.push_back(&f);
  if (!numbers.empty() && !ApplyNextReads(numbers))
    for (Finishing *f : numbers) f->going = false;
  std::vector<std::string> journals;
  for (Finishing &f : areas) {
    bool numbered = std::find(numbers.begin(), numbers.end(), &f) != numbers.end();
    if (!f.going || (!numbered && !f.emptying)) continue;
    if (numbered) f.c->progress.NextReadsDone = 1;
    if (f.emptying) f.c->progress.FormerEmptied = 1;
    if (WriteProgress(*f.journal, f.c->progress, false))
      journals.push_back(*f.journal);
    else
      f.going = false;
  }
  if (!journals.empty() && !SyncAll(journals, {}))
    for (Finishing &f : areas) f.going = false;

  // Attachments go only once the next-read numbers are safe.  One that
  // cannot be deleted keeps the journal for the next run to try again.
  for (Finishing &f : areas) {
    if (!f.going) continue;
    for (const auto &field : f.c->attaches) {
      std::string subject;
      PasToC(field.data(), field.size(), subject);
      if (!EraseFileAttaches(subject)) f.attachesGone = false;
    }
  }

  // Nothing of this run renames the former files after they were found.
  std::vector<Finishing *> emptying;
  for (Finishing &f : areas)
    if (f.going && f.emptying) emptying.push_back(&f);
  EmptyFormerFiles(emptying);
  for (Finishing *f : emptying)
    if (f->going && f->attachesGone) {
      f->journalSpare = plat::IdentifyFile(*f->journal, f->journalId) == 1;
      Emptied.push_back({*f->files, *f->journal, f->c->file[kOldHeaderFile], f->c->file[kOldTextFile]});
    }
  std::vector<std::string> directories;
  for (Finishing &f : areas) {
    if (!f.going || f.emptying) continue;
    const AreaFiles &files = *f.files;
    const PackJournal &c = *f.c;
    KindNames h = HeaderNames(files), t = TextNames(files);
    Place oldHeader = Place(f.oldHeader), oldText = Place(f.oldText);
    bool emptied = c.progress.FormerEmptied != 0;
    if ((oldHeader > kLive && !DeleteFormer(NameAt(h, oldHeader), c.file[kOldHeaderFile], emptied)) ||
        (oldText > kLive && !DeleteFormer(NameAt(t, oldText), c.file[kOldTextFile], emptied))) {
      f.going = false;
      continue;
    }
    AddOnce(directories, files.directory);
  }
  // Emptied files are synced before any is moved to be a new file: a file
  // found under a new file's name after a power cut must be empty.
  std::vector<std::string> emptied;
  for (const Finishing &f : areas)
    if (f.going && f.emptying)
      for (int kind = 0; kind < 2; ++kind) {
        KindNames n = kind == 0 ? HeaderNames(*f.files) : TextNames(*f.files);
        Place at = Place(kind == 0 ? f.oldHeader : f.oldText);
        if (at > kLive) emptied.push_back(NameAt(n, at));
      }
  bool synced = (directories.empty() && emptied.empty()) || SyncAll(emptied, directories);
  if (!synced) Spares.clear();  // left where they are, deleted at the end of the run
  int settled = 1;
  for (Finishing &f : areas) {
    if (f.going && !f.attachesGone) {
      ReportFailure(*f.journal + " is kept for attachments still to be deleted\n");
      f.going = false;
    }
    if (f.going && f.emptying) {
      // Finished at the end of the run; its journal, now that the former
      // files are empty on disk, may become a later area's.
      if (synced && f.journalSpare) JournalSpares.push_back({*f.journal, f.journalId});
      continue;
    }
    if (f.going && !synced) f.going = false;
    if (f.going && !plat::DeleteFile(*f.journal)) {
      PrintFileFailure("deleting", *f.journal);
      f.going = false;
    }
    if (!f.going) settled = 0;
  }
  return settled;
}

// Step 6 for one committed journal, under the name `journal`.
int FinishCommitted(const AreaFiles &files, const std::string &journal, PackJournal &c, bool lastChance) {
  std::vector<Finishing> one{{&files, &c, &journal}};
  return FinishCommitted(one, lastChance);
}

// Undoes steps 1 and 2 of a journal stopped before the new files were
// recorded: such files hold no data yet, so only empty ones go.
int DropEarlyJournal(const AreaFiles &files, uint16_t area) {
  for (const std::string *name : {&files.newHeader, &files.newText}) {
    plat::UniqueFile f = OpenRead(*name);
    if (!f) continue;
    bool empty = plat::FileLength(f.get()) == 0;
    f.reset();
    if (!empty) {
      ReportFailure(StrPrintf("%s is not ours: area %u left as it is\n", name->c_str(), unsigned(area)));
      return 0;
    }
    if (!plat::DeleteFile(*name)) {
      PrintFileFailure("deleting", *name);
      return 0;
    }
  }
  if (plat::DeleteFile(files.journal)) return 1;
  PrintFileFailure("deleting", files.journal);
  return 0;
}

// Deletes the empty files that answer to one of the names only this
// program makes (.NEW, .OLD): they hold nothing.  Names differing only in
// case may answer one after another.  Returns 0 when a deletion failed.
int DeleteEmptyFiles(const std::string &path) {
  for (int round = 0; round < 64 && !plat::KnownAbsent(path); ++round) {
    plat::FileIdentity id;
    int64_t length = -1;
    if (plat::IdentifyFile(path, id, &length) != 1 || length != 0) return 1;
    if (!plat::DeleteFile(path)) return 0;
  }
  return 1;
}

// Deletes the empty files under the area's .NEW and .OLD names when no
// journal names them: former files emptied by a run, whose journal moved
// on to another area before a power cut, or spares moved to the names of
// an area whose journal had not yet reached the disk.
int DropEmptyLeftovers(const AreaFiles &files) {
  for (const std::string *name : {&files.newHeader, &files.newText, &files.oldHeader, &files.oldText})
    if (!DeleteEmptyFiles(*name)) {
      PrintFileFailure("deleting", *name);
      return 0;
    }
  return 1;
}

// Undoes whatever part of the switch is done, then steps 1 and 2.
PackOutcome Undo(const AreaFiles &files, const PackJournal &c) {
  if (UndoTextSwitch(files, c) && UndoHeaderSwitch(files, c) && DropJournal(files, c)) return PackOutcome::Failed;
  ReportFailure(StrPrintf("%s is left for the next run to settle\n", files.journal.c_str()));
  return PackOutcome::Unsettled;
}

}  // namespace

void PrintFileFailure(const char *action, const std::string &path) { ReportFileFailure(errno, action, path); }

namespace {
constexpr uint64_t kSumFactor = 0x9E3779B97F4A7C15ull;
// A header is 23 whole words and two bytes left, taken as a 24th word.
constexpr size_t kWholeWords = sizeof(MessageHeader) / 8;
static_assert(kWholeWords == 23 && sizeof(MessageHeader) % 8 == 2);

inline uint64_t SumStep(uint64_t sum, uint64_t word) {
  sum = (sum ^ word) * kSumFactor;
  return sum ^ (sum >> 29);
}

inline uint64_t WholeWord(const uint8_t *p, size_t i) {
  uint64_t word;
  std::memcpy(&word, p + 8 * i, 8);
  return word;
}

inline uint64_t LastWord(const uint8_t *p) {
  uint64_t word = 0;
  std::memcpy(&word, p + 8 * kWholeWords, sizeof(MessageHeader) % 8);
  return word;
}
}  // namespace

uint64_t HeaderSum(const MessageHeader &header, uint64_t sum) {
  const uint8_t *p = reinterpret_cast<const uint8_t *>(&header);
  for (size_t i = 0; i < kWholeWords; ++i) sum = SumStep(sum, WholeWord(p, i));
  return SumStep(sum, LastWord(p));
}

HeaderChecksum::HeaderChecksum(uint16_t journalFlags) : lanes_((journalFlags & kJournalLaneSums) != 0) {
  for (size_t k = 0; k < 4; ++k) chain_[k] = kHeaderSumStart + k * kSumFactor;
}

void HeaderChecksum::Add(const MessageHeader *headers, size_t count) {
  if (!lanes_) {
    for (size_t h = 0; h < count; ++h) chain_[0] = HeaderSum(headers[h], chain_[0]);
    return;
  }
  uint64_t a = chain_[0], b = chain_[1], c = chain_[2], d = chain_[3];
  for (size_t h = 0; h < count; ++h) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&headers[h]);
    for (size_t i = 0; i < 20; i += 4) {
      a = SumStep(a, WholeWord(p, i));
      b = SumStep(b, WholeWord(p, i + 1));
      c = SumStep(c, WholeWord(p, i + 2));
      d = SumStep(d, WholeWord(p, i + 3));
    }
    a = SumStep(a, WholeWord(p, 20));
    b = SumStep(b, WholeWord(p, 21));
    c = SumStep(c, WholeWord(p, 22));
    d = SumStep(d, LastWord(p));
  }
  chain_[0] = a;
  chain_[1] = b;
  chain_[2] = c;
  chain_[3] = d;
}

uint64_t HeaderChecksum::Value() const {
  if (!lanes_) return chain_[0];
  return SumStep(SumStep(SumStep(chain_[0], chain_[1]), chain_[2]), chain_[3]);
}

int DescribeFile(FILE *f, uint64_t length, JournalFile &file) {
  plat::FileIdentity id;
  if (!plat::IdentifyStream(f, id)) return 0;
  file.Volume = id.volume;
  file.Index = id.file;
  file.Length = length;
  std::vector<uint8_t> prefix(static_cast<size_t>(std::min<uint64_t>(length, kJournalPrefix)));
  if (!ReadAt(f, 0, prefix.data(), prefix.size())) return 0;
  file.PrefixLength = static_cast<uint32_t>(prefix.size());
  file.PrefixSum = Crc(prefix.data(), prefix.size());
  return 1;
}

namespace {

// Creates a file that must not exist yet.
plat::UniqueFile CreateNew(const std::string &path, plat::Share share) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::CreateNew, share, plat::Mode::Binary));
  if (!f) PrintFileFailure("creating", path);
  return f;
}

// A spare just moved to `path`, opened there and checked to be that very
// file; null with errno EEXIST when another file took the name meanwhile.
plat::UniqueFile OpenMovedSpare(const Spare &spare, const std::string &path, plat::Share share) {
  MovedFrom.push_back(spare.name.substr(0, spare.name.find_last_of("\\/") + 1));
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::ReadWrite, share, plat::Mode::Binary));
  plat::FileIdentity id;
  if (f && plat::IdentifyStream(f.get(), id) && id == spare.id) return f;
  if (f) errno = EEXIST;
  return nullptr;
}

// A spare moved to the name, or a file created there; null with errno set,
// and `nameTaken` when a file under the name stood in the way.
plat::UniqueFile TryNewFile(const std::string &path, bool &nameTaken) {
  nameTaken = false;
  while (!Spares.empty()) {
    if (!plat::RenameFileNoReplace(Spares.back().name, path)) {
      if (errno == EEXIST) {
        nameTaken = true;  // the spare stays for the next new file
        return nullptr;
      }
      Spares.pop_back();  // one that is gone, or on another volume, is passed over
      continue;
    }
    Spare spare = Spares.back();
    Spares.pop_back();
    Taken.push_back(spare.id);
    plat::UniqueFile f = OpenMovedSpare(spare, path, plat::Share::DenyWrite);
    if (f && plat::FileLength(f.get()) == 0) return f;
    if (f) errno = EEXIST;
    return nullptr;
  }
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::CreateNew, plat::Share::DenyWrite, plat::Mode::Binary));
  nameTaken = !f && errno == EEXIST;
  return f;
}

// The journal of a packing, open for writing at its start: a finished
// journal of an earlier area moved to its name (never over another file)
// and written over, or a file created anew.  Until the new first bytes
// reach the disk, the moved journal still names its former area, which
// the next run tells apart (ReadJournalFile).
plat::UniqueFile NewJournal(const std::string &path) {
  while (!JournalSpares.empty()) {
    Spare spare = JournalSpares.back();
    if (!plat::RenameFileNoReplace(spare.name, path)) {
      if (errno == EEXIST) break;  // the name is taken: creating fails alike
      JournalSpares.pop_back();
      continue;
    }
    JournalSpares.pop_back();
    TakenJournals.push_back(spare.name);
    plat::UniqueFile f = OpenMovedSpare(spare, path, plat::Share::Exclusive);
    if (!f) PrintFileFailure("creating", path);
    return f;
  }
  return CreateNew(path, plat::Share::Exclusive);
}

// A new file of a packing, held while the journal records it: a spare moved
// to its name (the journal exists already, so a run cut short right after
// finds an empty file next to a journal that had not recorded it, and
// deletes it), or a file created anew.  Empty files in the way are deleted
// first.
plat::UniqueFile NewFile(const std::string &path) {
  bool nameTaken = false;
  plat::UniqueFile f = TryNewFile(path, nameTaken);
  if (!f && nameTaken) {
    // What a power cut can leave of a spare moved there, with no journal
    // of the area before ours; a failure shows in the second try.
    DeleteEmptyFiles(path);
    f = TryNewFile(path, nameTaken);
  }
  if (!f) PrintFileFailure("creating", path);
  return f;
}

}  // namespace

int StartJournal(const AreaFiles &files, PackJournal &content) {
  plat::UniqueFile journal = NewJournal(files.journal);
  if (!journal) return 0;
  // Signature and progress stay in the stream's buffer until the files
  // follow: an empty journal is recognised as ours just as well, and so is
  // a moved one (its record names another area) until they are written
  // over its first bytes in one write.
  JournalProgress progress{};
  bool ok = plat::WriteBytes(journal.get(), kJournalSignature, sizeof kJournalSignature) &&
            plat::WriteBytes(journal.get(), &progress, sizeof progress);
  if (!ok) PrintFileFailure("writing", files.journal);
  // The new files are recorded in the journal before anything is written
  // into them, so every later run can tell them from anybody else's.
  plat::UniqueFile newHeader, newText;
  if (ok && HasNewFiles(content))
    ok = (newHeader = NewFile(files.newHeader)) && (newText = NewFile(files.newText)) &&
         DescribeFile(newHeader.get(), 0, content.file[kNewHeaderFile]) &&
         DescribeFile(newText.get(), 0, content.file[kNewTextFile]);
  if (ok) {
    JournalFiles recorded{};
    recorded.Area = content.area;
    recorded.Flags = content.flags;
    std::memcpy(recorded.File, content.file, sizeof recorded.File);
    recorded.Sum = Crc(&recorded, offsetof(JournalFiles, Sum));
    ok = plat::WriteBytes(journal.get(), &recorded, sizeof recorded) && plat::CloseFile(journal.release());
    if (!ok) PrintFileFailure("writing", files.journal);
  }
  if (ok) return 1;
  // Files just created by this run and still held are its own.
  journal.reset();
  if (newHeader) {
    newHeader.reset();
    plat::DeleteFile(files.newHeader);
  }
  if (newText) {
    newText.reset();
    plat::DeleteFile(files.newText);
  }
  plat::DeleteFile(files.journal);
  return 0;
}

std::vector<std::string> TakeSpareDirectories() {
  std::vector<std::string> directories;
  for (const std::string &d : MovedFrom) AddOnce(directories, d);
  MovedFrom.clear();
  return directories;
}

namespace {
// What CompleteJournals appends: the head, the next-read changes, the
// subjects and the checksum of them all.
std::vector<uint8_t> JournalBody(const PackJournal &content) {
  std::vector<uint8_t> body;
  PackJournalHead head{};
  head.Area = content.area;
  head.Flags = content.flags;
  head.OldCount = content.oldCount;
  head.KeptCount = content.keptCount;
  head.NextReads = static_cast<uint32_t>(content.nextReads.size());
  head.Attaches = static_cast<uint32_t>(content.attaches.size());
  head.LateTextStart = content.lateTextStart;
  head.OldHeaderSum = content.oldHeaderSum;
  std::memcpy(head.File, content.file, sizeof head.File);
  body.reserve(sizeof head + content.nextReads.size() * sizeof(NextReadChange) + content.attaches.size() * 73 + 4);
  Append(body, head);
  for (const NextReadChange &c : content.nextReads) Append(body, c);
  for (const auto &subject : content.attaches) body.insert(body.end(), subject.begin(), subject.end());
  Append(body, Crc(body.data(), body.size()));
  return body;
}
}  // namespace

std::vector<int> CompleteJournals(const std::vector<SwitchingArea> &areas) {
  std::vector<int> done(areas.size(), 0);
  // Journals moved from other areas that held a longer body, to be cut to
  // the length of theirs (a journal whose length is not its body's is not
  // complete): the cuts are made together, as the emptying of former files.
  std::vector<size_t> cutOf;
  std::vector<plat::UniqueFile> cuts;
  std::vector<int64_t> ends;
  auto cutAll = [&] {
    std::vector<int> errors = CutAndClose(cuts, ends);
    for (size_t k = 0; k < cutOf.size(); ++k) {
      errno = errors[k];
      if (errors[k] != 0) PrintFileFailure("writing", areas[cutOf[k]].files->journal);
      done[cutOf[k]] = errors[k] == 0 ? 1 : 0;
    }
    cutOf.clear();
    ends.clear();
  };
  for (size_t i = 0; i < areas.size(); ++i) {
    const std::string &name = areas[i].files->journal;
    std::vector<uint8_t> body = JournalBody(*areas[i].content);
    plat::UniqueFile journal(plat::OpenFile(name, plat::Access::ReadWrite, plat::Share::Exclusive, plat::Mode::Binary));
    // A journal moved from another area holds that area's body still,
    // written over here.
    int64_t length = journal ? plat::FileLength(journal.get()) : -1;
    int64_t end = kBodyAt + int64_t(body.size());
    bool ok = length >= kBodyAt && plat::WriteBytesAt(journal.get(), kBodyAt, body.data(), body.size());
    if (ok && length > end) {
      cutOf.push_back(i);
      cuts.push_back(std::move(journal));
      ends.push_back(end);
      if (cuts.size() == kCutsAtOnce) cutAll();
      continue;
    }
    if (!ok && journal && errno == 0) errno = EIO;
    if (journal && !plat::CloseFile(journal.release())) ok = false;
    if (!ok) PrintFileFailure("writing", name);
    done[i] = ok ? 1 : 0;
  }
  cutAll();
  return done;
}

int DropJournal(const AreaFiles &files, const PackJournal &content) {
  if (HasNewFiles(content) && (!DeleteIfOurs(files.newHeader, content.file[kNewHeaderFile]) ||
                               !DeleteIfOurs(files.newText, content.file[kNewTextFile])))
    return 0;
  if (plat::DeleteFile(files.journal)) return 1;
  PrintFileFailure("deleting", files.journal);
  return 0;
}

void SwitchAreas(std::vector<SwitchingArea> &areas) {
  auto going = [](const SwitchingArea &s) { return s.outcome == PackOutcome::Packed; };
  auto leftBehind = [](SwitchingArea &s) {
    ReportFailure(StrPrintf("%s is left for the next run to settle\n", s.files->journal.c_str()));
    s.outcome = PackOutcome::Unsettled;
  };
  auto directoriesOfGoing = [&] {
    std::vector<std::string> directories;
    for (const SwitchingArea &s : areas)
      if (going(s)) AddOnce(directories, s.files->directory);
    return directories;
  };
  // The journals, the new files and their names reach the disk before any
  // switch.
  // The new files come first: where they are synced one by one, a journal
  // must never be durable before the files it describes.
  std::vector<std::string> written;
  for (const SwitchingArea &s : areas)
    if (HasNewFiles(*s.content)) {
      written.push_back(s.files->newHeader);
      written.push_back(s.files->newText);
    }
  for (const SwitchingArea &s : areas) written.push_back(s.files->journal);
  if (!SyncAll(written, directoriesOfGoing())) {
    for (SwitchingArea &s : areas) {
      if (!DropJournal(*s.files, *s.content)) ReportFailure(StrPrintf("%s is left for the next run to settle\n", s.files->journal.c_str()));
      s.outcome = PackOutcome::Failed;
    }
    return;
  }
  for (SwitchingArea &s : areas) {
    const AreaFiles &files = *s.files;
    PackJournal &c = *s.content;
    KindNames h = HeaderNames(files);
    // Step 3: nothing the board wrote since the scan may be lost.
    if (!HeadersAsScanned(files.header, c, true) || !TextAsScanned(files.text, c)) {
      if (DropJournal(files, c))
        s.outcome = PackOutcome::Changed;
      else
        leftBehind(s);
      continue;
    }
    // Step 4: the headers first.  A post that lands between the check and
    // the switch is in the former header file, which is checked again.
    if (!(HasNewFiles(c) ? SwitchKind(h) : Rename(files.header, files.oldHeader))) {
      s.outcome = Undo(files, c);
      continue;
    }
    Place former = Where(h, c.file[kOldHeaderFile]);
    if (former == kNowhere || !HeadersAsScanned(NameAt(h, former), c, true)) {
      if (UndoHeaderSwitch(files, c) && DropJournal(files, c))
        s.outcome = PackOutcome::Changed;
      else
        leftBehind(s);
    }
  }
  // The text switch never reaches the disk before the header switch.
  if (!SyncAll({}, directoriesOfGoing()))
    for (SwitchingArea &s : areas)
      if (going(s)) s.outcome = Undo(*s.files, *s.content);
  for (SwitchingArea &s : areas)
    if (going(s) && !(HasNewFiles(*s.content) ? SwitchKind(TextNames(*s.files)) : Rename(s.files->text, s.files->oldText)))
      s.outcome = Undo(*s.files, *s.content);
  // From here on the board may have posted into the new files.  Once the
  // text switch is on disk the switch is committed: a complete journal
  // whose text files are switched is finished, never undone, by this run
  // or the next.
  bool synced = SyncAll({}, directoriesOfGoing());
  for (SwitchingArea &s : areas)
    if (going(s) && !synced) leftBehind(s);
  std::vector<Finishing> committed;
  for (SwitchingArea &s : areas)
    if (going(s)) committed.push_back({s.files, s.content, &s.files->journal});
  if (!committed.empty()) FinishCommitted(committed, false);
}

int DeleteEmptiedFiles(size_t atLeast) {
  if (Emptied.empty() || Emptied.size() < atLeast) return 1;
  std::vector<EmptiedArea> areas;
  areas.swap(Emptied);
  Spares.clear();
  JournalSpares.clear();
  std::vector<plat::FileIdentity> taken;
  std::vector<std::string> takenJournals;
  taken.swap(Taken);
  takenJournals.swap(TakenJournals);
  std::vector<std::string> directories;
  std::vector<bool> going(areas.size(), true);
  for (size_t i = 0; i < areas.size(); ++i) {
    const EmptiedArea &e = areas[i];
    KindNames h = HeaderNames(e.files), t = TextNames(e.files);
    // A spare taken as a new file is another area's now, not looked for.
    auto where = [&](const KindNames &n, const JournalFile &file) {
      bool moved = std::find(taken.begin(), taken.end(), plat::FileIdentity{file.Volume, file.Index}) != taken.end();
      return moved ? kNowhere : Where(n, file);
    };
    Place oldHeader = where(h, e.oldHeader), oldText = where(t, e.oldText);
    if ((oldHeader > kLive && !DeleteFormer(NameAt(h, oldHeader), e.oldHeader, true)) ||
        (oldText > kLive && !DeleteFormer(NameAt(t, oldText), e.oldText, true)))
      going[i] = false;
    else
      AddOnce(directories, e.files.directory);
  }
  // The journals go only once the deletions of the files they name are on disk.
  bool ok = directories.empty() || SyncAll({}, directories);
  std::vector<std::string> journals;
  std::vector<size_t> of;
  for (size_t i = 0; ok && i < areas.size(); ++i)
    if (going[i] && std::find(takenJournals.begin(), takenJournals.end(), areas[i].journal) == takenJournals.end()) {
      journals.push_back(areas[i].journal);
      of.push_back(i);
    }
  std::vector<int> errors(journals.size());
  plat::DeleteFiles(journals, errors.data());
  for (size_t k = 0; k < journals.size(); ++k)
    if (errors[k] != 0) {
      errno = errors[k];
      PrintFileFailure("deleting", journals[k]);
      going[of[k]] = false;
    }
  return ok && std::find(going.begin(), going.end(), false) == going.end() ? 1 : 0;
}

namespace {

// Settles one journal of the area; `found` tells whether there was one.
int RecoverOnce(uint16_t area, bool &found) {
  found = true;
  AreaFiles files = GetAreaFiles(area);
  PackJournal c;
  // A committed journal of an earlier version, which renamed it on commit.
  Stage stage = ReadJournalFile(files.committed, area, c);
  if (stage != Stage::Missing) {
    if (stage != Stage::Complete) {
      ReportFailure(StrPrintf("%s is damaged: area %u left as it is\n", files.committed.c_str(), unsigned(area)));
      return 0;
    }
    Announce("Finishing interrupted packing of " + files.header);
    DropSecondNames(files);
    if (!CompleteTextSwitch(files, c)) {
      ReportFailure(StrPrintf("%s cannot be finished: area %u left as it is\n", files.committed.c_str(), unsigned(area)));
      return 0;
    }
    return FinishCommitted(files, files.committed, c, true);
  }
  c = PackJournal();
  stage = ReadJournalFile(files.journal, area, c);
  switch (stage) {
    case Stage::Missing:
      found = false;
      return DropEmptyLeftovers(files);
    case Stage::Foreign:
      ReportFailure(StrPrintf("%s is not ours: area %u left as it is\n", files.journal.c_str(), unsigned(area)));
      return 0;
    case Stage::Early:
    // Moved here from another area before our first bytes reached it; or
    // a name the journal kept when it moved on to another area, the move
    // not on disk in this directory when the run stopped: the file is that
    // area's now, and this area's former files, emptied before the move,
    // are empty files like those of an early journal.
    case Stage::Elsewhere:
      Announce("Undoing interrupted packing of " + files.header);
      return DropEarlyJournal(files, area);
    case Stage::Files:
      Announce("Undoing interrupted packing of " + files.header);
      return DropJournal(files, c);
    case Stage::Complete:
      break;
  }
  DropSecondNames(files);
  KindNames t = TextNames(files);
  bool textSwitched = Where(t, c.file[kOldTextFile]) != kLive;
  if (!textSwitched) {
    // The switch is undone as far as it got; the area is then packed anew.
    Announce("Undoing interrupted packing of " + files.header);
    if (UndoHeaderSwitch(files, c) && DropJournal(files, c)) return 1;
    ReportFailure(StrPrintf("%s cannot be undone: area %u left as it is\n", files.journal.c_str(), unsigned(area)));
    return 0;
  }
  // The text files were switched, which happens only after the header files
  // were: the board may have posted into the new files, so the switch is
  // finished.
  Announce("Finishing interrupted packing of " + files.header);
  KindNames h = HeaderNames(files);
  bool headerSwitched = HasNewFiles(c) ? SameFile(files.header, c.file[kNewHeaderFile])
                                       : Where(h, c.file[kOldHeaderFile]) != kLive;
  if (!headerSwitched || !CompleteTextSwitch(files, c) || !SyncDirectory(files)) {
    ReportFailure(StrPrintf("%s cannot be finished: area %u left as it is\n", files.journal.c_str(), unsigned(area)));
    return 0;
  }
  return FinishCommitted(files, files.journal, c, true);
}

}  // namespace

int RecoverArea(uint16_t area) {
  // On a host that tells case apart, names that differ only in case may
  // each hold a journal of the area: they are settled one after another,
  // so that the area is settled when this returns.
  for (int round = 0; round < 64; ++round) {
    bool found = false;
    if (!RecoverOnce(area, found)) return 0;
    if (!found) return 1;
  }
  return 1;
}
