// Files written anew for a test (a state built from a record, a snapshot
// written back) are other files than the ones a journal names.  These
// helpers rewrite the identities a journal holds to those of the files that
// now stand for them, keeping its checksums valid.
#pragma once

#include <cstring>
#include <functional>
#include <string>

#include "crc32.h"
#include "pack_journal.h"

namespace st {

inline uint32_t JournalCrc(const char *p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) crc = UpdateCRC32(uint8_t(p[i]), crc);
  return crc;
}

// The journal's bytes with its record of the files and, once it is
// complete, its head passed through the given changes, its checksums kept
// valid; a part whose checksum is already wrong (a journal cut short) is
// left as it is.
inline std::string RewriteJournal(std::string j, const std::function<void(JournalFiles &)> &changeFiles,
                                  const std::function<void(PackJournalHead &)> &changeHead) {
  constexpr size_t kFilesAt = sizeof kJournalSignature + sizeof(JournalProgress);
  constexpr size_t kBodyAt = kFilesAt + sizeof(JournalFiles);
  if (j.size() >= kBodyAt) {
    JournalFiles files;
    std::memcpy(&files, &j[kFilesAt], sizeof files);
    if (JournalCrc(&j[kFilesAt], offsetof(JournalFiles, Sum)) == files.Sum) {
      changeFiles(files);
      std::memcpy(&j[kFilesAt], &files, sizeof files);
      files.Sum = JournalCrc(&j[kFilesAt], offsetof(JournalFiles, Sum));
      std::memcpy(&j[kFilesAt], &files, sizeof files);
    }
  }
  if (j.size() >= kBodyAt + sizeof(PackJournalHead) + 4) {
    size_t body = j.size() - kBodyAt - 4;
    uint32_t stored;
    std::memcpy(&stored, &j[j.size() - 4], 4);
    if (JournalCrc(&j[kBodyAt], body) == stored) {
      PackJournalHead head;
      std::memcpy(&head, &j[kBodyAt], sizeof head);
      changeHead(head);
      std::memcpy(&j[kBodyAt], &head, sizeof head);
      stored = JournalCrc(&j[kBodyAt], body);
      std::memcpy(&j[j.size() - 4], &stored, 4);
    }
  }
  return j;
}

// The journal's bytes with every identity it names passed through `map`.
inline std::string RewriteJournalIdentities(const std::string &j, const std::function<void(JournalFile &)> &map) {
  auto rewrite = [&](JournalFile (&files)[4]) {
    for (JournalFile &file : files)
      if (file.Volume || file.Index) map(file);
  };
  return RewriteJournal(
      j, [&](JournalFiles &files) { rewrite(files.File); }, [&](PackJournalHead &head) { rewrite(head.File); });
}

inline bool IsJournalName(const std::string &path) {
  return path.size() > 4 &&
         (path.compare(path.size() - 4, 4, ".PKJ") == 0 || path.compare(path.size() - 4, 4, ".PKC") == 0);
}

}  // namespace st
