// Files attached to messages: erased with their deleted message, and the
// per-message directories of the attach directory removed once empty.
#include <string>
#include <vector>

#include "platform.h"
#include "run_failure.h"
#include "sorrel.h"
#include "startup.h"
#include "text.h"

namespace {

std::string AttachDirectory() {
  std::string attach;
  PasToC(Config.FileAttachPath, attach);
  return UpperCase(attach);
}

// The names the search finds for a pattern, collected before anything is
// deleted so the enumeration never runs over a directory that changes.
std::vector<std::string> MatchingFiles(const std::string &pattern, unsigned attributes) {
  std::vector<std::string> names;
  plat::DirectorySearch search;
  plat::FoundEntry entry;
  for (int found = search.First(pattern, attributes, entry); found; found = search.Next(entry))
    names.push_back(entry.name);
  return names;
}

// A path with every `/` written as `\`: both separate directories, so a
// word names a place inside the attach directory however either is written.
std::string BackslashForm(std::string path) {
  for (char &c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace

int EraseFileAttaches(std::string &subject) {
  bool ok = true;
  std::string attach = AttachDirectory();
  // The subject is a text: it ends at its first zero byte.
  size_t zero = subject.find('\0');
  if (zero != std::string::npos) subject.resize(zero);
  std::string word;
  while (!subject.empty()) {
    FirstWord(word, subject);
    if (word.empty()) continue;
    UpperCase(word);
    // The word's own separators are kept, so the search and the deletion
    // always name the same directory however the word was written.
    PathParts parts = SplitPath(word);
    std::string prefix = parts.drive + parts.dir;
    bool deleted = false;
    for (const std::string &name : MatchingFiles(word, plat::FindFiles)) {
      int result = plat::DeleteFileIfPresent(prefix + name);
      if (result == 1) deleted = true;
      if (result != 0) continue;
      ReportFileFailure(errno, "deleting", prefix + name);
      ok = false;
    }
    // The deletions are on the disk before the journal that names them goes.
    if (deleted) plat::SyncDirectory(prefix);
    // Only words inside a configured attach directory take their directory
    // with them; without one no directory is ever removed.
    if (!attach.empty() && BackslashForm(word).find(BackslashForm(attach)) != std::string::npos) {
      std::string dir = parts.dir;
      if (!dir.empty()) dir.pop_back();  // its one trailing separator
      if (plat::RemoveDirectory(parts.drive + dir)) plat::SyncDirectory(parts.drive + SplitPath(dir).dir);
    }
  }
  return ok ? 1 : 0;
}

void CleanUpFileAttachPath() {
  std::string attach = AttachDirectory();
  for (const std::string &name : MatchingFiles(attach + "*.*", plat::FindDirectories)) {
    if (name.size() == 8 && name.compare(0, 2, "~@") == 0) plat::RemoveDirectory(attach + name);
  }
}
