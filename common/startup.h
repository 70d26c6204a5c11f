// Start-up: the system directory, the node number and the two configuration
// records every program loads, with the globals derived from them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

static_assert(std::endian::native == std::endian::little,
              "the board's records are little-endian and are read as stored");

#pragma pack(push, 1)
// CONFIG.VLM (or CONFIG.<node>), 6144 bytes; only the fields named here are read.
struct ConfigRecord {
  uint8_t Reserved0[452];
  uint8_t MsgBaseDir[305];      // message base directory, with trailing backslash
  uint8_t UserBaseDir[244];     // user base directory
  uint8_t MaintLogName[61];     // log name template: *T program code, *N node
  uint8_t FileAttachPath[122];  // directory of files attached to messages
  uint8_t FastIndexPath[256];   // directory of the fast-find index files
  uint8_t Reserved1[6144 - 1440];
};

// The first 1609 bytes of CONSTANT.VLM.
struct ConstantRecord {
  uint8_t Reserved0[159];
  uint16_t MaxMsgAreas;
  uint16_t MaxFileAreas;
  uint8_t Reserved1[18];
  uint16_t ConstantFlags;  // bit 8: see message packing
  uint8_t Reserved2[1609 - 183];
};
#pragma pack(pop)

static_assert(sizeof(ConfigRecord) == 6144);
static_assert(offsetof(ConfigRecord, MsgBaseDir) == 452);
static_assert(offsetof(ConfigRecord, UserBaseDir) == 757);
static_assert(offsetof(ConfigRecord, MaintLogName) == 1001);
static_assert(offsetof(ConfigRecord, FileAttachPath) == 1062);
static_assert(offsetof(ConfigRecord, FastIndexPath) == 1184);
static_assert(sizeof(ConstantRecord) == 1609);
static_assert(offsetof(ConstantRecord, MaxMsgAreas) == 159);
static_assert(offsetof(ConstantRecord, MaxFileAreas) == 161);
static_assert(offsetof(ConstantRecord, ConstantFlags) == 181);

extern std::string SystemPath;
extern int Node;
extern ConfigRecord Config;
extern ConstantRecord Constant;
extern std::string MsgPath;
extern std::string UserBasePath;
extern std::string MaintLog;

std::string &GetSystemPath();
std::string &FindDataFilePath(const std::string &name, std::string &path);
// Returns 1, or 0 with `error` holding the message of the last failing step.
// `programCode` may be null: "*T" then stays in the log name.
int InitVelmora(std::string &error, const char *programCode);
