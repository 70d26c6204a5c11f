// Reply linking by subject: the subject key and the link pass that both the
// linker and message packing run over an area's link table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#pragma pack(push, 1)
// One entry per header record of the area, entry i for message i + 1.
struct LinkEntry {
  uint32_t SubjectKey;
  uint16_t ReplyTo;    // after the range check
  uint16_t NextReply;  // after the range check
  uint8_t Excluded;    // may neither receive a NextReply nor become anybody's reply
};
#pragma pack(pop)
static_assert(sizeof(LinkEntry) == 9);

// Key of a length-prefixed Subject field of 73 bytes: CRC register from
// 0xFFFFFFFF over the upper-cased text after one leading "RE:", up to its
// first zero byte; a length byte above 72 is taken as 72.
uint32_t SubjectKey(const uint8_t (&subject)[73]);

// Joins every open chain end to the first later entry with the same key that
// is not excluded and answers nothing yet, for ascending i.  Returns 1 when
// anything was linked.  Runs in time close to linear in the entries, with
// two bytes of working storage per entry.  A table of more than 65,535
// entries cannot be numbered in 16 bits: it is left unchanged (result 0).
int LinkPass(std::vector<LinkEntry> &entries);
