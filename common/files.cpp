#include "files.h"

#include "platform.h"

int ExistFile(const std::string &name) {
  plat::DirectorySearch search;
  plat::FoundEntry entry;
  return search.First(name, plat::FindFiles, entry);
}

int32_t FileSize(const std::string &name) {
  int64_t size = FileSize64(name);
  return size < 0 ? -1 : static_cast<int32_t>(size);
}

int64_t FileSize64(const std::string &name) {
  plat::DirectorySearch search;
  plat::FoundEntry entry;
  return search.First(name, plat::FindFiles, entry) ? entry.size : -1;
}

int32_t FileSize(FILE *stream) {
  int64_t n = plat::FileLength(stream);
  return n < 0 ? -1 : static_cast<int32_t>(n);
}
