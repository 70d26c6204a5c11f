#include "pack_journal.h"

#include <cerrno>
#include <cstring>

#include "crc32.h"
#include "files.h"
#include "msgbase.h"
#include "run_failure.h"
#include "sorrel.h"
#include "startup.h"
#include "system_log.h"
#include "text.h"

namespace {

std::string WithExtension(std::string path, const char *extension) {
  ForceExtension(path, extension);
  return path;
}

int Rename(const std::string &from, const std::string &to) {
  if (plat::RenameFile(from, to)) return 1;
  ReportFailure(StrPrintf("%s renaming %s to %s\n", std::strerror(errno), from.c_str(), to.c_str()));
  return 0;
}

// Deletes a file when it exists.
int DeleteIfPresent(const std::string &path) {
  if (plat::DeleteFileIfPresent(path)) return 1;
  PrintFileFailure("deleting", path);
  return 0;
}

uint32_t Crc(const uint8_t *bytes, size_t size, uint32_t crc) {
  for (size_t i = 0; i < size; ++i) crc = UpdateCRC32(bytes[i], crc);
  return crc;
}

template <typename T>
void Append(std::vector<uint8_t> &out, const T &value) {
  const uint8_t *p = reinterpret_cast<const uint8_t *>(&value);
  out.insert(out.end(), p, p + sizeof value);
}

// A pending journal is ours when what it holds is our signature or the
// beginning of it (a run stopped before the signature reached the disk).
int JournalIsOurs(const std::string &path) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!f) return 0;
  char head[sizeof kJournalSignature];
  size_t got = std::fread(head, 1, sizeof head, f.get());
  return std::memcmp(head, kJournalSignature, got) == 0 ? 1 : 0;
}


}  // namespace

AreaFiles GetAreaFiles(uint16_t area) {
  AreaFiles f;
  GetMsgAreaPath(area, f.header, kHeaderFile);
  GetMsgAreaPath(area, f.text, kTextFile);
  f.newHeader = WithExtension(f.header, ".NEW");
  f.newText = WithExtension(f.text, ".NEW");
  f.oldHeader = WithExtension(f.header, ".OLD");
  f.oldText = WithExtension(f.text, ".OLD");
  f.journal = WithExtension(f.header, ".PKJ");
  f.committed = WithExtension(f.header, ".PKC");
  return f;
}

void PrintFileFailure(const char *action, const std::string &path) {
  ReportFileFailure(errno, action, path);
}

int DeleteAreaFile(const std::string &path) {
  if (plat::DeleteFile(path)) return 1;
  PrintFileFailure("deleting", path);
  return 0;
}

int BeginJournal(const AreaFiles &files, plat::UniqueFile &journal) {
  journal.reset(plat::OpenFile(files.journal, plat::Access::Write, plat::Share::Exclusive, plat::Mode::Binary));
  if (!journal) {
    PrintFileFailure("creating", files.journal);
    return 0;
  }
  // The signature stays in the stream's buffer until the content follows:
  // an empty journal is recognised as ours just as well.
  if (!plat::WriteBytes(journal.get(), kJournalSignature, sizeof kJournalSignature)) {
    PrintFileFailure("writing", files.journal);
    journal.reset();
    DeleteAreaFile(files.journal);
    return 0;
  }
  return 1;
}

int FinishJournal(const AreaFiles &files, plat::UniqueFile &journal, const PackJournal &content) {
  std::vector<uint8_t> body;
  PackJournalHead head{};
  head.Area = content.area;
  head.OldCount = content.oldCount;
  head.KeptCount = content.keptCount;
  head.NextReads = static_cast<uint32_t>(content.nextReads.size());
  head.Attaches = static_cast<uint32_t>(content.attaches.size());
  body.reserve(sizeof head + content.nextReads.size() * sizeof(NextReadChange) + content.attaches.size() * 73 + 4);
  Append(body, head);
  for (const NextReadChange &c : content.nextReads) Append(body, c);
  for (const auto &subject : content.attaches) body.insert(body.end(), subject.begin(), subject.end());
  Append(body, Crc(body.data(), body.size(), 0xFFFFFFFFu));
  bool ok = plat::WriteBytes(journal.get(), body.data(), body.size()) && plat::FlushFile(journal.get());
  FILE *f = journal.release();
  if (!plat::CloseFile(f)) ok = false;
  if (!ok) PrintFileFailure("writing", files.journal);
  return ok ? 1 : 0;
}

int ReadJournal(const std::string &path, uint16_t area, PackJournal &content) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!f) return 0;
  int64_t length = plat::FileLength(f.get());
  constexpr int64_t kFixed = sizeof kJournalSignature + sizeof(PackJournalHead) + 4;
  // Far more than any area can need: 65535 users and 65535 subjects.
  if (length < kFixed || length > kFixed + 65535 * 4 + 65535 * 73) return 0;
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return 0;
  if (std::memcmp(bytes.data(), kJournalSignature, sizeof kJournalSignature) != 0) return 0;
  const uint8_t *body = bytes.data() + sizeof kJournalSignature;
  size_t bodySize = bytes.size() - sizeof kJournalSignature - 4;
  PackJournalHead head;
  std::memcpy(&head, body, sizeof head);
  if (head.Area != area || head.NextReads > 65535 || head.Attaches > 65535 ||
      sizeof head + size_t(head.NextReads) * 4 + size_t(head.Attaches) * 73 != bodySize)
    return 0;
  uint32_t stored;
  std::memcpy(&stored, body + bodySize, 4);
  if (Crc(body, bodySize, 0xFFFFFFFFu) != stored) return 0;
  content.area = head.Area;
  content.oldCount = head.OldCount;
  content.keptCount = head.KeptCount;
  content.nextReads.resize(head.NextReads);
  const uint8_t *p = body + sizeof head;
  if (head.NextReads) std::memcpy(content.nextReads.data(), p, size_t(head.NextReads) * 4);
  p += size_t(head.NextReads) * 4;
  content.attaches.resize(head.Attaches);
  for (auto &subject : content.attaches) {
    std::memcpy(subject.data(), p, 73);
    p += 73;
  }
  return 1;
}

int UndoSwitch(const AreaFiles &files) {
  // With a .OLD file present, a live file of the same kind can only be the
  // replacement that was already moved in.
  if (ExistFile(files.oldHeader)) {
    if (ExistFile(files.header) && !Rename(files.header, files.newHeader)) return 0;
    if (!Rename(files.oldHeader, files.header)) return 0;
  }
  if (ExistFile(files.oldText)) {
    if (ExistFile(files.text) && !Rename(files.text, files.newText)) return 0;
    if (!Rename(files.oldText, files.text)) return 0;
  }
  if (!DeleteIfPresent(files.newHeader) || !DeleteIfPresent(files.newText)) return 0;
  return DeleteIfPresent(files.journal);
}

int SwitchAreaFiles(const AreaFiles &files, bool withNew) {
  bool ok = Rename(files.header, files.oldHeader) && Rename(files.text, files.oldText) &&
            (!withNew || (Rename(files.newHeader, files.header) && Rename(files.newText, files.text))) &&
            Rename(files.journal, files.committed);
  if (ok) return 1;
  if (!UndoSwitch(files)) ReportFailure(files.journal + " is left for the next run to settle\n");
  return 0;
}

int ApplyCommitted(const AreaFiles &files, const PackJournal &content) {
  if (!content.nextReads.empty()) {
    bool ok = hLastComb != nullptr;
    for (size_t i = 0; ok && i < content.nextReads.size(); ++i)
      ok = PutNextRead(hLastComb, content.nextReads[i].User, content.area, content.nextReads[i].Value) != 0;
    if (ok) ok = plat::FlushFile(hLastComb) != 0;
    if (!ok) {
      if (!hLastComb) errno = EBADF;
      PrintFileFailure("writing", LastCombName());
      return 0;
    }
  }
  // Attachments go only once the next-read numbers are safe, and before the
  // old files that still name them.
  for (const auto &field : content.attaches) {
    std::string subject;
    PasToC(field.data(), field.size(), subject);
    EraseFileAttaches(subject);
  }
  if (!DeleteIfPresent(files.oldHeader) || !DeleteIfPresent(files.oldText)) return 0;
  return DeleteAreaFile(files.committed);
}

int RecoverArea(uint16_t area) {
  AreaFiles files = GetAreaFiles(area);
  if (ExistFile(files.committed)) {
    PackJournal content;
    if (!ReadJournal(files.committed, area, content)) {
      ReportFailure(StrPrintf("%s is damaged: area %u left as it is\n", files.committed.c_str(), unsigned(area)));
      return 0;
    }
    std::string text = "Finishing interrupted packing of " + files.header;
    std::printf("%s\n", text.c_str());
    WriteSystemLog(text);
    if (!ApplyCommitted(files, content)) return 0;
  }
  if (ExistFile(files.journal)) {
    if (!JournalIsOurs(files.journal)) {
      ReportFailure(StrPrintf("%s is not ours: area %u left as it is\n", files.journal.c_str(), unsigned(area)));
      return 0;
    }
    std::string text = "Undoing interrupted packing of " + files.header;
    std::printf("%s\n", text.c_str());
    WriteSystemLog(text);
    return UndoSwitch(files);
  }
  return 1;
}
