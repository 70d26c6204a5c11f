#include "msgbase.h"

#include <climits>

#include "platform.h"
#include "startup.h"
#include "text.h"

std::string LastCombName() { return UserBasePath + "LASTCOMB.BBS"; }

std::string &GetMsgAreaPath(uint16_t area, std::string &path, int kind) {
  unsigned a = area;
  path = StrPrintf("%sAREA%u\\M%c%05u.BBS", MsgPath.c_str(), (a - 1) / 100 + 1, kind == kTextFile ? 'T' : 'H', a);
  return path;
}

int MessageAreaInUse(const MessageRecord &r) {
  if (static_cast<signed char>(r.AreaName[0]) < 1) return 0;
  switch (r.AreaType) {
    case 0: case 1: case 2: case 5: case 6: case 7: case 8: return 1;
    default: return 0;
  }
}

int HasNextReadPlace(uint16_t area) { return area >= 1 && area <= (Constant.MaxMsgAreas / 16) * 16 ? 1 : 0; }

int64_t NextReadRecordBytes() { return int64_t(Constant.MaxMsgAreas / 16) * 34; }

int64_t NextReadOffset(uint16_t user, uint16_t area) {
  if (!HasNextReadPlace(area)) return -1;
  // Streams seek with a long, 32 bits wide on some hosts: an offset beyond
  // it is refused rather than wrapped onto another user's record.
  int64_t offset = int64_t(user) * NextReadRecordBytes() + ((area - 1) / 16) * 34 + ((area - 1) % 16) * 2 + 2;
  return offset <= LONG_MAX - 2 ? offset : -1;
}

uint16_t GetNextRead(FILE *lastComb, uint16_t user, uint16_t area) {
  int64_t offset = NextReadOffset(user, area);
  uint8_t bytes[2];
  if (offset < 0 || std::fseek(lastComb, static_cast<long>(offset), SEEK_SET) != 0 ||
      std::fread(bytes, 1, 2, lastComb) != 2)
    return 0;
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

int PutNextRead(FILE *lastComb, uint16_t user, uint16_t area, uint16_t value) {
  if (area == 0 || area > Constant.MaxMsgAreas) return 0;
  int64_t offset = NextReadOffset(user, area);
  if (offset < 0 || std::fseek(lastComb, static_cast<long>(offset), SEEK_SET) != 0) return 0;
  uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
  return plat::WriteBytes(lastComb, bytes, 2);
}
