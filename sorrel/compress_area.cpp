// Packing of message areas: the scan with its deletion limits, linking,
// and either the skipping pass or the packing pass with renumbering.
//
// The packing pass builds the new header and text files beside the live
// ones and switches to them through pack_journal.h, so an interrupted or
// failed run never loses a message, and neither does a board that posts
// into the area meanwhile.
//
// A run packs its areas in groups: each area is scanned (and skipped, or
// its journal begun) as it comes, and once the group is full, or the run
// is at its end, the new files of all its areas are written, switched and
// finished together, so that every sync is made once for the whole group.
// A group is bounded by the text of its areas (the disk space the new
// files take beside the live ones), by the messages whose maps it holds,
// and by the next-read numbers it renumbers (users times areas).
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "files.h"
#include "link.h"
#include "next_reads.h"
#include "pack_journal.h"
#include "pack_rules.h"
#include "platform.h"
#include "program_frame.h"
#include "run_failure.h"
#include "sorrel.h"
#include "startup.h"
#include "system_log.h"
#include "text.h"

namespace {

// Texts are split into pieces of this size; the last byte of a piece
// shorter than that is written as 0.
constexpr int64_t kTextPiece = 65536;
// The old text file is read, and the new one written, in pieces this large.
constexpr size_t kCopyBuffer = size_t(1) << 20;

// What one group may hold.
constexpr int64_t kGroupTextBytes = int64_t(64) << 20;  // text of the areas it packs
constexpr uint64_t kGroupMessages = uint64_t(1) << 20;   // messages mapped or with fast mail records kept
constexpr uint64_t kGroupNextReads = uint64_t(1) << 20;  // users times areas renumbered
constexpr size_t kGroupAreas = 1000;
// Test builds take another bound from VLM_GROUP_AREAS, so that the tests
// of crashes and power cuts see areas packed by a later group than others.
size_t GroupAreas() {
#ifdef VLM_TEST_HOOKS
  if (const char *text = std::getenv("VLM_GROUP_AREAS")) return size_t(std::max(1, std::atoi(text)));
#endif
  return kGroupAreas;
}
// Areas whose emptied former files wait for the end of the run at most.
constexpr size_t kEmptiedAreas = 10000;

// LinkEntry::Excluded holds a PackState during the scan and the limits;
// afterwards kDeleted marks the removed messages, which linking excludes.
constexpr uint8_t kDeleted = 0x01;

#pragma pack(push, 1)
// The packing half of a message's map entry (the link half is LinkEntry).
struct PackEntry {
  int32_t TextLength;
  // Kept message: its number after packing.  Removed message: the number
  // after packing of the first kept message after it (kept count + 1 when
  // none), which is what a next-read number pointing at it becomes.
  uint16_t NewNumber;
};
#pragma pack(pop)
static_assert(sizeof(PackEntry) == 6);
static_assert(sizeof(LinkEntry) + sizeof(PackEntry) == 15, "15 bytes per message");

bool ErasesAttaches(const MessageHeader &h, const MessageRecord &r) {
  if (!(r.AreaFlags & kAreaEraseAttaches) || !(h.Attribute2 & kMsgFilesAttached)) return false;
  if (r.AreaType != 1) return true;
  return !(h.Attribute & kMsgKeepAttaches) && (Constant.ConstantFlags & kConstantEraseLocalAttaches);
}

std::array<uint8_t, 73> SubjectOf(const MessageHeader &h) {
  std::array<uint8_t, 73> s;
  std::memcpy(s.data(), h.Subject, s.size());
  return s;
}

MsgFastRecord FastRecord(const MessageHeader &h, uint16_t area, uint16_t number) {
  return MsgFastRecord{GetPasStringCRC(h.WhoTo), area, number};
}

void AppendFastMail(const std::vector<MsgFastRecord> &records) {
  if (records.empty() || !hMsgFast) return;
  if (!plat::WriteBytes(hMsgFast, records.data(), records.size() * sizeof(MsgFastRecord)))
    PrintFileFailure("writing", MsgPath + "MSGFAST.BBS");
}

// Reads the first `total` headers of a file, from where it stands, in pieces
// of at most kHeaderChunk, handing each to use(piece, count, first number - 1);
// `use` returns false to stop.  Returns how many were read.
template <typename Use>
uint32_t ForEachHeaderPiece(FILE *f, uint32_t total, std::vector<MessageHeader> &piece, Use use) {
  // No larger than the area: a small area costs no large piece to clear.
  piece.resize(std::min<size_t>(kHeaderChunk, total));
  uint32_t done = 0;
  while (done < total) {
    size_t want = std::min<size_t>(piece.size(), total - done);
    size_t got = std::fread(piece.data(), sizeof(MessageHeader), want, f);
    if (got == 0) break;
    if (!use(piece.data(), got, done)) return done;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

plat::UniqueFile OpenRead(const std::string &path) {
  return plat::UniqueFile(plat::OpenFile(path, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
}

// Messages in the live header file now (the board may have added some);
// none where no text file answers, as for an area without files (a lone
// header file holds no messages a run would pack or count).
uint16_t LiveCount(const AreaFiles &files) {
  if (!ExistFile(files.text)) return 0;
  int64_t records = FileSize64(files.header) / int64_t(sizeof(MessageHeader));
  return static_cast<uint16_t>(std::clamp<int64_t>(records, 0, kMaxMessages));
}

enum class Plan {
  Done,   // nothing more to do but count and fast mail records
  Pack,   // some messages go: new files are written and switched to
  Empty,  // every message goes: the files are moved aside and deleted
};

// One area from its scan to the end of its group.
struct Area {
  uint16_t number = 0;
  MessageRecord record{};
  AreaFiles files;
  std::string name;
  uint16_t *count = nullptr;
  Plan plan = Plan::Done;
  uint32_t total = 0;  // messages in the header file
  uint32_t kept = 0;
  std::vector<LinkEntry> links;
  std::vector<PackEntry> pack;
  PackJournal content;               // what the scan saw, then what the journal holds
  std::vector<MsgFastRecord> asIs;   // fast mail records under the current numbers
  std::vector<MsgFastRecord> fast;   // what goes to MSGFAST.BBS when the group ends
  PackOutcome outcome = PackOutcome::Packed;
  // The messages the area holds after the run, written to MsgCount when its
  // group ends; none for an area without files or that could not be read.
  std::optional<uint16_t> countAfter;
};

// The area as it is, after a packing that did not happen: its count and its
// fast mail records under the numbers it keeps.
void LeaveAsIs(Area &a, bool fastMail = true) {
  a.plan = Plan::Done;
  a.countAfter = LiveCount(a.files);
  a.fast = fastMail ? std::move(a.asIs) : std::vector<MsgFastRecord>();
  a.links = {};
  a.pack = {};
}

// Drops what the journal's first two steps made and leaves the area as it is.
void Abandon(Area &a) {
  if (!DropJournal(a.files, a.content)) std::printf("%s is left for the next run to settle\n", a.files.journal.c_str());
  LeaveAsIs(a);
}

// ---------------------------------------------------------------- the scan

// The scan: delete flags, links after the range check, text lengths, keys.
// Returns 0 when the header file could not be read whole.
int Scan(Area &a, FILE *header, const PackRules &rules, int link, bool &needPack, int64_t &keptBytes) {
  // Journals of this version take the checksum over four chains.
  a.content.flags |= kJournalLaneSums;
  HeaderChecksum sum(a.content.flags);
  uint64_t textEnd = 0;
  std::vector<MessageHeader> piece;
  uint32_t done = ForEachHeaderPiece(header, a.total, piece, [&](const MessageHeader *h, size_t got, uint32_t first) {
    sum.Add(h, got);
    for (size_t k = 0; k < got; ++k) {
      uint32_t i = first + static_cast<uint32_t>(k);
      LinkEntry &e = a.links[i];
      textEnd = std::max<uint64_t>(textEnd, uint64_t(h[k].TextStart) + uint64_t(h[k].TextLength > 0 ? h[k].TextLength : 0));
      if (WantsFastMail(h[k], a.record, 1)) a.asIs.push_back(FastRecord(h[k], a.number, uint16_t(i + 1)));
      PackCause cause;
      e.Excluded = ScanHeader(h[k], rules, a.kept, keptBytes, cause);
      if (e.Excluded == kStateRemoved) needPack = true;
      e.ReplyTo = h[k].ReplyTo > a.total ? 0 : h[k].ReplyTo;
      e.NextReply = h[k].NextReply > a.total ? 0 : h[k].NextReply;
      e.SubjectKey = link ? SubjectKey(h[k].Subject) : 0;
      a.pack[i].TextLength = h[k].TextLength;
    }
    return true;
  });
  a.content.oldHeaderSum = sum.Value();
  // Bytes after the last text a header names belong to no scanned message:
  // a post may be in the middle of being written there.
  a.content.lateTextStart = std::min<uint64_t>(textEnd, a.content.file[kOldTextFile].Length);
  return done == a.total ? 1 : 0;
}

// The count and size limits, oldest messages first, exempt ones passed over.
void ApplyLimits(Area &a, const PackRules &rules, bool &needPack, int64_t &keptBytes) {
  auto state = [&](uint32_t i) -> uint8_t & { return a.links[i].Excluded; };
  auto bytes = [&](uint32_t i) { return MessageBytes(a.pack[i].TextLength); };
  if (ApplyCountAndSizeLimits(a.total, rules, a.kept, keptBytes, state, bytes, [](uint32_t, PackCause) {}))
    needPack = true;
  for (LinkEntry &e : a.links) e.Excluded = e.Excluded == kStateRemoved ? kDeleted : 0;
}

// Nothing to remove: links (when linking) written back in place.  Each piece
// is read afresh just before its links are written back, and only a piece
// whose links change is written, so that a change the board makes to a
// header meanwhile is kept.
void SkipArea(Area &a, plat::UniqueFile &file, int link) {
  std::printf("\rSkipping  %s...", a.name.c_str());
  if (link) {
    FILE *header = file.get();
    bool writeFailed = false;
    std::fseek(header, 0, SEEK_SET);
    std::vector<MessageHeader> piece;
    ForEachHeaderPiece(header, a.total, piece, [&](MessageHeader *h, size_t got, uint32_t first) {
      bool changed = false;
      for (size_t k = 0; k < got; ++k) {
        const LinkEntry &e = a.links[first + k];
        changed = changed || h[k].ReplyTo != e.ReplyTo || h[k].NextReply != e.NextReply;
        h[k].ReplyTo = e.ReplyTo;
        h[k].NextReply = e.NextReply;
      }
      long at = long(first) * long(sizeof(MessageHeader));
      if (changed && (std::fseek(header, at, SEEK_SET) != 0 || !plat::WriteBytes(header, h, got * sizeof(MessageHeader)))) {
        writeFailed = true;
        return false;
      }
      std::fseek(header, at + long(got * sizeof(MessageHeader)), SEEK_SET);
      return true;
    });
    if (!plat::CloseFile(file.release()) || writeFailed) PrintFileFailure("writing", a.files.header);
  }
  a.countAfter = static_cast<uint16_t>(a.total);
  a.fast = std::move(a.asIs);
}

// Renumbering and splicing over the map, in order of old number.
void Renumber(Area &a) {
  uint16_t next = 0;
  for (uint32_t i = 0; i < a.total; ++i) {
    LinkEntry &e = a.links[i];
    if (!(e.Excluded & kDeleted)) {
      a.pack[i].NewNumber = ++next;
      continue;
    }
    uint16_t r = e.ReplyTo, s = e.NextReply;
    if (r && s) {
      a.links[r - 1].NextReply = s;
      a.links[s - 1].ReplyTo = r;
    } else if (r) {
      a.links[r - 1].NextReply = 0;
    } else if (s) {
      a.links[s - 1].ReplyTo = 0;
    }
  }
  uint16_t following = static_cast<uint16_t>(a.kept + 1);
  for (uint32_t i = a.total; i-- > 0;) {
    if (a.links[i].Excluded & kDeleted)
      a.pack[i].NewNumber = following;
    else
      following = a.pack[i].NewNumber;
  }
}

// The subjects of the removed messages whose attachments go.
void CollectAttaches(Area &a, FILE *header) {
  const MessageRecord &r = a.record;
  if (!(r.AreaFlags & kAreaEraseAttaches) || (r.AreaType == 1 && !(Constant.ConstantFlags & kConstantEraseLocalAttaches)))
    return;
  std::fseek(header, 0, SEEK_SET);
  std::vector<MessageHeader> piece;
  ForEachHeaderPiece(header, a.total, piece, [&](const MessageHeader *h, size_t got, uint32_t) {
    for (size_t k = 0; k < got; ++k)
      if (ErasesAttaches(h[k], r)) a.content.attaches.push_back(SubjectOf(h[k]));
    return true;
  });
}

// An area that must be left alone this run: its count and fast mail
// records as its files hold them.
void CountAsIs(Area &a) {
  plat::UniqueFile f = OpenRead(a.files.header);
  int64_t records = f ? plat::FileLength(f.get()) / int64_t(sizeof(MessageHeader)) : 0;
  if (records <= 0 || records > kMaxMessages) return;
  a.countAfter = static_cast<uint16_t>(records);
  std::vector<MessageHeader> piece;
  ForEachHeaderPiece(f.get(), *a.countAfter, piece, [&](const MessageHeader *h, size_t got, uint32_t first) {
    for (size_t k = 0; k < got; ++k)
      if (WantsFastMail(h[k], a.record, 1)) a.fast.push_back(FastRecord(h[k], a.number, uint16_t(first + k + 1)));
    return true;
  });
}

// What the journal needs to know of the live files as the scan finds them.
int DescribeLiveFiles(Area &a, FILE *header, int64_t headerLength) {
  plat::UniqueFile text = OpenRead(a.files.text);
  int64_t textLength = text ? plat::FileLength(text.get()) : -1;
  if (textLength < 0 || !DescribeFile(text.get(), uint64_t(textLength), a.content.file[kOldTextFile])) {
    PrintFileFailure("opening", a.files.text);
    return 0;
  }
  if (!DescribeFile(header, uint64_t(headerLength), a.content.file[kOldHeaderFile])) {
    PrintFileFailure("reading", a.files.header);
    return 0;
  }
  return 1;
}

// Scans the area and decides what becomes of it; an area to pack or empty
// gets its journal begun.
void PrepareArea(Area &a, int link, int cleanup) {
  int settled = RecoverArea(a.number);
  int64_t headerSize = FileSize64(a.files.header);  // -1 without one
  if (headerSize < 0 || !ExistFile(a.files.text)) {
    if (cleanup && settled) {
      // One of the two is missing; the other is a lone file.
      if (!plat::DeleteFileIfPresent(a.files.header)) PrintFileFailure("deleting", a.files.header);
      if (!plat::DeleteFileIfPresent(a.files.text)) PrintFileFailure("deleting", a.files.text);
    }
    return;
  }
  if (!settled) {
    CountAsIs(a);
    return;
  }
  int64_t records = headerSize / int64_t(sizeof(MessageHeader));
  if (records <= 0) return;
  PasToC(a.record.AreaName, a.name);
  Trim(a.name);
  std::printf("Searching %s...", a.name.c_str());
  if (records > kMaxMessages) {
    // Numbers and the count are 16-bit: such an area cannot be renumbered.
    std::printf("\n%s holds %lld messages, more than %u: not packed\n", a.files.header.c_str(),
                static_cast<long long>(records), unsigned(kMaxMessages));
    WriteSystemLog(StrPrintf("Not packed %s: more than %u messages", a.name.c_str(), unsigned(kMaxMessages)));
    RunFailed();
    return;
  }
  plat::UniqueFile header(plat::OpenFile(a.files.header, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  if (!header) {
    PrintFileFailure("opening", a.files.header);
    std::printf("\n");
    return;
  }
  // Without a stream buffer every read sees what the board wrote last.
  std::setvbuf(header.get(), nullptr, _IONBF, 0);
  int64_t headerLength = plat::FileLength(header.get());
  records = headerLength / int64_t(sizeof(MessageHeader));
  if (records <= 0 || records > kMaxMessages || !DescribeLiveFiles(a, header.get(), headerLength)) {
    std::printf("\n");
    return;
  }
  a.total = static_cast<uint32_t>(records);
  try {
    a.links.resize(a.total);
    a.pack.resize(a.total);
  } catch (const std::bad_alloc &) {
    ReportFailure("Error allocation memory\n", "Error allocation memory packing " + a.files.header);
    return;
  }

  bool needPack = false;
  int64_t keptBytes = 0;
  PackRules rules = GetPackRules(a.record, DoDelete);
  if (!Scan(a, header.get(), rules, link, needPack, keptBytes)) {
    if (!std::ferror(header.get())) errno = EIO;
    std::printf("\n");
    PrintFileFailure("reading", a.files.header);
    return;
  }
  ApplyLimits(a, rules, needPack, keptBytes);
  if (link && a.kept >= 2) LinkPass(a.links);

  if (!needPack) {
    SkipArea(a, header, link);
    a.links = {};
    a.pack = {};
    std::printf("\n");
    return;
  }
  std::printf("\rPacking   %s...", a.name.c_str());
  a.content.area = a.number;
  a.content.oldCount = a.total;
  a.content.keptCount = a.kept;
  if (a.kept == 0) {
    a.plan = Plan::Empty;
    a.content.flags |= kJournalNoNewFiles;
    CollectAttaches(a, header.get());
    a.links = {};
    a.pack = {};
  } else {
    a.plan = Plan::Pack;
    Renumber(a);
  }
  header.reset();
  if (!StartJournal(a.files, a.content)) LeaveAsIs(a);
  std::printf("\n");
}

// ---------------------------------------------------------------- the copy pass

// The texts of the kept messages, copied from the old text file to the new
// one through large sequential reads and gathered writes: a window of the
// old file is read, and the runs of it that the new file takes are written
// straight from it, consecutive texts as one run, before the window moves.
// The window, kCopyBuffer bytes, is allocated once for a group (never
// cleared: only what was read is used).
struct CopyBuffers {
  std::unique_ptr<uint8_t[]> window;
};

class TextCopier {
 public:
  TextCopier(FILE *from, FILE *to, CopyBuffers &buffers) : from_(from), to_(to), window_(buffers.window.get()) {}

  // Appends the text of `want` bytes at `start` of the old file to the new
  // one; `copied` is what the old file held of it.  Returns 0 when reading
  // (readFailed) or writing failed, with errno set.
  int Copy(uint32_t start, int64_t want, int64_t &copied, bool &readFailed) {
    copied = 0;
    while (copied < want) {
      int64_t at = int64_t(start) + copied;
      if (at < windowStart_ || at >= windowStart_ + windowLength_) {
        if (!WriteOut()) return 0;  // what is gathered lies in the window
        if (!Fill(at)) {
          readFailed = true;
          return 0;
        }
        if (windowLength_ == 0) break;  // the old file ends here
      }
      int64_t take = std::min<int64_t>(want - copied, windowStart_ + windowLength_ - at);
      if (!Put(window_ + (at - windowStart_), size_t(take))) return 0;
      copied += take;
    }
    // The last byte of a text's last piece, when shorter than a whole piece,
    // is written as 0, unless it is 0 already: the run that ends the text
    // ends a byte early and a zero byte follows or, where the window had to
    // move to find the old file's end, the byte already written is written
    // again.  (The window itself is never changed: another header may name
    // the same bytes.)
    if (copied % kTextPiece != 0 && lastByte_ != 0) {
      if (runs_.empty()) {
        if (!plat::WriteBytesAt(to_, written_ - 1, &kZero, 1)) return 0;
      } else {
        if (--runs_.back().size == 0) runs_.pop_back();
        if (!Put(&kZero, 1)) return 0;
      }
    }
    return 1;
  }

  int Finish() { return WriteOut(); }

 private:
  static constexpr uint8_t kZero = 0;
  // Runs in one gathered write at most.
  static constexpr size_t kMaxRuns = 1024;

  int Fill(int64_t at) {
    windowStart_ = at;
    windowLength_ = 0;
    // A start the stream cannot reach (beyond what a long holds on some
    // hosts) must not pass for an empty text.
    if (int64_t(long(at)) != at) {
      errno = EOVERFLOW;
      return 0;
    }
    if (std::fseek(from_, long(at), SEEK_SET) != 0) return 0;
    size_t got = std::fread(window_, 1, kCopyBuffer, from_);
    if (got == 0 && std::ferror(from_)) return 0;
    windowLength_ = int64_t(got);
    return 1;
  }

  // Adds a run, joined to the last one where it follows it in memory.  The
  // runs are written before one is added to a full list, never after, so
  // the last run added is still there to be shortened.
  int Put(const uint8_t *bytes, size_t size) {
    lastByte_ = bytes[size - 1];
    if (!runs_.empty()) {
      plat::ByteSpan &last = runs_.back();
      if (static_cast<const uint8_t *>(last.data) + last.size == bytes && bytes != &kZero) {
        last.size += size;
        return 1;
      }
    }
    if (runs_.size() == kMaxRuns && !WriteOut()) return 0;
    runs_.push_back({bytes, size});
    return 1;
  }

  int WriteOut() {
    if (runs_.empty()) return 1;
    if (!plat::WriteGathered(to_, runs_.data(), runs_.size())) return 0;
    for (const plat::ByteSpan &run : runs_) written_ += int64_t(run.size);
    runs_.clear();
    return 1;
  }

  FILE *from_, *to_;
  uint8_t *window_;
  int64_t windowStart_ = 0, windowLength_ = 0;
  std::vector<plat::ByteSpan> runs_;
  int64_t written_ = 0;    // bytes handed to the new file
  uint8_t lastByte_ = 0;   // the last byte added
};

uint16_t NewLink(const Area &a, uint16_t old) {
  if (old == 0 || (a.links[old - 1].Excluded & kDeleted)) return 0;
  return a.pack[old - 1].NewNumber;
}

// Opens one of the new files the journal recorded, for writing.
plat::UniqueFile OpenNew(const std::string &path, const JournalFile &recorded) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::ReadWrite, plat::Share::DenyWrite, plat::Mode::Binary));
  plat::FileIdentity id;
  if (f && plat::IdentifyStream(f.get(), id) && id.volume == recorded.Volume && id.file == recorded.Index) return f;
  if (f) errno = EIO;
  PrintFileFailure("opening", path);
  return nullptr;
}

// Records the length and first bytes of a new file just written through
// `f` (opened by OpenNew, so the journal's file), and closes it.  Prints the
// failure.
int DescribeWritten(plat::UniqueFile &f, const std::string &path, uint64_t length, JournalFile &file) {
  if (std::fflush(f.get()) != 0) {
    PrintFileFailure("writing", path);
    return 0;
  }
  if (!DescribeFile(f.get(), length, file)) {
    PrintFileFailure("reading", path);
    return 0;
  }
  if (plat::CloseFile(f.release())) return 1;
  PrintFileFailure("writing", path);
  return 0;
}

// Writes the kept messages into the new files: each header with its links
// renumbered and its text copied; the fast mail records under the new
// numbers and the attachments of the removed messages noted on the way.
// Returns 1 when both files are complete (not yet synced); otherwise the
// failure has been printed.
int CopyPass(Area &a, CopyBuffers &buffers) {
  plat::UniqueFile header = OpenRead(a.files.header), oldText = OpenRead(a.files.text);
  if (!header || !oldText) {
    PrintFileFailure("opening", !header ? a.files.header : a.files.text);
    return 0;
  }
  // Large pieces are read straight into our own buffers.
  std::setvbuf(header.get(), nullptr, _IONBF, 0);
  std::setvbuf(oldText.get(), nullptr, _IONBF, 0);
  plat::UniqueFile newHeader = OpenNew(a.files.newHeader, a.content.file[kNewHeaderFile]);
  plat::UniqueFile newText = newHeader ? OpenNew(a.files.newText, a.content.file[kNewTextFile]) : nullptr;
  if (!newText) return 0;
  // The new text file is only written at offsets past stdio.
  std::setvbuf(newText.get(), nullptr, _IONBF, 0);

  std::vector<MessageHeader> out;
  try {
    out.reserve(std::min<size_t>(kHeaderChunk, a.kept));
    if (!buffers.window) buffers.window.reset(new uint8_t[kCopyBuffer]);
  } catch (const std::bad_alloc &) {
    ReportFailure("Error allocation memory\n", "Error allocation memory packing " + a.files.header);
    return 0;
  }
  TextCopier texts(oldText.get(), newText.get(), buffers);
  const MessageRecord &r = a.record;
  uint64_t newLength = 0;  // bytes in the new text file
  const char *failedAction = nullptr;
  const std::string *failedFile = nullptr;
  auto fail = [&](const char *action, const std::string &file) {
    failedAction = action;
    failedFile = &file;
    return false;
  };
  std::vector<MessageHeader> piece;
  uint32_t done = ForEachHeaderPiece(header.get(), a.total, piece, [&](const MessageHeader *in, size_t got, uint32_t first) {
    for (size_t k = 0; k < got; ++k) {
      MessageHeader h = in[k];
      uint32_t i = first + static_cast<uint32_t>(k);
      if (a.links[i].Excluded & kDeleted) {
        if (ErasesAttaches(h, r)) a.content.attaches.push_back(SubjectOf(h));
        continue;
      }
      h.ReplyTo = NewLink(a, a.links[i].ReplyTo);
      h.NextReply = NewLink(a, a.links[i].NextReply);
      if (WantsFastMail(h, r, 0)) a.fast.push_back(FastRecord(h, a.number, a.pack[i].NewNumber));
      // A text that ends early keeps the bytes that were there, and its
      // header says so.
      int64_t copied = 0;
      bool readFailed = false;
      if (!texts.Copy(h.TextStart, h.TextLength > 0 ? h.TextLength : 0, copied, readFailed))
        return readFailed ? fail("reading", a.files.text) : fail("writing", a.files.newText);
      if (newLength > 0xFFFFFFFFull) {
        errno = EFBIG;
        return fail("writing", a.files.newText);
      }
      h.TextStart = static_cast<uint32_t>(newLength);
      h.TextLength = static_cast<int32_t>(copied);
      newLength += static_cast<uint64_t>(copied);
      out.push_back(h);
      if (out.size() == kHeaderChunk) {
        if (!plat::WriteBytes(newHeader.get(), out.data(), out.size() * sizeof(MessageHeader)))
          return fail("writing", a.files.newHeader);
        out.clear();
      }
    }
    return true;
  });
  if (failedAction) {
    PrintFileFailure(failedAction, *failedFile);
    return 0;
  }
  if (done != a.total) {
    if (!std::ferror(header.get())) errno = EIO;
    PrintFileFailure("reading", a.files.header);
    return 0;
  }
  if (!out.empty() && !plat::WriteBytes(newHeader.get(), out.data(), out.size() * sizeof(MessageHeader))) {
    PrintFileFailure("writing", a.files.newHeader);
    return 0;
  }
  if (!texts.Finish()) {
    PrintFileFailure("writing", a.files.newText);
    return 0;
  }
  return DescribeWritten(newHeader, a.files.newHeader, uint64_t(a.kept) * sizeof(MessageHeader),
                         a.content.file[kNewHeaderFile]) &&
         DescribeWritten(newText, a.files.newText, newLength, a.content.file[kNewTextFile]);
}

// The next-read changes of the group's areas, from the numbers as the file
// holds them now: a number the board wrote since an earlier area was
// packed is renumbered, not overwritten.  Returns 0 when LASTCOMB.BBS could
// not be read (the failure printed).
int NoteNextReads(std::vector<Area *> &areas) {
  std::vector<Area *> placed;
  std::vector<uint16_t> numbers;
  for (Area *a : areas)
    if (HasNextReadPlace(a->number)) {
      placed.push_back(a);
      numbers.push_back(a->number);
    }
  if (!hLastComb || placed.empty()) return 1;
  std::vector<uint16_t> values;
  if (!ReadNextReads(hLastComb, numbers, NumUsers, values)) {
    PrintFileFailure("reading", LastCombName());
    return 0;
  }
  for (size_t i = 0; i < placed.size(); ++i) {
    Area &a = *placed[i];
    a.content.nextReads.reserve(NumUsers);
    for (uint32_t u = 0; u < NumUsers; ++u) {
      uint16_t v = values[size_t(u) * placed.size() + i];
      uint16_t renumbered;
      if (a.plan == Plan::Empty) {
        renumbered = 1;
      } else {
        if (v <= 1) continue;
        renumbered = v > a.total ? uint16_t(a.kept + 1) : a.pack[v - 1].NewNumber;
      }
      // A number that stays the same needs no write: the bytes are the same.
      if (renumbered != v) a.content.nextReads.push_back({uint16_t(u), v, renumbered});
    }
  }
  return 1;
}

// The area's count, fast mail records and log once its switch is over.
void EndSwitch(Area &a) {
  switch (a.outcome) {
    case PackOutcome::Packed:
      break;
    case PackOutcome::Changed: {
      // Normal on a live board: reported, not a failure of the run.
      std::string text = "Area changed while packing, left for the next run: " + a.name;
      std::printf("%s\n", text.c_str());
      WriteSystemLog(text);
      LeaveAsIs(a);
      return;
    }
    case PackOutcome::Failed:
      LeaveAsIs(a);
      return;
    case PackOutcome::Unsettled:
      LeaveAsIs(a, false);
      return;
  }
  uint16_t count = LiveCount(a.files);
  a.countAfter = count;
  // Posts the board made while the switch went on follow the packed ones.
  if (count > a.kept) {
    plat::UniqueFile f = OpenRead(a.files.header);
    std::vector<MessageHeader> late(count - a.kept);
    if (f && std::fseek(f.get(), long(a.kept) * long(sizeof(MessageHeader)), SEEK_SET) == 0 &&
        std::fread(late.data(), sizeof(MessageHeader), late.size(), f.get()) == late.size())
      for (size_t i = 0; i < late.size(); ++i)
        if (WantsFastMail(late[i], a.record, 0)) a.fast.push_back(FastRecord(late[i], a.number, uint16_t(a.kept + i + 1)));
  }
  if (a.kept > 0) WriteSystemLog(StrPrintf("Packed (%5d) %s", int(a.total - a.kept), a.name.c_str()));
}

// ---------------------------------------------------------------- the group

struct Group {
  std::vector<std::unique_ptr<Area>> areas;
  int64_t textBytes = 0;
  uint64_t messages = 0;
  uint64_t nextReads = 0;
  CopyBuffers buffers;

  bool Full() const {
    return textBytes >= kGroupTextBytes || messages >= kGroupMessages || nextReads >= kGroupNextReads ||
           areas.size() >= GroupAreas();
  }

  void Add(std::unique_ptr<Area> a) {
    messages += a->fast.size() + a->asIs.size();
    if (a->plan != Plan::Done) {
      messages += a->total;
      nextReads += NumUsers;
      if (a->plan == Plan::Pack) textBytes += int64_t(a->content.file[kOldTextFile].Length);
    }
    areas.push_back(std::move(a));
  }

  // Steps 2 to 6 for the areas being packed, then every area's end in order.
  void Run() {
    std::vector<Area *> packing;
    for (auto &a : areas)
      if (a->plan != Plan::Done) packing.push_back(a.get());
    if (!packing.empty()) Switch(packing);
    for (auto &a : areas) {
      if (a->plan != Plan::Done) EndSwitch(*a);
      if (a->countAfter) *a->count = *a->countAfter;
      AppendFastMail(a->fast);
    }
    *this = Group();
  }

  void Switch(std::vector<Area *> &packing) {
    // The journals that record the new files reach the disk before anything
    // is written into those files.
    std::vector<std::string> journals, directories;
    for (Area *a : packing)
      if (a->plan == Plan::Pack) {
        journals.push_back(a->files.newHeader);
        journals.push_back(a->files.newText);
        journals.push_back(a->files.journal);
        if (std::find(directories.begin(), directories.end(), a->files.directory) == directories.end())
          directories.push_back(a->files.directory);
      }
    for (const std::string &d : TakeSpareDirectories())
      if (std::find(directories.begin(), directories.end(), d) == directories.end()) directories.push_back(d);
    std::string failed;
    if (!journals.empty() && !plat::SyncTogether(journals, directories, failed)) {
      PrintFileFailure("syncing", failed);
      for (Area *a : packing) Abandon(*a);
      return;
    }
    for (Area *a : packing)
      if (a->plan == Plan::Pack && !CopyPass(*a, buffers)) Abandon(*a);
    std::erase_if(packing, [](Area *a) { return a->plan == Plan::Done; });
    if (!NoteNextReads(packing)) {
      for (Area *a : packing) Abandon(*a);
      return;
    }
    std::vector<SwitchingArea> completing, switching;
    for (Area *a : packing) {
      // The map is not needed any more.
      a->links = {};
      a->pack = {};
      completing.push_back({&a->files, &a->content});
    }
    std::vector<int> complete = CompleteJournals(completing);
    for (size_t i = 0; i < packing.size(); ++i)
      if (complete[i])
        switching.push_back(completing[i]);
      else
        Abandon(*packing[i]);
    SwitchAreas(switching);
    for (SwitchingArea &s : switching)
      for (Area *a : packing)
        if (&a->content == s.content) a->outcome = s.outcome;
  }
};

Group Queue;

}  // namespace

void QueueArea(uint16_t area, const MessageRecord &record, int link, int cleanup, uint16_t &count) {
  auto a = std::make_unique<Area>();
  a->number = area;
  a->record = record;
  a->files = GetAreaFiles(area);
  a->count = &count;
  PrepareArea(*a, link, cleanup);
  Queue.Add(std::move(a));
  if (Queue.Full()) {
    Queue.Run();
    DeleteEmptiedFiles(kEmptiedAreas);
  }
}

void PackQueuedAreas() {
  Queue.Run();
  DeleteEmptiedFiles();
}

void CompressArea(uint16_t area, const MessageRecord &record, int link, int cleanup, uint16_t &count) {
  QueueArea(area, record, link, cleanup, count);
  PackQueuedAreas();
}
