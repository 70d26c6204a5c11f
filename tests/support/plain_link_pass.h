// The link scan as the board's linker describes it, kept plain and
// quadratic: the reference the fast pass is compared with by the tests and
// timed against by the link benchmark.
#pragma once

#include <cstdint>
#include <vector>

#include "link.h"

inline int PlainLinkPass(std::vector<LinkEntry> &e) {
  int linked = 0;
  size_t count = e.size();
  for (size_t i = 0; i + 1 < count; ++i) {
    if (e[i].Excluded || e[i].NextReply != 0) continue;
    for (size_t j = i + 1; j < count && e[i].NextReply == 0; ++j) {
      if (!e[j].Excluded && e[j].ReplyTo == 0 && e[j].SubjectKey == e[i].SubjectKey) {
        e[i].NextReply = static_cast<uint16_t>(j + 1);
        e[j].ReplyTo = static_cast<uint16_t>(i + 1);
        linked = 1;
      }
    }
  }
  return linked;
}
