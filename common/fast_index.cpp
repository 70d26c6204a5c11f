#include "fast_index.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr int kCountEntry = 729;
constexpr int kAboveZEntry = 728;

// Where a name belongs in the table: a slot 0-728, or -1 for names that
// begin below the letter A (bytes 128-255 count as below, read signed).
int PointerSlot(const FastIndexRecord &record) {
  int c1 = static_cast<signed char>(record.Name[0]);
  if (c1 > 'Z') return kAboveZEntry;
  if (c1 < 'A') return -1;
  int c2 = static_cast<signed char>(record.Name[1]);
  int second = c2 < 'A' ? 0 : c2 <= 'Z' ? c2 - 64 : 27;
  return 28 * (c1 - 'A') + second;
}

}  // namespace

void ComputeIndexPointers(const FastIndexRecord *records, long count, int32_t (&table)[kIndexPointerCount]) {
  std::fill(std::begin(table), std::end(table), -1);
  for (long i = 0; i < count; ++i) {
    int slot = PointerSlot(records[i]);
    // Records come in index order: the first one seen is the slot's smallest.
    if (slot >= 0 && table[slot] == -1) table[slot] = static_cast<int32_t>(i);
  }
  table[kCountEntry] = static_cast<int32_t>(count);
}
