// A second process for the lock tests: holds a byte-range lock on a file for
// a number of seconds, the way a board node holds a record it is changing.
//
//   lock_holder <file> <offset> <length> <seconds> <ready-file>
//
// The ready file is created once the lock is held, so a test knows when to
// start the program that has to wait for it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform.h"

int main(int argc, char **argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: lock_holder <file> <offset> <length> <seconds> <ready-file>\n");
    return 2;
  }
  plat::UniqueFile file(plat::OpenFile(argv[1], plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  if (!file) return 1;
  if (!plat::LockRange(file.get(), std::atoll(argv[2]), std::atoll(argv[3]))) return 1;
  plat::UniqueFile ready(plat::OpenFile(argv[5], plat::Access::Write, plat::Share::DenyNone, plat::Mode::Binary));
  if (!ready || !plat::CloseFile(ready.release())) return 1;
  plat::SleepSeconds(static_cast<unsigned>(std::atoi(argv[4])));
  return 0;
}
