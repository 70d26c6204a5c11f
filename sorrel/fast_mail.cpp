// The fast mail-check tables: name keys, the sorted user key table built
// from USERS.BBS, and the rule that decides which messages get a record.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "crc32.h"
#include "files.h"
#include "platform.h"
#include "run_failure.h"
#include "sorrel.h"
#include "startup.h"
#include "system_log.h"
#include "text.h"

std::vector<int32_t> UserCRC;
int NumUserCRC = 0;

namespace {

// The whole name, up to a zero byte as the board compares texts, equals ALL.
bool IsAll(const uint8_t (&whoTo)[36]) {
  std::string name;
  PasToC(whoTo, name);
  size_t zero = name.find('\0');
  if (zero != std::string::npos) name.resize(zero);
  UpperCase(name);
  return name == "ALL";
}

}  // namespace

uint32_t GetPasStringCRC(const uint8_t *field, size_t fieldSize) {
  uint32_t crc = 0xFFFFFFFFu;
  if (fieldSize == 0) return crc;
  int n = static_cast<signed char>(field[0]);
  if (n < 1) return crc;
  if (static_cast<size_t>(n) > fieldSize - 1) n = static_cast<int>(fieldSize - 1);
  for (int i = 1; i <= n; ++i) crc = UpdateCRC32(UpperByte(field[i]), crc);
  return crc;
}

int CompUserCRC(const int32_t *a, const int32_t *b) { return *a < *b ? -1 : (*a > *b ? 1 : 0); }

void ClearUserCRC() {
  UserCRC.clear();
  UserCRC.shrink_to_fit();
  NumUserCRC = 0;
}

void GetUserCRC() {
  WriteSystemLog("Create Fast Mail Checks");
  ClearUserCRC();
  std::string name = UserBasePath + "USERS.BBS";
  int32_t size = FileSize(name);
  if (size <= 0) return;
  size_t users = static_cast<size_t>(size) / sizeof(UserRecord);
  std::vector<int32_t> table;
  try {
    table.reserve(2 * users + 1);
  } catch (const std::bad_alloc &) {
    return;
  }
  plat::UniqueFile file(plat::OpenFile(name, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!file) {
    ReportFileFailure(errno, "opening", name);
    return;
  }
  if (!plat::SetStreamBuffer(file.get(), 65536)) std::printf("Failed to Setup %s Buffer\n", name.c_str());
  std::printf("Scaning Userbase...");
  UserRecord user;
  for (size_t i = 0; i < users && std::fread(&user, sizeof user, 1, file.get()) == 1; ++i) {
    uint32_t nameKey = GetPasStringCRC(user.UserName);
    uint32_t aliasKey = GetPasStringCRC(user.UserAlias);
    table.push_back(static_cast<int32_t>(nameKey));
    if (aliasKey != nameKey) table.push_back(static_cast<int32_t>(aliasKey));
  }
  file.reset();
  const uint8_t all[4] = {3, 'A', 'L', 'L'};
  table.push_back(static_cast<int32_t>(GetPasStringCRC(all, sizeof all)));
  std::sort(table.begin(), table.end(), [](int32_t a, int32_t b) { return CompUserCRC(&a, &b) < 0; });
  UserCRC = std::move(table);
  NumUserCRC = static_cast<int>(UserCRC.size());
  std::printf("\n");
}

int FindUser(const int32_t &key) {
  if (NumUserCRC == 0) return 1;
  auto end = UserCRC.begin() + NumUserCRC;
  auto it = std::lower_bound(UserCRC.begin(), end, key,
                             [](int32_t a, int32_t b) { return CompUserCRC(&a, &b) < 0; });
  return it != end && *it == key ? 1 : 0;
}

int WantsFastMail(const MessageHeader &header, const MessageRecord &record, int skipping) {
  if (header.Attribute & kMsgReceived) return 0;
  if (!(record.AreaFlags & kAreaFastMail) && !(record.AreaFlags2 & kAreaFastMail2)) return 0;
  int32_t key = static_cast<int32_t>(GetPasStringCRC(header.WhoTo));
  if (!FindUser(key)) return 0;
  if (record.AreaType != 5 && IsAll(header.WhoTo)) return 0;
  if (skipping && record.AreaType == 7) return 0;
  return 1;
}
