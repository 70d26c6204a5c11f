// The message base: for every area in use one line of figures with what a
// pack would remove, then the problems of its headers, texts, reply links,
// message count, next-read numbers and packing files; MSGFAST.BBS last.
//
// The figures come from the scan and limits that packing applies
// (pack_rules.h), so they are what the next sorrel run removes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "area_files.h"
#include "files.h"
#include "msgbase.h"
#include "pack_rules.h"
#include "platform.h"
#include "startup.h"
#include "text.h"
#include "vlmcheck.h"

namespace {

struct Slot {
  MessageRecord record{};
  bool inUse = false;
  int64_t headerSize = -1;  // -1: no such file
  int64_t textSize = -1;
  uint32_t count = 0;  // messages of the area's files: 0 unless both exist
  // Next-read numbers beyond count + 1: how many, and the first one.
  uint32_t beyond = 0;
  uint16_t firstUser = 0;
  uint16_t firstValue = 0;
};

// What the checks need of one header.
struct Message {
  uint32_t textStart = 0;
  int32_t textLength = 0;
  uint16_t replyTo = 0;
  uint16_t nextReply = 0;
  uint8_t state = kStateKept;  // PackState
  bool corrupt = false;
};

const char *const kCauseNames[kPackCauses] = {"", "corrupt", "deleted", "age", "receipt", "count limit", "size limit"};

std::string FileName(const std::string &path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AreaName(const MessageRecord &r) {
  std::string name;
  PasToC(r.AreaName, name);
  Trim(name);
  return Printable(name);
}

// MESSAGES.VLM, one slot per area up to MaxMsgAreas, with the sizes of each
// slot's files.  Returns 0 when it could not be read (reported).
int ReadSlots(std::vector<Slot> &slots) {
  std::string name = SystemPath + "MESSAGES.VLM", bytes;
  int result = ReadBoardFile(name, bytes, size_t(Constant.MaxMsgAreas) * sizeof(MessageRecord));
  if (result == kFileMissing) {
    errno = ENOENT;
    ReportUnreadable("opening", name);
  }
  if (result != 1) return 0;
  slots.assign(Constant.MaxMsgAreas, Slot{});
  size_t records = bytes.size() / sizeof(MessageRecord);
  for (size_t i = 0; i < slots.size(); ++i) {
    Slot &s = slots[i];
    if (i < records) {
      std::memcpy(&s.record, bytes.data() + i * sizeof(MessageRecord), sizeof(MessageRecord));
      s.inUse = MessageAreaInUse(s.record) != 0;
    }
    std::string header, text;
    s.headerSize = FileSize64(GetMsgAreaPath(uint16_t(i + 1), header, kHeaderFile));
    s.textSize = FileSize64(GetMsgAreaPath(uint16_t(i + 1), text, kTextFile));
    if (s.headerSize >= 0 && s.textSize >= 0) s.count = static_cast<uint32_t>(s.headerSize / int64_t(sizeof(MessageHeader)));
  }
  return 1;
}

// Every user's next-read number of each selected area in use, against the
// area's count + 1.
void ReadNextReads(std::vector<Slot> &slots, uint16_t onlyArea) {
  std::string name = LastCombName();
  plat::UniqueFile lastComb(plat::OpenFile(name, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!lastComb) {
    // Without it sorrel packs no area at all.
    ReportUnreadable("opening", name);
    return;
  }
  plat::SetStreamBuffer(lastComb.get(), 65536);
  int64_t usersSize = FileSize64(UserBasePath + "USERS.BBS");
  int64_t users = usersSize > 0 ? std::min<int64_t>(usersSize / int64_t(sizeof(UserRecord)), 65535) : 0;
  for (int64_t u = 0; u < users; ++u) {
    for (size_t i = 0; i < slots.size(); ++i) {
      uint16_t area = static_cast<uint16_t>(i + 1);
      Slot &s = slots[i];
      if (!s.inUse || (onlyArea && area != onlyArea) || !HasNextReadPlace(area)) continue;
      uint16_t value = GetNextRead(lastComb.get(), uint16_t(u), area);
      if (value <= int64_t(s.count) + 1) continue;
      if (s.beyond++ == 0) {
        s.firstUser = static_cast<uint16_t>(u);
        s.firstValue = value;
      }
    }
  }
  if (std::ferror(lastComb.get())) ReportUnreadable("reading", name);
}

// MSGCOUNT.BBS, one count per area; empty when the board has none.
std::vector<uint16_t> ReadMsgCount() {
  std::string bytes;
  std::vector<uint16_t> counts;
  if (ReadBoardFile(MsgPath + "MSGCOUNT.BBS", bytes) != 1) return counts;
  counts.resize(bytes.size() / 2);
  std::memcpy(counts.data(), bytes.data(), counts.size() * 2);
  return counts;
}

std::string Removal(const uint32_t (&removedBy)[kPackCauses], int64_t reclaimed, int doDelete) {
  std::string text = doDelete ? "a pack would remove " : "a pack with -DISABLEDEL would remove ";
  uint32_t removed = 0;
  std::string causes;
  for (int c = kRemoveCorrupt; c < kPackCauses; ++c) {
    if (!removedBy[c]) continue;
    removed += removedBy[c];
    causes += StrPrintf("%s%s %u", causes.empty() ? "" : ", ", kCauseNames[c], unsigned(removedBy[c]));
  }
  if (!removed) return text + "nothing";
  return text + StrPrintf("%u (%s), %lld bytes", unsigned(removed), causes.c_str(), static_cast<long long>(reclaimed));
}

const char *CorruptField(const MessageHeader &h, unsigned &count, unsigned &room) {
  if (h.WhoTo[0] > kMaxWhoLength) {
    count = h.WhoTo[0], room = kMaxWhoLength;
    return "WhoTo";
  }
  if (h.WhoFrom[0] > kMaxWhoLength) {
    count = h.WhoFrom[0], room = kMaxWhoLength;
    return "WhoFrom";
  }
  count = h.Subject[0], room = kMaxSubjectLength;
  return "Subject";
}

// Texts outside the text file or overlapping another one.
void CheckTexts(uint16_t area, const std::vector<Message> &msgs, int64_t textSize, ProblemLines &lines) {
  std::vector<uint32_t> order;
  for (uint32_t i = 0; i < msgs.size(); ++i) {
    const Message &m = msgs[i];
    if (m.corrupt) continue;
    if (m.textLength < 0) {
      lines.Add(StrPrintf("area %u message %u: text length %d", unsigned(area), unsigned(i + 1), int(m.textLength)));
      continue;
    }
    if (m.textLength == 0) continue;
    if (int64_t(m.textStart) + m.textLength > textSize)
      lines.Add(StrPrintf("area %u message %u: text at %u, %d bytes, beyond the end of the text file (%lld bytes)",
                          unsigned(area), unsigned(i + 1), unsigned(m.textStart), int(m.textLength),
                          static_cast<long long>(textSize)));
    order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return msgs[a].textStart < msgs[b].textStart; });
  int64_t reach = 0;  // the furthest end of the texts so far
  uint32_t owner = 0;
  for (uint32_t i : order) {
    const Message &m = msgs[i];
    int64_t end = int64_t(m.textStart) + m.textLength;
    if (m.textStart < reach)
      lines.Add(StrPrintf("area %u message %u: text at %u, %d bytes, overlaps the text of message %u", unsigned(area),
                          unsigned(i + 1), unsigned(m.textStart), int(m.textLength), unsigned(owner + 1)));
    if (end > reach) {
      reach = end;
      owner = i;
    }
  }
}

// Reply links beyond the area's messages, and links the other message does
// not return.
void CheckLinks(uint16_t area, const std::vector<Message> &msgs, ProblemLines &lines) {
  const uint32_t n = static_cast<uint32_t>(msgs.size());
  for (uint32_t i = 0; i < n; ++i) {
    const Message &m = msgs[i];
    if (m.corrupt) continue;
    unsigned number = i + 1;
    if (m.replyTo > n)
      lines.Add(StrPrintf("area %u message %u: ReplyTo %u beyond the area's %u messages", unsigned(area), number,
                          unsigned(m.replyTo), unsigned(n)));
    else if (m.replyTo && msgs[m.replyTo - 1].nextReply != number)
      lines.Add(StrPrintf("area %u message %u: ReplyTo %u, but message %u has NextReply %u", unsigned(area), number,
                          unsigned(m.replyTo), unsigned(m.replyTo), unsigned(msgs[m.replyTo - 1].nextReply)));
    if (m.nextReply > n)
      lines.Add(StrPrintf("area %u message %u: NextReply %u beyond the area's %u messages", unsigned(area), number,
                          unsigned(m.nextReply), unsigned(n)));
    else if (m.nextReply && msgs[m.nextReply - 1].replyTo != number)
      lines.Add(StrPrintf("area %u message %u: NextReply %u, but message %u has ReplyTo %u", unsigned(area), number,
                          unsigned(m.nextReply), unsigned(m.nextReply), unsigned(msgs[m.nextReply - 1].replyTo)));
  }
}

// The figures and header problems of an area in use.
void CheckAreaMessages(uint16_t area, const Slot &slot, int doDelete) {
  AreaFiles files = GetAreaFiles(area);
  std::string title = StrPrintf("%5u %s", unsigned(area), AreaName(slot.record).c_str());
  ++Totals.areas;
  if (slot.headerSize < 0 || slot.textSize < 0) {
    std::printf("%s: no messages\n", title.c_str());
    // sorrel passes such an area over, and with -CLEANUP deletes the other file.
    if (slot.headerSize >= int64_t(sizeof(MessageHeader)))
      ReportProblem(StrPrintf("area %u: %s holds %lld headers, but %s is missing", unsigned(area),
                              files.header.c_str(), static_cast<long long>(slot.headerSize / 186),
                              FileName(files.text).c_str()));
    else if (slot.textSize > 0)
      ReportProblem(StrPrintf("area %u: %s holds %lld bytes of text, but %s is missing", unsigned(area),
                              files.text.c_str(), static_cast<long long>(slot.textSize),
                              FileName(files.header).c_str()));
    return;
  }
  if (slot.count > kMaxMessages) {
    std::printf("%s: %u messages\n", title.c_str(), unsigned(slot.count));
    Totals.messages += slot.count;
    ReportProblem(StrPrintf("area %u: more than %u messages, which cannot be numbered: no pack touches it",
                            unsigned(area), unsigned(kMaxMessages)));
    return;
  }
  std::string bytes;
  if (slot.count > 0) {
    int read = ReadBoardFile(files.header, bytes, size_t(slot.count) * sizeof(MessageHeader));
    if (read != 1) {
      if (read == kFileMissing) {
        // Gone since its size was taken.
        errno = ENOENT;
        ReportUnreadable("opening", files.header);
      }
      std::printf("%s: cannot be read\n", title.c_str());
      return;
    }
  }

  // The scan and the limits, as packing applies them.
  const uint32_t total = static_cast<uint32_t>(bytes.size() / sizeof(MessageHeader));
  std::vector<Message> msgs(total);
  PackRules rules = GetPackRules(slot.record, doDelete);
  uint32_t kept = 0, deleted = 0;
  int64_t keptBytes = 0, reclaimed = 0;
  uint32_t removedBy[kPackCauses] = {};
  auto header = [&](uint32_t i) {
    MessageHeader h;
    std::memcpy(&h, bytes.data() + size_t(i) * sizeof h, sizeof h);
    return h;
  };
  for (uint32_t i = 0; i < total; ++i) {
    MessageHeader h = header(i);
    Message &m = msgs[i];
    PackCause cause;
    m.state = ScanHeader(h, rules, kept, keptBytes, cause);
    m.textStart = h.TextStart;
    m.textLength = h.TextLength;
    m.replyTo = h.ReplyTo;
    m.nextReply = h.NextReply;
    m.corrupt = cause == kRemoveCorrupt;
    if (h.Attribute & kMsgDeleted) ++deleted;
    if (cause != kKeep) {
      ++removedBy[cause];
      reclaimed += MessageBytes(h.TextLength);
    }
  }
  auto state = [&](uint32_t i) -> uint8_t & { return msgs[i].state; };
  auto messageBytes = [&](uint32_t i) { return MessageBytes(msgs[i].textLength); };
  ApplyCountAndSizeLimits(total, rules, kept, keptBytes, state, messageBytes, [&](uint32_t i, PackCause cause) {
    ++removedBy[cause];
    reclaimed += messageBytes(i);
  });
  Totals.messages += total;
  Totals.removed += total - kept;
  Totals.reclaimed += reclaimed;
  std::printf("%s: %u messages, %u deleted, %lld bytes of text; %s\n", title.c_str(), unsigned(total),
              unsigned(deleted), static_cast<long long>(slot.textSize), Removal(removedBy, reclaimed, doDelete).c_str());

  std::string where = StrPrintf("area %u", unsigned(area));
  ProblemLines lines;
  for (uint32_t i = 0; i < total; ++i) {
    if (!msgs[i].corrupt) continue;
    MessageHeader h = header(i);
    unsigned count, room;
    const char *field = CorruptField(h, count, room);
    lines.Add(StrPrintf("area %u message %u: corrupt header, %s count %u beyond its %u characters", unsigned(area),
                        unsigned(i + 1), field, count, room));
  }
  lines.Finish(where, "corrupt headers");
  CheckTexts(area, msgs, slot.textSize, lines);
  lines.Finish(where, "texts outside the text file or overlapping");
  CheckLinks(area, msgs, lines);
  lines.Finish(where, "reply links out of range or one-sided");
}

// What any slot, in use or not, may show: a count above its messages,
// next-read numbers beyond them, files a packing left behind.
void CheckSlot(uint16_t area, const Slot &slot, const std::vector<uint16_t> &counts) {
  if (area <= counts.size() && counts[area - 1] > slot.count)
    ReportProblem(StrPrintf("area %u: MSGCOUNT.BBS counts %u messages, the area has %u: messages gone since the last "
                            "maintenance run",
                            unsigned(area), unsigned(counts[area - 1]), unsigned(slot.count)));
  if (slot.beyond)
    ReportProblem(StrPrintf("area %u: next-read numbers of %u user%s beyond %u, the area's count + 1 (user %u: %u)",
                            unsigned(area), unsigned(slot.beyond), slot.beyond == 1 ? "" : "s",
                            unsigned(slot.count + 1), unsigned(slot.firstUser) + 1, unsigned(slot.firstValue)));
  AreaFiles files = GetAreaFiles(area);
  for (const std::string *name : {&files.journal, &files.committed, &files.newHeader, &files.newText,
                                  &files.oldHeader, &files.oldText, &files.movedText})
    if (ExistFile(*name)) ReportProblem(StrPrintf("area %u: %s left by a packing", unsigned(area), name->c_str()));
}

// Records of MSGFAST.BBS that name no message: an area that is not in use
// or a number beyond the area's messages.
void CheckMsgFast(const std::vector<Slot> &slots, uint16_t onlyArea) {
  std::string name = MsgPath + "MSGFAST.BBS", bytes;
  int read = ReadBoardFile(name, bytes);
  if (read == kFileMissing) std::printf("MSGFAST.BBS: none\n");
  if (read != 1) return;
  struct Stray {
    uint32_t records = 0;
    uint32_t first = 0;
    uint16_t message = 0;
  };
  std::map<uint16_t, Stray> strays;
  size_t records = bytes.size() / sizeof(MsgFastRecord), selected = 0;
  for (size_t k = 0; k < records; ++k) {
    MsgFastRecord r;
    std::memcpy(&r, bytes.data() + k * sizeof r, sizeof r);
    if (onlyArea && r.Area != onlyArea) continue;
    ++selected;
    bool known = r.Area >= 1 && r.Area <= slots.size() && slots[r.Area - 1].inUse;
    if (known && r.Message >= 1 && r.Message <= slots[r.Area - 1].count) continue;
    Stray &s = strays[r.Area];
    if (s.records++ == 0) {
      s.first = static_cast<uint32_t>(k + 1);
      s.message = r.Message;
    }
  }
  if (onlyArea)
    std::printf("MSGFAST.BBS: %zu record%s of area %u\n", selected, selected == 1 ? "" : "s", unsigned(onlyArea));
  else
    std::printf("MSGFAST.BBS: %zu record%s\n", records, records == 1 ? "" : "s");
  for (const auto &[area, s] : strays) {
    std::string why = area >= 1 && area <= slots.size() && slots[area - 1].inUse
                          ? StrPrintf("the area has %u messages", unsigned(slots[area - 1].count))
                          : std::string("no such area in use");
    ReportProblem(StrPrintf("MSGFAST.BBS: %u record%s of area %u point%s at no message (record %u: message %u, %s)",
                            unsigned(s.records), s.records == 1 ? "" : "s", unsigned(area), s.records == 1 ? "s" : "",
                            unsigned(s.first), unsigned(s.message), why.c_str()));
  }
}

}  // namespace

void CheckMessageBase(uint16_t onlyArea, int doDelete) {
  std::vector<Slot> slots;
  if (!ReadSlots(slots)) return;
  ReadNextReads(slots, onlyArea);
  std::vector<uint16_t> counts = ReadMsgCount();
  std::printf("Message areas\n");
  for (size_t i = 0; i < slots.size(); ++i) {
    uint16_t area = static_cast<uint16_t>(i + 1);
    if (onlyArea && area != onlyArea) continue;
    if (slots[i].inUse)
      CheckAreaMessages(area, slots[i], doDelete);
    else if (onlyArea)
      std::printf("%5u is not in use\n", unsigned(area));
    CheckSlot(area, slots[i], counts);
  }
  CheckMsgFast(slots, onlyArea);
}
