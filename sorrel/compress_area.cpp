// Packing of one message area: the scan with its deletion limits, linking,
// and either the skipping pass or the packing pass with renumbering.
//
// The packing pass builds the new header and text files beside the live
// ones and switches to them through pack_journal.h, so an interrupted or
// failed run never loses a message.
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
  FILE *headerFile = nullptr;
};

// The scan: delete flags, links after the range check, text lengths, keys.
// Returns 0 when the header file could not be read whole.
int Scan(Area &a, const PackRules &rules, int link, bool &needPack, int64_t &keptBytes) {
  uint32_t done = 0;
  while (done < a.total) {
    size_t got = ReadPiece(a.headerFile, a.headers, done, a.total);
    for (size_t k = 0; k < got; ++k) {
      const MessageHeader &h = a.headers[k];
      LinkEntry &e = a.links[done + k];
      bool exempt = false;
      if (HeaderCause(h, rules, exempt) != kKeep) {
        e.Excluded = kStateRemoved;
        needPack = true;
      } else {
        e.Excluded = exempt ? kStateExempt : kStateKept;
        ++a.kept;
        keptBytes += MessageBytes(h.TextLength);
      }
      e.ReplyTo = h.ReplyTo > a.total ? 0 : h.ReplyTo;
      e.NextReply = h.NextReply > a.total ? 0 : h.NextReply;
      e.SubjectKey = link ? SubjectKey(h.Subject) : 0;
      a.pack[done + k].TextLength = h.TextLength;
    }
    done += static_cast<uint32_t>(got);
    if (got == 0) break;
  }
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
// records under the current numbers.
void SkipArea(Area &a, int link, uint16_t &count) {
  std::printf("\rSkipping  %s...", a.name.c_str());
  std::vector<MsgFastRecord> fast;
  bool writeFailed = false;
  std::fseek(a.headerFile, 0, SEEK_SET);
  uint32_t done = 0;
  while (done < a.total) {
    size_t got = ReadPiece(a.headerFile, a.headers, done, a.total);
    if (got == 0) break;
    for (size_t k = 0; k < got; ++k) {
      MessageHeader &h = a.headers[k];
      h.ReplyTo = a.links[done + k].ReplyTo;
      h.NextReply = a.links[done + k].NextReply;
      if (WantsFastMail(h, *a.record, 1)) fast.push_back(FastRecord(h, a.number, uint16_t(done + k + 1)));
    }
    if (link && !writeFailed) {
      std::fseek(a.headerFile, long(done) * long(sizeof(MessageHeader)), SEEK_SET);
      if (!plat::WriteBytes(a.headerFile, a.headers.data(), got * sizeof(MessageHeader))) writeFailed = true;
      std::fseek(a.headerFile, long(done + got) * long(sizeof(MessageHeader)), SEEK_SET);
    }
    done += static_cast<uint32_t>(got);
  }
  if (link) {
    FILE *f = a.headerFile;
    a.headerFile = nullptr;
    if (!plat::CloseFile(f)) writeFailed = true;
    if (writeFailed) PrintFileFailure("writing", a.files.header);
  }
  AppendFastMail(fast);
  count = static_cast<uint16_t>(a.total);
}

void CloseHeaderFile(Area &a) {
  // Packing only reads the live header file; a close error loses nothing.
  if (a.headerFile) plat::CloseFile(a.headerFile);
  a.headerFile = nullptr;
}

// Whether a name packing needs is taken by a file that is not provably ours.
int NamesAreFree(const AreaFiles &files) {
  for (const std::string *name :
       {&files.newHeader, &files.newText, &files.oldHeader, &files.oldText, &files.committed}) {
    if (ExistFile(*name)) {
      ReportFileFailure(EEXIST, "creating", *name);
      return 0;
    }
  }
  return 1;
}

// Switches to the new files and applies the journal; the result is the
// message count the area now has, or -1 when the files are unsettled.
int64_t Replace(Area &a, plat::UniqueFile &journal, const PackJournal &content, bool withNew) {
  if (!FinishJournal(a.files, journal, content)) {
    if (!UndoSwitch(a.files)) return -1;
    return a.total;
  }
  if (!SwitchAreaFiles(a.files, withNew)) return ExistFile(a.files.journal) ? -1 : int64_t(a.total);
  // Committed: whatever fails from here is finished by the next run.
  ApplyCommitted(a.files, content);
  return a.kept;
}

// Every message removed: the files are moved aside and deleted once the
// next-read numbers are reset and the attachments erased.
void EmptyArea(Area &a, uint16_t &count) {
  std::printf("\rPacking   %s...", a.name.c_str());
  const MessageRecord &r = *a.record;
  PackJournal content;
  content.area = a.number;
  content.oldCount = a.total;
  if (HasNextReadPlace(a.number))
    for (uint32_t u = 0; u < NumUsers; ++u) content.nextReads.push_back({uint16_t(u), 1});
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
  if (!NamesAreFree(a.files) || !BeginJournal(a.files, journal)) {
    count = static_cast<uint16_t>(a.total);
    return;
  }
  int64_t result = Replace(a, journal, content, false);
  if (result >= 0) count = static_cast<uint16_t>(result);
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
int CopyPass(Area &a, std::vector<uint8_t> &copy, std::vector<MessageHeader> &out, PackJournal &content,
             std::vector<MsgFastRecord> &fast) {
  plat::UniqueFile newText(plat::OpenFile(a.files.newText, plat::Access::Write, plat::Share::DenyWrite,
                                          plat::Mode::Binary));
  if (!newText) {
    PrintFileFailure("creating", a.files.newText);
    return 0;
  }
  if (!plat::SetStreamBuffer(newText.get(), kTextStreamBuffer))
    std::printf("Failed to Setup %s Buffer\n", a.files.text.c_str());
  plat::UniqueFile newHeader(plat::OpenFile(a.files.newHeader, plat::Access::Write, plat::Share::DenyWrite,
                                            plat::Mode::Binary));
  if (!newHeader) {
    PrintFileFailure("creating", a.files.newHeader);
    return 0;
  }
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
  return 1;
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
    return;
  }
  plat::UniqueFile journal;
  if (!NamesAreFree(a.files) || !BeginJournal(a.files, journal)) {
    count = static_cast<uint16_t>(a.total);
    return;
  }
  PackJournal content;
  content.area = a.number;
  content.oldCount = a.total;
  content.keptCount = a.kept;
  std::vector<MsgFastRecord> fast;
  int copied = CopyPass(a, copy, out, content, fast);
  CloseHeaderFile(a);
  if (!copied) {
    journal.reset();
    if (UndoSwitch(a.files)) count = static_cast<uint16_t>(a.total);
    return;
  }
  if (hLastComb && HasNextReadPlace(a.number)) {
    for (uint32_t u = 0; u < NumUsers; ++u) {
      uint16_t v = GetNextRead(hLastComb, uint16_t(u), a.number);
      if (v <= 1) continue;
      uint16_t renumbered = v > a.total ? uint16_t(a.kept + 1) : a.pack[v - 1].NewNumber;
      // A number that stays the same needs no write: the bytes are the same.
      if (renumbered != v) content.nextReads.push_back({uint16_t(u), renumbered});
    }
  }
  int64_t result = Replace(a, journal, content, true);
  if (result < 0) return;
  count = static_cast<uint16_t>(result);
  if (result == a.kept) {
    AppendFastMail(fast);
    WriteSystemLog(StrPrintf("Packed (%5d) %s", int(a.total - a.kept), a.name.c_str()));
  }
}

}  // namespace

void CompressArea(uint16_t area, const MessageRecord &record, int link, int cleanup, uint16_t &count) {
  if (!RecoverArea(area)) return;
  Area a;
  a.number = area;
  a.record = &record;
  a.files = GetAreaFiles(area);
  if (!ExistFile(a.files.header) || !ExistFile(a.files.text)) {
    if (cleanup) {
      // One of the two is missing; the other is a lone file.
      if (!plat::DeleteFileIfPresent(a.files.header)) PrintFileFailure("deleting", a.files.header);
      if (!plat::DeleteFileIfPresent(a.files.text)) PrintFileFailure("deleting", a.files.text);
    }
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
  a.total = static_cast<uint32_t>(records);
  try {
    a.links.resize(a.total);
    a.pack.resize(a.total);
  } catch (const std::bad_alloc &) {
    ReportFailure("Error allocation memory\n", "Error allocation memory packing " + a.files.header);
    return;
  }
  a.headerFile = plat::OpenFile(a.files.header, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary);
  if (!a.headerFile) {
    PrintFileFailure("opening", a.files.header);
    std::printf("\n");
    return;
  }
  try {
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
