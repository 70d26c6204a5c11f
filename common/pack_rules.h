// What packing removes from an area, decided the same way wherever it is
// asked: by sorrel when it packs, by the checker when it reports what a pack
// would remove.
#pragma once

#include <cstdint>

#include "msgbase.h"

// Why a message goes, in the order packing applies the causes: a message
// counts under the first cause that removes it.
enum PackCause : uint8_t {
  kKeep = 0,
  kRemoveCorrupt,   // a count byte beyond its field
  kRemoveDeleted,   // marked deleted
  kRemoveAge,       // written longer ago than the area keeps messages
  kRemoveReceipt,   // received longer ago than the area keeps received ones
  kRemoveCount,     // oldest beyond the area's message count limit
  kRemoveSize,      // oldest beyond the area's size limit
};
inline constexpr int kPackCauses = 7;

// The limits of one area as packing applies them today.  With deletion
// disabled (-DISABLEDEL) only corrupt and deleted messages go.
struct PackRules {
  bool doDelete = true;
  bool age = false;
  uint32_t ageLimit = 0;  // seconds since 1970: written before it goes
  bool receipt = false;
  uint32_t receiptLimit = 0;
  uint16_t maxMsgs = 0;       // 0: no count limit
  uint16_t maxKilobytes = 0;  // 0: no size limit
};
PackRules GetPackRules(const MessageRecord &record, int doDelete);

// Bytes a message takes in the area's files: its header and its text.
inline int64_t MessageBytes(int32_t textLength) { return int64_t(textLength) + int64_t(sizeof(MessageHeader)); }

// The cause that the header alone decides (corrupt, deleted, age, receipt),
// or kKeep.  `exempt` tells whether a kept message is beyond the count and
// size limits' reach.
PackCause HeaderCause(const MessageHeader &h, const PackRules &rules, bool &exempt);

// A message's state between the header causes and the limits.
enum PackState : uint8_t { kStateKept = 0, kStateExempt = 1, kStateRemoved = 2 };

// The count and size limits, oldest messages first: messages that are still
// kept and not exempt go until the area is within each limit.  `kept` and
// `keptBytes` (from MessageBytes) are those of the messages kept so far and
// are brought up to date.  `state(i)` is message i's PackState, `bytes(i)`
// its MessageBytes; `remove(i, cause)` is called for each message the limits
// take (its state is already kStateRemoved).
// Returns whether the area was over a limit: packing then rewrites the area
// even when only exempt messages were left to take.
template <typename State, typename Bytes, typename Remove>
bool ApplyCountAndSizeLimits(uint32_t total, const PackRules &rules, uint32_t &kept, int64_t &keptBytes, State state,
                             Bytes bytes, Remove remove) {
  if (!rules.doDelete) return false;
  bool over = false;
  auto removeOldest = [&](PackCause cause, auto beyond) {
    over = true;
    for (uint32_t i = 0; i < total && beyond(); ++i) {
      if (state(i) != kStateKept) continue;
      state(i) = kStateRemoved;
      --kept;
      keptBytes -= bytes(i);
      remove(i, cause);
    }
  };
  if (rules.maxMsgs > 0 && kept > rules.maxMsgs) removeOldest(kRemoveCount, [&] { return kept > rules.maxMsgs; });
  if (rules.maxKilobytes > 0 && keptBytes / 1024 > rules.maxKilobytes)
    removeOldest(kRemoveSize, [&] { return keptBytes / 1024 > rules.maxKilobytes; });
  return over;
}
