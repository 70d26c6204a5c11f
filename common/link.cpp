#include "link.h"

#include <algorithm>

#include "crc32.h"
#include "msgbase.h"
#include "text.h"

uint32_t SubjectKey(const uint8_t (&subject)[73]) {
  size_t length = std::min<size_t>(subject[0], 72);
  size_t start = 1;
  if (length >= 3 && UpperByte(subject[1]) == 'R' && UpperByte(subject[2]) == 'E' && subject[3] == ':') {
    start = 4;
    length -= 3;
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t k = start; k < start + length && subject[k] != 0; ++k) crc = UpdateCRC32(UpperByte(subject[k]), crc);
  return crc;
}

// The successor of entry i is the first later entry with i's key that is not
// excluded and answers nothing yet.  Entries of different keys never affect
// each other, so each key is handled on its own: its entries in ascending
// order, with one cursor over them.  Everything the cursor passes stays
// unusable for every later predecessor of that key (it lies before the
// predecessor, is excluded, or answers a message already), so the cursor
// only moves forward and each key costs time linear in its entries.
int LinkPass(std::vector<LinkEntry> &entries) {
  // Message numbers are 16 bits wide; a longer table cannot be linked.
  if (entries.size() > kMaxMessages) return 0;

  // Excluded entries can neither link nor be linked, so they are left out.
  std::vector<uint16_t> order;
  order.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].Excluded) order.push_back(static_cast<uint16_t>(i));
  auto byKeyThenNumber = [&entries](uint16_t a, uint16_t b) {
    uint32_t ka = entries[a].SubjectKey, kb = entries[b].SubjectKey;
    return ka != kb ? ka < kb : a < b;
  };
  // An area of one subject (or of subjects already in key order) needs no sort.
  if (!std::is_sorted(order.begin(), order.end(), byKeyThenNumber))
    std::sort(order.begin(), order.end(), byKeyThenNumber);

  int linked = 0;
  size_t groupStart = 0;
  while (groupStart < order.size()) {
    uint32_t key = entries[order[groupStart]].SubjectKey;
    size_t groupEnd = groupStart + 1;
    while (groupEnd < order.size() && entries[order[groupEnd]].SubjectKey == key) ++groupEnd;

    size_t cursor = groupStart;
    for (size_t p = groupStart; p < groupEnd; ++p) {
      LinkEntry &from = entries[order[p]];
      if (from.NextReply != 0) continue;
      if (cursor <= p) cursor = p + 1;
      while (cursor < groupEnd && entries[order[cursor]].ReplyTo != 0) ++cursor;
      if (cursor == groupEnd) break;  // no later candidate is left for any predecessor of this key
      uint16_t j = order[cursor++];
      from.NextReply = static_cast<uint16_t>(j + 1);
      entries[j].ReplyTo = static_cast<uint16_t>(order[p] + 1);
      linked = 1;
    }
    groupStart = groupEnd;
  }
  return linked;
}
