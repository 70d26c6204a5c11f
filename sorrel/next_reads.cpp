#include "next_reads.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "msgbase.h"
#include "platform.h"
#include "startup.h"

namespace {

// The most bytes read in one piece.
constexpr int64_t kPiece = 1 << 20;
// Two changes further apart than this are read in separate pieces.
constexpr int64_t kLargestGap = 8192;

constexpr int64_t kBlockBytes = sizeof(NextReadBlock);

// Reads `size` bytes at `offset`; what lies beyond the end of the file reads
// as zeros.  Returns 1, or 0 with errno set.
int ReadPiece(FILE *f, int64_t offset, uint8_t *into, size_t size) {
  std::memset(into, 0, size);
  if (offset > LONG_MAX) return 1;
  if (std::fseek(f, long(offset), SEEK_SET) != 0) return 0;
  std::fread(into, 1, size, f);
  if (std::ferror(f)) {
    std::clearerr(f);
    if (errno == 0) errno = EIO;
    return 0;
  }
  std::clearerr(f);
  return 1;
}

uint16_t At(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

int ReadNextReads(FILE *lastComb, const std::vector<uint16_t> &areas, uint32_t users, std::vector<uint16_t> &values) {
  values.assign(size_t(users) * areas.size(), 0);
  if (users == 0 || areas.empty()) return 1;
  // Where each area's number lies within a user's record.
  int64_t record = NextReadRecordBytes();
  std::vector<int64_t> within(areas.size(), -1);
  int64_t lo = INT64_MAX, hi = -1;
  for (size_t i = 0; i < areas.size(); ++i) {
    int64_t at = NextReadOffset(0, areas[i]);
    if (at < 0) continue;
    within[i] = at;
    lo = std::min(lo, at);
    hi = std::max(hi, at + 2);
  }
  if (hi < 0 || record <= 0) return 1;
  // Several whole records in one piece where the areas' numbers take much of
  // a record, or where the bytes between one user's numbers and the next's
  // cost less to read than a call per user; otherwise the part of each
  // record that holds them.
  int64_t span = hi - lo;
  bool whole = span * 8 >= record || record - span <= kLargestGap;
  uint32_t perPiece = whole ? uint32_t(std::max<int64_t>(1, kPiece / record)) : 1;
  std::vector<uint8_t> piece;
  for (uint32_t u = 0; u < users; u += perPiece) {
    uint32_t n = std::min(perPiece, users - u);
    int64_t first = int64_t(u) * record + lo;
    size_t size = size_t(int64_t(n - 1) * record + span);
    piece.resize(size);
    if (!ReadPiece(lastComb, first, piece.data(), size)) return 0;
    for (uint32_t k = 0; k < n; ++k) {
      uint16_t *row = values.data() + size_t(u + k) * areas.size();
      for (size_t i = 0; i < areas.size(); ++i)
        if (within[i] >= 0) row[i] = At(piece.data() + int64_t(k) * record + within[i] - lo);
    }
  }
  return 1;
}

int WriteNextReads(FILE *lastComb, std::vector<NextReadWrite> &changes) {
  auto byOffset = [](const NextReadWrite &a, const NextReadWrite &b) { return a.offset < b.offset; };
  if (!std::is_sorted(changes.begin(), changes.end(), byOffset)) std::sort(changes.begin(), changes.end(), byOffset);
  std::vector<uint8_t> piece;
  std::vector<bool> changed;
  std::vector<plat::PlacedBytes> runs;
  for (size_t i = 0; i < changes.size();) {
    // The changes of one piece.
    int64_t first = changes[i].offset;
    size_t j = i + 1;
    while (j < changes.size() && changes[j].offset + 2 - first <= kPiece &&
           changes[j].offset - changes[j - 1].offset <= kLargestGap)
      ++j;
    int64_t end = changes[j - 1].offset + 2;
    piece.resize(size_t(end - first));
    if (!ReadPiece(lastComb, first, piece.data(), piece.size())) return 0;
    changed.assign(j - i, false);
    for (size_t k = i; k < j; ++k) {
      uint8_t *p = piece.data() + (changes[k].offset - first);
      if (At(p) != changes[k].old) continue;
      p[0] = static_cast<uint8_t>(changes[k].value & 0xFF);
      p[1] = static_cast<uint8_t>(changes[k].value >> 8);
      changed[k - i] = true;
    }
    // Runs of changed numbers: side by side, or either side of a block's
    // reserved bytes; all the runs of a piece in one scattered write.
    runs.clear();
    for (size_t k = i; k < j;) {
      if (!changed[k - i]) {
        ++k;
        continue;
      }
      size_t last = k;
      while (last + 1 < j && changed[last + 1 - i]) {
        int64_t gap = changes[last + 1].offset - changes[last].offset;
        if (gap != 2 && !(gap == 4 && changes[last + 1].offset % kBlockBytes == 2)) break;
        ++last;
      }
      int64_t from = changes[k].offset, to = changes[last].offset + 2;
      runs.push_back({from, piece.data() + (from - first), size_t(to - from)});
      k = last + 1;
    }
    if (!plat::WriteScattered(lastComb, runs.data(), runs.size())) return 0;
    i = j;
  }
  return 1;
}
