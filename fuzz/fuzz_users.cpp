// USERS.BBS through the fast mail user table, and LASTCOMB.BBS through the
// next-read numbers: the table sorted and complete, each write landing in
// its own user's slot and nowhere else.
//
// Input sections: 0 control, 1 USERS.BBS, 2 LASTCOMB.BBS.
// Control: bytes 0-1 MaxMsgAreas, byte 2 bit 0 USERS.BBS exists, bit 1
// LASTCOMB.BBS exists; then operations of 6 bytes: user, area, value.
#include <algorithm>
#include <cstring>
#include <string>

#include "msgbase.h"
#include "platform.h"
#include "sorrel.h"
#include "startup.h"
#include "support.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> s = fz::Sections(data, size, 3);
  uint16_t maxAreas = fz::U16(s[0], 0);
  uint8_t flags = fz::Byte(s[0], 2, 3);
  fz::ResetScratch();
  fz::SetBoard(maxAreas, 8, 0);
  fz::MakeBoardDirs();
  if (flags & 1) fz::WriteFile("BBS/USERS/USERS.BBS", s[1]);
  if (flags & 2) fz::WriteFile("BBS/USERS/LASTCOMB.BBS", s[2]);

  // The user key table: every name and alias key, and ALL, sorted as signed
  // numbers; no table at all (every name accepted) without users.
  ClearUserCRC();
  GetUserCRC();
  FZ_CHECK(NumUserCRC == static_cast<int>(UserCRC.size()));
  FZ_CHECK(std::is_sorted(UserCRC.begin(), UserCRC.end()));
  const std::string &users = s[1];
  if (!(flags & 1) || users.empty()) {
    FZ_CHECK(NumUserCRC == 0);
    FZ_CHECK(FindUser(0x12345678) == 1);
  } else {
    size_t count = users.size() / sizeof(UserRecord), expected = 1;
    const uint8_t all[4] = {3, 'a', 'l', 'l'};
    FZ_CHECK(FindUser(static_cast<int32_t>(GetPasStringCRC(all, sizeof all))) == 1);
    for (size_t u = 0; u < count; ++u) {
      UserRecord r;
      std::memcpy(&r, users.data() + u * sizeof r, sizeof r);
      uint32_t name = GetPasStringCRC(r.UserName), alias = GetPasStringCRC(r.UserAlias);
      FZ_CHECK(FindUser(static_cast<int32_t>(name)) == 1);
      FZ_CHECK(FindUser(static_cast<int32_t>(alias)) == 1);
      expected += alias != name ? 2 : 1;
    }
    FZ_CHECK(UserCRC.size() == expected);
  }
  ClearUserCRC();

  if (!(flags & 2)) return 0;
  plat::UniqueFile lastComb(
      plat::OpenFile("C:\\BBS\\USERS\\LASTCOMB.BBS", plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  FZ_CHECK(lastComb != nullptr);
  const int64_t blocks = maxAreas / 16;
  const std::string &ops = s[0];
  for (size_t at = 3; at + 6 <= ops.size() && at < 3 + 6 * 16; at += 6) {
    uint16_t user = fz::U16(ops, at), area = fz::U16(ops, at + 2), value = fz::U16(ops, at + 4);
    bool place = area >= 1 && area <= blocks * 16;
    FZ_CHECK(HasNextReadPlace(area) == (place ? 1 : 0));
    int64_t offset = (int64_t(user) * blocks + (area - 1) / 16) * 34 + ((area - 1) % 16) * 2 + 2;
    // Slots far past the end would only make the fuzzer write sparse files of gigabytes.
    if (place && offset > (1 << 16)) continue;
    std::fflush(lastComb.get());
    std::string before = fz::ReadFile("BBS/USERS/LASTCOMB.BBS");
    int put = PutNextRead(lastComb.get(), user, area, value);
    FZ_CHECK(std::fflush(lastComb.get()) == 0);
    std::string after = fz::ReadFile("BBS/USERS/LASTCOMB.BBS");
    if (!place) {
      FZ_CHECK(put == 0);
      FZ_CHECK(after == before);
      FZ_CHECK(GetNextRead(lastComb.get(), user, area) == 0);
      continue;
    }
    FZ_CHECK(put == 1);
    // The slot lies in the user's own record, past its block's reserved word.
    FZ_CHECK(offset >= int64_t(user) * blocks * 34 && offset + 2 <= int64_t(user + 1) * blocks * 34);
    FZ_CHECK(after.size() == std::max<size_t>(before.size(), size_t(offset) + 2));
    for (size_t i = 0; i < after.size(); ++i) {
      if (i == size_t(offset) || i == size_t(offset) + 1) continue;
      FZ_CHECK(after[i] == (i < before.size() ? before[i] : '\0'));
    }
    FZ_CHECK(fz::U16(after, size_t(offset)) == value);
    FZ_CHECK(GetNextRead(lastComb.get(), user, area) == value);
  }
  return 0;
}
