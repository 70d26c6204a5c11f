// Packing of one message area: the scan with its deletion limits, linking,
// and either the skipping pass or the packing pass with renumbering.
//
// The packing pass builds the new header and text files beside the live
// ones and switches to them through pack_journal.h, so an interrupted or
// failed run never loses a message, and neither does a board that posts
// into the area meanwhile.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "files.h"
#include "link.h"
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

constexpr size_t kCopyPiece = 65536;
constexpr size_t kTextStreamBuffer = 262144;

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

// Reads the next piece of at most kHeaderChunk headers of the first `total`.
size_t ReadPiece(FILE *f, std::vector<MessageHeader> &buffer, uint32_t done, uint32_t total) {
  size_t want = std::min<size_t>(kHeaderChunk, total - done);
  return std::fread(buffer.data(), sizeof(MessageHeader), want, f);
}

void AppendFastMail(const std::vector<MsgFastRecord> &records) {
  if (records.empty() || !hMsgFast) return;
  if (!plat::WriteBytes(hMsgFast, records.data(), records.size() * sizeof(MsgFastRecord)))
    PrintFileFailure("writing", MsgPath + "MSGFAST.BBS");
}

MsgFastRecord FastRecord(const MessageHeader &h, uint16_t area, uint16_t number) {
  return MsgFastRecord{GetPasStringCRC(h.WhoTo), area, number};
}

// Everything one call works with.
struct Area {
  uint16_t number = 0;
  const MessageRecord *record = nullptr;
  AreaFiles files;
  std::string name;
  uint32_t total = 0;  // messages in the header file
  uint32_t kept = 0;
  std::vector<LinkEntry> links;
  std::vector<PackEntry> pack;
  std::vector<MessageHeader> headers;  // one piece
  FILE *headerFile = nullptr;          // read without a stream buffer: every read is fresh
  PackJournal scan;                    // what the scan saw of the live files
  std::vector<MsgFastRecord> asIs;     // fast mail records under the current numbers
};

// Messages in the live header file now (the board may have added some).
uint16_t LiveCount(const Area &a) {
  plat::UniqueFile f(plat::OpenFile(a.files.header, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  int64_t records = f ? plat::FileLength(f.get()) / int64_t(sizeof(MessageHeader)) : 0;
  return static_cast<uint16_t>(std::clamp<int64_t>(records, 0, kMaxMessages));
}

// The scan: delete flags, links after the range check, text lengths, keys.
// Returns 0 when the header file could not be read whole.
int Scan(Area &a, const PackRules &rules, int link, bool &needPack, int64_t &keptBytes) {
  uint32_t done = 0;
  uint64_t sum = kHeaderSumStart, textEnd = 0;
  while (done < a.total) {
    size_t got = ReadPiece(a.headerFile, a.headers, done, a.total);
    for (size_t k = 0; k < got; ++k) {
      const MessageHeader &h = a.headers[k];
      LinkEntry &e = a.links[done + k];
      sum = HeaderSum(h, sum);
      textEnd = std::max<uint64_t>(textEnd, uint64_t(h.TextStart) + uint64_t(h.TextLength > 0 ? h.TextLength : 0));
      if (WantsFastMail(h, *a.record, 1)) a.asIs.push_back(FastRecord(h, a.number, uint16_t(done + k + 1)));
      PackCause cause;
      e.Excluded = ScanHeader(h, rules, a.kept, keptBytes, cause);
      if (e.Excluded == kStateRemoved) needPack = true;
      e.ReplyTo = h.ReplyTo > a.total ? 0 : h.ReplyTo;
      e.NextReply = h.NextReply > a.total ? 0 : h.NextReply;
      e.SubjectKey = link ? SubjectKey(h.Subject) : 0;
      a.pack[done + k].TextLength = h.TextLength;
    }
    done += static_cast<uint32_t>(got);
    if (got == 0) break;
  }
  a.scan.oldHeaderSum = sum;
  // Bytes after the last text a header names belong to no scanned message:
  // a post may be in the middle of being written there.
  a.scan.lateTextStart = std::min<uint64_t>(textEnd, a.scan.file[kOldTextFile].Length);
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

// Nothing to remove: links (when linking) written back in place, fast mail
// records under the current numbers.  Each piece is read afresh just before
// its links are written back, and only a piece whose links change is
// written, so that a change the board makes to a header meanwhile is kept.
void SkipArea(Area &a, int link, uint16_t &count) {
  std::printf("\rSkipping  %s...", a.name.c_str());
  bool writeFailed = false;
  if (link) {
    std::fseek(a.headerFile, 0, SEEK_SET);
    for (uint32_t done = 0; done < a.total && !writeFailed;) {
      size_t got = ReadPiece(a.headerFile, a.headers, done, a.total);
      if (got == 0) break;
      bool changed = false;
      for (size_t k = 0; k < got; ++k) {
        MessageHeader &h = a.headers[k];
        const LinkEntry &e = a.links[done + k];
        changed = changed || h.ReplyTo != e.ReplyTo || h.NextReply != e.NextReply;
        h.ReplyTo = e.ReplyTo;
        h.NextReply = e.NextReply;
      }
      if (changed && (std::fseek(a.headerFile, long(done) * long(sizeof(MessageHeader)), SEEK_SET) != 0 ||
                      !plat::WriteBytes(a.headerFile, a.headers.data(), got * sizeof(MessageHeader))))
        writeFailed = true;
      done += static_cast<uint32_t>(got);
      std::fseek(a.headerFile, long(done) * long(sizeof(MessageHeader)), SEEK_SET);
    }
    FILE *f = a.headerFile;
    a.headerFile = nullptr;
    if (!plat::CloseFile(f)) writeFailed = true;
    if (writeFailed) PrintFileFailure("writing", a.files.header);
  }
  AppendFastMail(a.asIs);
  count = static_cast<uint16_t>(a.total);
}

void CloseHeaderFile(Area &a) {
  // Packing only reads the live header file; a close error loses nothing.
  if (a.headerFile) plat::CloseFile(a.headerFile);
  a.headerFile = nullptr;
}

// The area as it is, after a packing that did not happen: its count and its
// fast mail records under the numbers it keeps.
void LeaveAsIs(const Area &a, uint16_t &count, bool fastMail) {
  count = LiveCount(a);
  if (fastMail) AppendFastMail(a.asIs);
}

// Steps 3 to 6 of pack_journal.h and what follows for the run.
void Switch(Area &a, PackJournal &content, const std::vector<MsgFastRecord> &fast, uint16_t &count) {
  switch (SwitchAreaFiles(a.files, content)) {
    case PackOutcome::Packed:
      break;
    case PackOutcome::Changed: {
      // Normal on a live board: reported, not a failure of the run.
      std::string text = "Area changed while packing, left for the next run: " + a.name;
      std::printf("\n%s", text.c_str());
      WriteSystemLog(text);
      LeaveAsIs(a, count, true);
      return;
    }
    case PackOutcome::Failed:
      LeaveAsIs(a, count, true);
      return;
    case PackOutcome::Unsettled:
      LeaveAsIs(a, count, false);
      return;
  }
  count = LiveCount(a);
  AppendFastMail(fast);
  // Posts the board made while the switch went on follow the packed ones.
  if (count > a.kept) {
    plat::UniqueFile f(plat::OpenFile(a.files.header, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
    std::vector<MessageHeader> late(count - a.kept);
    std::vector<MsgFastRecord> lateFast;
    if (f && std::fseek(f.get(), long(a.kept) * long(sizeof(MessageHeader)), SEEK_SET) == 0 &&
        std::fread(late.data(), sizeof(MessageHeader), late.size(), f.get()) == late.size())
      for (size_t i = 0; i < late.size(); ++i)
        if (WantsFastMail(late[i], *a.record, 0)) lateFast.push_back(FastRecord(late[i], a.number, uint16_t(a.kept + i + 1)));
    AppendFastMail(lateFast);
  }
  if (a.kept > 0) WriteSystemLog(StrPrintf("Packed (%5d) %s", int(a.total - a.kept), a.name.c_str()));
}

// Every message removed: the files are moved aside and deleted once the
// next-read numbers are reset and the attachments erased.
void EmptyArea(Area &a, uint16_t &count) {
  std::printf("\rPacking   %s...", a.name.c_str());
  const MessageRecord &r = *a.record;
  PackJournal content = a.scan;
  content.area = a.number;
  content.flags = kJournalNoNewFiles;
  content.oldCount = a.total;
  if (hLastComb && HasNextReadPlace(a.number)) {
    for (uint32_t u = 0; u < NumUsers; ++u) {
      uint16_t v = GetNextRead(hLastComb, uint16_t(u), a.number);
      if (v != 1) content.nextReads.push_back({uint16_t(u), v, 1});
    }
  }
  if ((r.AreaFlags & kAreaEraseAttaches) && (r.AreaType != 1 || (Constant.ConstantFlags & kConstantEraseLocalAttaches))) {
    std::fseek(a.headerFile, 0, SEEK_SET);
    for (uint32_t done = 0; done < a.total;) {
      size_t got = ReadPiece(a.headerFile, a.headers, done, a.total);
      if (got == 0) break;
      for (size_t k = 0; k < got; ++k)
        if (ErasesAttaches(a.headers[k], r)) content.attaches.push_back(SubjectOf(a.headers[k]));
      done += static_cast<uint32_t>(got);
    }
  }
  CloseHeaderFile(a);
  plat::UniqueFile journal;
  if (!BeginJournal(a.files, journal) || !RecordJournalFiles(a.files, journal, content) ||
      !FinishJournal(a.files, journal, content)) {
    journal.reset();
    DropJournal(a.files, content);
    LeaveAsIs(a, count, true);
    return;
  }
  Switch(a, content, {}, count);
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

uint16_t NewLink(const Area &a, uint16_t old) {
  if (old == 0 || (a.links[old - 1].Excluded & kDeleted)) return 0;
  return a.pack[old - 1].NewNumber;
}

// Copies the kept texts and headers into the new files.  Returns 1 when both
// are complete and synced; otherwise the failure has been printed.
int CopyPass(Area &a, plat::UniqueFile &newHeader, plat::UniqueFile &newText, std::vector<uint8_t> &copy,
             std::vector<MessageHeader> &out, PackJournal &content, std::vector<MsgFastRecord> &fast) {
  if (!plat::SetStreamBuffer(newText.get(), kTextStreamBuffer))
    std::printf("Failed to Setup %s Buffer\n", a.files.text.c_str());
  plat::UniqueFile oldText(plat::OpenFile(a.files.text, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!oldText) {
    PrintFileFailure("opening", a.files.text);
    return 0;
  }

  const MessageRecord &r = *a.record;
  uint64_t newLength = 0;  // bytes in the new text file
  int64_t position = 0;    // of the old text file's stream
  size_t buffered = 0;
  std::fseek(a.headerFile, 0, SEEK_SET);
  uint32_t done = 0;
  while (done < a.total) {
    size_t got = ReadPiece(a.headerFile, a.headers, done, a.total);
    if (got == 0) break;
    for (size_t k = 0; k < got; ++k) {
      MessageHeader h = a.headers[k];
      uint32_t i = done + static_cast<uint32_t>(k);
      if (a.links[i].Excluded & kDeleted) {
        if (ErasesAttaches(h, r)) content.attaches.push_back(SubjectOf(h));
        continue;
      }
      h.ReplyTo = NewLink(a, a.links[i].ReplyTo);
      h.NextReply = NewLink(a, a.links[i].NextReply);
      if (WantsFastMail(h, r, 0)) fast.push_back(FastRecord(h, a.number, a.pack[i].NewNumber));

      // The text: pieces of at most 64 KiB, the last byte of a piece shorter
      // than that written as 0.  A text that ends early keeps the bytes that
      // were there, and its header says so.
      int64_t want = h.TextLength > 0 ? h.TextLength : 0;
      int64_t copied = 0;
      if (want > 0 && position != int64_t(h.TextStart)) {
        // A start the stream cannot reach (beyond what a long holds on some
        // hosts) must not pass for an empty text.
        bool reachable = int64_t(long(h.TextStart)) == int64_t(h.TextStart);
        if (!reachable) errno = EOVERFLOW;
        if (!reachable || std::fseek(oldText.get(), long(h.TextStart), SEEK_SET) != 0) {
          PrintFileFailure("reading", a.files.text);
          return 0;
        }
        position = h.TextStart;
      }
      while (copied < want) {
        size_t piece = static_cast<size_t>(std::min<int64_t>(int64_t(kCopyPiece), want - copied));
        size_t read = std::fread(copy.data(), 1, piece, oldText.get());
        if (read == 0) break;
        if (read < kCopyPiece) copy[read - 1] = 0;
        if (!plat::WriteBytes(newText.get(), copy.data(), read)) {
          PrintFileFailure("writing", a.files.newText);
          return 0;
        }
        copied += static_cast<int64_t>(read);
        position += static_cast<int64_t>(read);
      }
      if (std::ferror(oldText.get())) {
        PrintFileFailure("reading", a.files.text);
        return 0;
      }
      if (newLength > 0xFFFFFFFFull) {
        errno = EFBIG;
        PrintFileFailure("writing", a.files.newText);
        return 0;
      }
      h.TextStart = static_cast<uint32_t>(newLength);
      h.TextLength = static_cast<int32_t>(copied);
      newLength += static_cast<uint64_t>(copied);

      out[buffered++] = h;
      if (buffered == kHeaderChunk) {
        if (!plat::WriteBytes(newHeader.get(), out.data(), buffered * sizeof(MessageHeader))) {
          PrintFileFailure("writing", a.files.newHeader);
          return 0;
        }
        buffered = 0;
      }
    }
    done += static_cast<uint32_t>(got);
  }
  if (done != a.total) {
    if (!std::ferror(a.headerFile)) errno = EIO;
    PrintFileFailure("reading", a.files.header);
    return 0;
  }
  if ((buffered && !plat::WriteBytes(newHeader.get(), out.data(), buffered * sizeof(MessageHeader))) ||
      !plat::FlushFile(newHeader.get()) || !plat::CloseFile(newHeader.release())) {
    PrintFileFailure("writing", a.files.newHeader);
    return 0;
  }
  if (!plat::FlushFile(newText.get()) || !plat::CloseFile(newText.release())) {
    PrintFileFailure("writing", a.files.newText);
    return 0;
  }
  content.file[kNewHeaderFile].Length = uint64_t(a.kept) * sizeof(MessageHeader);
  content.file[kNewTextFile].Length = newLength;
  return 1;
}

// Creates a new file that must not exist yet.
plat::UniqueFile CreateNew(const std::string &path) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::CreateNew, plat::Share::DenyWrite, plat::Mode::Binary));
  if (!f) PrintFileFailure("creating", path);
  return f;
}

// The identity and first bytes of a written file, read back by its name.
int DescribeWritten(const std::string &path, JournalFile &file) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  plat::FileIdentity id;
  if (f && plat::IdentifyStream(f.get(), id) && id.volume == file.Volume && id.file == file.Index &&
      DescribeFile(f.get(), file.Length, file))
    return 1;
  if (f) errno = EIO;
  PrintFileFailure("reading", path);
  return 0;
}

// Some messages removed, some kept.
void PackArea(Area &a, uint16_t &count) {
  std::printf("\rPacking   %s...", a.name.c_str());
  Renumber(a);
  std::vector<uint8_t> copy;
  std::vector<MessageHeader> out;
  try {
    copy.resize(kCopyPiece);
    out.resize(kHeaderChunk);
  } catch (const std::bad_alloc &) {
    ReportFailure("Error allocation memory", "Error allocation memory packing " + a.files.header);
    LeaveAsIs(a, count, true);
    return;
  }
  PackJournal content = a.scan;
  content.area = a.number;
  content.oldCount = a.total;
  content.keptCount = a.kept;
  plat::UniqueFile journal, newHeader, newText;
  if (!BeginJournal(a.files, journal)) {
    LeaveAsIs(a, count, true);
    return;
  }
  // The new files are recorded in the journal before anything is written
  // into them, so every later run can tell them from anybody else's.
  bool made = (newHeader = CreateNew(a.files.newHeader)) && (newText = CreateNew(a.files.newText)) &&
              DescribeFile(newHeader.get(), 0, content.file[kNewHeaderFile]) &&
              DescribeFile(newText.get(), 0, content.file[kNewTextFile]);
  if (!made || !RecordJournalFiles(a.files, journal, content)) {
    journal.reset();
    // Files just created by this run and still held are its own.
    if (newHeader) {
      newHeader.reset();
      plat::DeleteFile(a.files.newHeader);
    }
    if (newText) {
      newText.reset();
      plat::DeleteFile(a.files.newText);
    }
    plat::DeleteFile(a.files.journal);
    CloseHeaderFile(a);
    LeaveAsIs(a, count, true);
    return;
  }
  std::vector<MsgFastRecord> fast;
  int copied = CopyPass(a, newHeader, newText, copy, out, content, fast);
  CloseHeaderFile(a);
  newHeader.reset();
  newText.reset();
  if (copied) copied = DescribeWritten(a.files.newHeader, content.file[kNewHeaderFile]) &&
                       DescribeWritten(a.files.newText, content.file[kNewTextFile]);
  if (copied && hLastComb && HasNextReadPlace(a.number)) {
    // Read afresh (the stream has no read buffer), so that a number the
    // board wrote since the last area is renumbered, not overwritten.
    for (uint32_t u = 0; u < NumUsers; ++u) {
      uint16_t v = GetNextRead(hLastComb, uint16_t(u), a.number);
      if (v <= 1) continue;
      uint16_t renumbered = v > a.total ? uint16_t(a.kept + 1) : a.pack[v - 1].NewNumber;
      // A number that stays the same needs no write: the bytes are the same.
      if (renumbered != v) content.nextReads.push_back({uint16_t(u), v, renumbered});
    }
  }
  if (!copied || !FinishJournal(a.files, journal, content)) {
    journal.reset();
    if (!DropJournal(a.files, content)) std::printf("%s is left for the next run to settle\n", a.files.journal.c_str());
    LeaveAsIs(a, count, true);
    return;
  }
  Switch(a, content, fast, count);
}

// An area that must be left alone this run: its count and fast mail
// records as its files hold them.
void CountAsIs(Area &a, uint16_t &count) {
  plat::UniqueFile f(plat::OpenFile(a.files.header, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  int64_t records = f ? plat::FileLength(f.get()) / int64_t(sizeof(MessageHeader)) : 0;
  if (records <= 0 || records > kMaxMessages) return;
  count = static_cast<uint16_t>(records);
  std::vector<MessageHeader> piece(kHeaderChunk);
  std::vector<MsgFastRecord> fast;
  for (uint32_t done = 0; done < count;) {
    size_t got = ReadPiece(f.get(), piece, done, count);
    if (got == 0) break;
    for (size_t k = 0; k < got; ++k)
      if (WantsFastMail(piece[k], *a.record, 1)) fast.push_back(FastRecord(piece[k], a.number, uint16_t(done + k + 1)));
    done += static_cast<uint32_t>(got);
  }
  AppendFastMail(fast);
}

// What the journal needs to know of the live files as the scan finds them.
int DescribeLiveFiles(Area &a, int64_t headerLength) {
  plat::UniqueFile text(plat::OpenFile(a.files.text, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  int64_t textLength = text ? plat::FileLength(text.get()) : -1;
  if (textLength < 0 || !DescribeFile(text.get(), uint64_t(textLength), a.scan.file[kOldTextFile])) {
    PrintFileFailure("opening", a.files.text);
    return 0;
  }
  if (!DescribeFile(a.headerFile, uint64_t(headerLength), a.scan.file[kOldHeaderFile])) {
    PrintFileFailure("reading", a.files.header);
    return 0;
  }
  return 1;
}

}  // namespace

void CompressArea(uint16_t area, const MessageRecord &record, int link, int cleanup, uint16_t &count) {
  int settled = RecoverArea(area);
  Area a;
  a.number = area;
  a.record = &record;
  a.files = GetAreaFiles(area);
  if (!ExistFile(a.files.header) || !ExistFile(a.files.text)) {
    if (cleanup && settled) {
      // One of the two is missing; the other is a lone file.
      if (!plat::DeleteFileIfPresent(a.files.header)) PrintFileFailure("deleting", a.files.header);
      if (!plat::DeleteFileIfPresent(a.files.text)) PrintFileFailure("deleting", a.files.text);
    }
    return;
  }
  if (!settled) {
    CountAsIs(a, count);
    return;
  }
  int64_t records = FileSize64(a.files.header) / int64_t(sizeof(MessageHeader));
  if (records <= 0) return;
  PasToC(record.AreaName, a.name);
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
  a.headerFile = plat::OpenFile(a.files.header, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary);
  if (!a.headerFile) {
    PrintFileFailure("opening", a.files.header);
    std::printf("\n");
    return;
  }
  // Without a stream buffer every read sees what the board wrote last.
  std::setvbuf(a.headerFile, nullptr, _IONBF, 0);
  int64_t headerLength = plat::FileLength(a.headerFile);
  records = headerLength / int64_t(sizeof(MessageHeader));
  if (records <= 0 || records > kMaxMessages || !DescribeLiveFiles(a, headerLength)) {
    CloseHeaderFile(a);
    std::printf("\n");
    return;
  }
  a.total = static_cast<uint32_t>(records);
  try {
    a.links.resize(a.total);
    a.pack.resize(a.total);
    a.headers.resize(kHeaderChunk);
  } catch (const std::bad_alloc &) {
    ReportFailure("Error allocation memory\n", "Error allocation memory packing " + a.files.header);
    CloseHeaderFile(a);
    return;
  }

  bool needPack = false;
  int64_t keptBytes = 0;
  PackRules rules = GetPackRules(record, DoDelete);
  if (!Scan(a, rules, link, needPack, keptBytes)) {
    if (!std::ferror(a.headerFile)) errno = EIO;
    std::printf("\n");
    PrintFileFailure("reading", a.files.header);
    CloseHeaderFile(a);
    return;
  }
  ApplyLimits(a, rules, needPack, keptBytes);
  if (link && a.kept >= 2) LinkPass(a.links);

  if (!needPack)
    SkipArea(a, link, count);
  else if (a.kept == 0)
    EmptyArea(a, count);
  else
    PackArea(a, count);
  CloseHeaderFile(a);
  std::printf("\n");
}
