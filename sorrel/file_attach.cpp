// Files attached to messages: erased with their deleted message, and the
// per-message directories of the attach directory removed once empty.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
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
    std::string drive, dir;
    size_t pos = 0;
    if (word.size() >= 2 && word[1] == ':') {
      drive = word.substr(0, 2);
      pos = 2;
    }
    size_t lastSep = word.find_last_of('\\');
    if (lastSep != std::string::npos && lastSep >= pos) dir = word.substr(pos, lastSep + 1 - pos);
    bool hasDir = !dir.empty();
    RemoveBackslash(dir);
    // A word in the root ("C:\X.ZIP") keeps its backslash: "C:X.ZIP" would be
    // the drive's current directory instead.
    std::string prefix = drive + dir + (hasDir ? "\\" : "");
    bool deleted = false;
    for (const std::string &name : MatchingFiles(word, plat::FindFiles)) {
      int result = plat::DeleteFileIfPresent(prefix + name);
      if (result == 1) {
        deleted = true;
      } else if (result == 0) {
        std::printf("%s deleting %s\n", std::strerror(errno), (prefix + name).c_str());
        ok = false;
      }
    }
    if (deleted) plat::SyncDirectory(prefix);
    // Only words inside a configured attach directory take their directory
    // with them; without one no directory is ever removed.
    if (!attach.empty() && word.find(attach) != std::string::npos && plat::RemoveDirectory(drive + dir)) {
      std::string parent = drive + dir;
      size_t cut = parent.find_last_of('\\');
      plat::SyncDirectory(cut == std::string::npos ? drive : parent.substr(0, cut + 1));
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
