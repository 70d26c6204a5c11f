// The message base files: MESSAGES.VLM, the area header and text files,
// USERS.BBS, the next-read numbers of LASTCOMB.BBS and the fast mail-check
// records of MSGFAST.BBS.
//
// Every byte these programs do not interpret is carried through unchanged;
// the Reserved fields exist so records can be rewritten exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#pragma pack(push, 1)
// MESSAGES.VLM: one 272-byte record per message area, area n at (n-1) * 272.
struct MessageRecord {
  uint8_t AreaName[120];  // length-prefixed; shares its bytes with fields not read here
  uint8_t AreaType;       // 0-8, see the programs for what each type means
  uint8_t Reserved121;
  uint8_t AreaFlags;   // 0x10 fast mail check, 0x20 erase attachments of deleted messages
  uint8_t AreaFlags2;  // 0x02 fast mail check
  uint8_t Reserved124;
  uint8_t KeepDays;      // 0 = no age limit
  uint8_t KeepRecvDays;  // 0 = no receipt limit
  uint16_t MaxMsgs;      // 0 = no count limit
  uint16_t MaxKilobytes; // 0 = no size limit
  uint8_t Reserved131[141];
};

// One header of an area's header file (MH%05u.BBS), message n at (n-1) * 186.
struct MessageHeader {
  uint16_t ReplyTo;
  uint16_t NextReply;
  uint32_t TextStart;
  int32_t TextLength;
  uint8_t Reserved12[18];
  uint8_t Attribute;   // 0x01 deleted, 0x10 received, 0x40 keep attachments (type 1), 0x80 exempt
  uint8_t Attribute2;  // 0x04 files attached, named in Subject
  uint8_t Reserved32;
  int32_t DateWritten;   // DOS packed local date and time
  int32_t DateReceived;  // DOS packed local date and time
  uint8_t WhoTo[36];     // length-prefixed, at most 35
  uint8_t WhoFrom[36];   // length-prefixed, at most 35
  uint8_t Subject[73];   // length-prefixed, at most 72
};

// USERS.BBS: 128 bytes per user.
struct UserRecord {
  uint8_t UserName[36];   // length-prefixed, at most 35
  uint8_t UserAlias[36];  // length-prefixed, at most 35
  uint8_t Reserved72[56];
};

// LASTCOMB.BBS: per user MaxMsgAreas / 16 blocks, each covering 16 areas.
struct NextReadBlock {
  uint16_t Reserved;       // never read or written
  uint16_t NextRead[16];   // first unread message of areas 16b+1 .. 16b+16
};

// MSGFAST.BBS: one record per unreceived message of the areas in the fast
// mail check, written by sorrel.
struct MsgFastRecord {
  uint32_t NameKey;  // GetPasStringCRC of the message's WhoTo
  uint16_t Area;
  uint16_t Message;  // number after the run's packing
};
#pragma pack(pop)

// MessageRecord::AreaFlags and AreaFlags2.
inline constexpr uint8_t kAreaFastMail = 0x10;       // AreaFlags: in the fast mail check
inline constexpr uint8_t kAreaEraseAttaches = 0x20;  // AreaFlags: attachments go with their messages
inline constexpr uint8_t kAreaFastMail2 = 0x02;      // AreaFlags2: in the fast mail check
// MessageHeader::Attribute and Attribute2.
inline constexpr uint8_t kMsgDeleted = 0x01;
inline constexpr uint8_t kMsgReceived = 0x10;
inline constexpr uint8_t kMsgKeepAttaches = 0x40;  // area type 1: attachments stay when it goes
inline constexpr uint8_t kMsgExempt = 0x80;        // never removed by the age, receipt, count or size limit
inline constexpr uint8_t kMsgFilesAttached = 0x04; // Attribute2: the subject names attached files
// ConstantRecord::ConstantFlags: attachments of type 1 areas are erased too.
inline constexpr uint16_t kConstantEraseLocalAttaches = 0x0100;

static_assert(sizeof(MessageRecord) == 272);
static_assert(offsetof(MessageRecord, AreaName) == 0);
static_assert(offsetof(MessageRecord, AreaType) == 120);
static_assert(offsetof(MessageRecord, Reserved121) == 121);
static_assert(offsetof(MessageRecord, AreaFlags) == 122);
static_assert(offsetof(MessageRecord, AreaFlags2) == 123);
static_assert(offsetof(MessageRecord, Reserved124) == 124);
static_assert(offsetof(MessageRecord, KeepDays) == 125);
static_assert(offsetof(MessageRecord, KeepRecvDays) == 126);
static_assert(offsetof(MessageRecord, MaxMsgs) == 127);
static_assert(offsetof(MessageRecord, MaxKilobytes) == 129);
static_assert(offsetof(MessageRecord, Reserved131) == 131);
static_assert(sizeof(MessageHeader) == 186);
static_assert(offsetof(MessageHeader, ReplyTo) == 0);
static_assert(offsetof(MessageHeader, NextReply) == 2);
static_assert(offsetof(MessageHeader, TextStart) == 4);
static_assert(offsetof(MessageHeader, TextLength) == 8);
static_assert(offsetof(MessageHeader, Reserved12) == 12);
static_assert(offsetof(MessageHeader, Attribute) == 30);
static_assert(offsetof(MessageHeader, Attribute2) == 31);
static_assert(offsetof(MessageHeader, Reserved32) == 32);
static_assert(offsetof(MessageHeader, DateWritten) == 33);
static_assert(offsetof(MessageHeader, DateReceived) == 37);
static_assert(offsetof(MessageHeader, WhoTo) == 41);
static_assert(offsetof(MessageHeader, WhoFrom) == 77);
static_assert(offsetof(MessageHeader, Subject) == 113);
static_assert(sizeof(UserRecord) == 128);
static_assert(offsetof(UserRecord, UserName) == 0);
static_assert(offsetof(UserRecord, UserAlias) == 36);
static_assert(offsetof(UserRecord, Reserved72) == 72);
static_assert(sizeof(NextReadBlock) == 34);
static_assert(offsetof(NextReadBlock, Reserved) == 0);
static_assert(offsetof(NextReadBlock, NextRead) == 2);
static_assert(sizeof(MsgFastRecord) == 8);
static_assert(offsetof(MsgFastRecord, NameKey) == 0);
static_assert(offsetof(MsgFastRecord, Area) == 4);
static_assert(offsetof(MsgFastRecord, Message) == 6);

// Message numbers are 16 bits: an area holds at most this many messages.
inline constexpr uint32_t kMaxMessages = 65535;
// Header files are read and written in pieces of this many records.
inline constexpr size_t kHeaderChunk = 1409;

inline constexpr size_t kMaxWhoLength = 35;
inline constexpr size_t kMaxSubjectLength = 72;

enum MsgFileKind { kHeaderFile = 1, kTextFile = 2 };

// Whether a slot of MESSAGES.VLM is an area that maintenance packs: a name
// (count byte read signed at least 1) and a type of 0-2 or 5-8.
int MessageAreaInUse(const MessageRecord &record);

// "%sAREA%u\M%c%05u.BBS" with MsgPath, (area-1)/100+1, H or T, area.
std::string &GetMsgAreaPath(uint16_t area, std::string &path, int kind);

// "%sLASTCOMB.BBS" with UserBasePath: every user's next-read numbers.
std::string LastCombName();

// Whether area `area` has a next-read number of its own in a user's record:
// areas 1 to 16 * (MaxMsgAreas / 16).
int HasNextReadPlace(uint16_t area);
// Where in LASTCOMB.BBS that number lies, or -1 when the area has none (or
// the offset is beyond what a stream can seek to on this host).
int64_t NextReadOffset(uint16_t user, uint16_t area);
// The bytes of one user's record: NextReadOffset(user + 1, area) is this much
// past NextReadOffset(user, area) where both exist.
int64_t NextReadRecordBytes();

// Next-read number of user `user` in area `area` from LASTCOMB.BBS; 0 when it
// cannot be read, and for areas that have no place in a user's record (those
// above 16 * (MaxMsgAreas / 16)).
uint16_t GetNextRead(FILE *lastComb, uint16_t user, uint16_t area);
// Writes it; 1 on success.  Writes nothing (0) for area 0, areas above
// MaxMsgAreas and areas without a place in the user's record.
int PutNextRead(FILE *lastComb, uint16_t user, uint16_t area, uint16_t value);
