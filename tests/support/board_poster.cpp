// A second process that posts into a message area the way the board does,
// for the tests of packing on a live board:
//
//   board_poster <header file> <text file> <first> <count> <pause ms> <seconds> <stop file>
//
// Post n has the subject "post n" and a text that names it; every third one
// is marked deleted, so that each packing run has something to remove.  A
// post appends its text to the text file, then its header to the header file
// with TextStart where the text landed, each file opened by name for its
// append and never created; a refused append is made again a moment later.
// Stops after `count` posts, after `seconds`, or once the stop file exists,
// whichever comes first, and prints how many posts it made.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msgbase.h"
#include "platform.h"
#include "test_support.h"

namespace {

void PutPas(uint8_t *field, const std::string &text) {
  field[0] = static_cast<uint8_t>(text.size());
  std::memcpy(field + 1, text.data(), text.size());
}

// Appends, trying again while the file is missing or refused.
bool Append(const std::string &path, const std::string &bytes, uint64_t &at) {
  for (int attempt = 0; attempt < 5000; ++attempt) {
    if (vt::AppendToFile(path, bytes, at)) return true;
    plat::SleepMilliseconds(1);
  }
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: board_poster <header> <text> <first> <count> <pause ms> <seconds> <stop file>\n");
    return 2;
  }
  long first = std::atol(argv[3]), count = std::atol(argv[4]);
  unsigned pause = static_cast<unsigned>(std::atoi(argv[5]));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[6]));
  long made = 0;
  for (long n = first; n < first + count && std::chrono::steady_clock::now() < deadline && !vt::FileExists(argv[7]);
       ++n) {
    std::string subject = "post " + std::to_string(n);
    std::string text = "text of " + subject + std::string(size_t(n % 7) * 10, '.') + "|";
    uint64_t start = 0, at = 0;
    if (!Append(argv[2], text, start)) return 1;
    MessageHeader h{};
    h.TextStart = static_cast<uint32_t>(start);
    h.TextLength = static_cast<int32_t>(text.size());
    h.Attribute = n % 3 == 0 ? kMsgDeleted : 0;
    h.DateWritten = h.DateReceived = int32_t((50u << 25) | (1u << 21) | (1u << 16));
    PutPas(h.WhoTo, "SYSOP");
    PutPas(h.WhoFrom, "POSTER");
    PutPas(h.Subject, subject);
    if (!Append(argv[1], std::string(reinterpret_cast<const char *>(&h), sizeof h), at)) return 1;
    ++made;
    plat::SleepMilliseconds(pause);
  }
  std::printf("%ld\n", made);
  return 0;
}
