// Message bases for the tests of the programs that read or pack them:
// areas, users and next-read numbers written byte by byte into a temporary
// board, and a program run on it (sorrel unless another is named).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase.h"
#include "platform.h"
#include "program_frame.h"
#include "program_frames.h"
#include "records.h"
#include "test_support.h"

namespace st {

inline constexpr uint32_t DosDate(int year, int month, int day) {
  return (uint32_t(year - 1980) << 25) | (uint32_t(month) << 21) | (uint32_t(day) << 16);
}
inline constexpr uint32_t kOld = DosDate(1990, 1, 1);
inline constexpr uint32_t kNew = DosDate(2030, 1, 1);

struct Msg {
  std::string to = "SYSOP";
  std::string from = "SOMEONE";
  std::string subject = "Hello";
  std::string text = "text";
  uint8_t attribute = 0;
  uint8_t attribute2 = 0;
  uint16_t replyTo = 0;
  uint16_t nextReply = 0;
  uint32_t written = kNew;
  uint32_t received = kNew;
  int extraLength = 0;    // added to TextLength beyond the stored text
  uint8_t subjectCount = 0;  // non-zero: the Subject count byte as stored
};

struct Area {
  std::string name = "Area";
  uint8_t type = 2;
  uint8_t flags = 0;
  uint8_t flags2 = 0;
  uint8_t keepDays = 0;
  uint8_t keepRecvDays = 0;
  uint16_t maxMsgs = 0;
  uint16_t maxKilobytes = 0;
  std::vector<Msg> msgs;
};

// A header as written into a fresh header file; the uninterpreted bytes are
// filled with a pattern so a compare shows any byte not carried through.
inline std::string HeaderBytes(const Msg &m, uint32_t textStart, size_t index) {
  MessageHeader h{};
  for (size_t i = 0; i < sizeof h.Reserved12; ++i)
    h.Reserved12[i] = static_cast<uint8_t>(0xA0 + offsetof(MessageHeader, Reserved12) + i + index);
  h.Reserved32 = 0x5A;
  h.ReplyTo = m.replyTo;
  h.NextReply = m.nextReply;
  h.TextStart = textStart;
  h.TextLength = static_cast<int32_t>(m.text.size()) + m.extraLength;
  h.Attribute = m.attribute;
  h.Attribute2 = m.attribute2;
  h.DateWritten = static_cast<int32_t>(m.written);
  h.DateReceived = static_cast<int32_t>(m.received);
  vt::SetPas(h.WhoTo, m.to);
  vt::SetPas(h.WhoFrom, m.from);
  vt::SetPas(h.Subject, m.subject);
  if (m.subjectCount) h.Subject[0] = m.subjectCount;
  return vt::AsBytes(h);
}

class Board {
 public:
  Board() {
    config.msgPath = dir.Board() + "MSG\\";
    config.userPath = dir.Board() + "USERS\\";
    config.logName = dir.Board() + "SORREL.LOG";
    config.attachPath = dir.Board() + "ATTACH\\";
    config.maxMsgAreas = 16;
    vt::MakeDirs(dir / "MSG/AREA1");
    vt::MakeDirs(dir / "USERS");
    vt::MakeDirs(dir / "ATTACH");
    Users({"SYSOP"});
  }

  void Write() {
    vt::WriteBoard(dir.Path(), config);
    std::string records;
    for (size_t a = 0; a < areas.size(); ++a) {
      MessageRecord r{};
      for (size_t i = 0; i < sizeof r.Reserved131; ++i)
        r.Reserved131[i] = static_cast<uint8_t>(offsetof(MessageRecord, Reserved131) + i);
      const Area &area = areas[a];
      if (!area.name.empty()) vt::SetPas(r.AreaName, area.name);
      r.AreaType = area.type;
      r.AreaFlags = area.flags;
      r.AreaFlags2 = area.flags2;
      r.KeepDays = area.keepDays;
      r.KeepRecvDays = area.keepRecvDays;
      r.MaxMsgs = area.maxMsgs;
      r.MaxKilobytes = area.maxKilobytes;
      records += vt::AsBytes(r);
      if (!area.msgs.empty()) WriteAreaFiles(uint16_t(a + 1), area.msgs);
    }
    vt::WriteFile(dir / "MESSAGES.VLM", records);
  }

  // Header and text file of one area, texts back to back.
  void WriteAreaFiles(uint16_t area, const std::vector<Msg> &msgs) {
    std::string headers, texts;
    for (size_t i = 0; i < msgs.size(); ++i) {
      headers += HeaderBytes(msgs[i], uint32_t(texts.size()), i);
      texts += msgs[i].text;
    }
    vt::WriteFile(HeaderPath(area), headers);
    vt::WriteFile(TextPath(area), texts);
  }

  void Users(const std::vector<std::string> &names, const std::vector<std::string> &aliases = {}) {
    std::string users;
    for (size_t i = 0; i < names.size(); ++i) {
      UserRecord u = vt::FilledRecord<UserRecord>([](size_t) { return 0x77; });
      vt::SetPas(u.UserName, names[i]);
      vt::SetPas(u.UserAlias, i < aliases.size() ? aliases[i] : names[i]);
      users += vt::AsBytes(u);
    }
    vt::WriteFile(dir / "USERS/USERS.BBS", users);
    // Every next-read number starts as a recognisable 0x4444 so a compare
    // shows which ones were written.
    std::string lastComb(names.size() * (config.maxMsgAreas / 16) * sizeof(NextReadBlock), '\x44');
    vt::WriteFile(dir / "USERS/LASTCOMB.BBS", lastComb);
  }
  void SetNextRead(size_t user, uint16_t area, uint16_t value) {
    std::string b = vt::ReadFile(dir / "USERS/LASTCOMB.BBS");
    vt::PutU16(b, NextReadOffset(user, area), value);
    vt::WriteFile(dir / "USERS/LASTCOMB.BBS", b);
  }
  uint16_t NextRead(size_t user, uint16_t area) {
    return vt::RecordAt<uint16_t>(vt::ReadFile(dir / "USERS/LASTCOMB.BBS").substr(NextReadOffset(user, area)), 0);
  }
  size_t NextReadOffset(size_t user, uint16_t area) const {
    size_t block = user * (config.maxMsgAreas / 16) + (area - 1) / 16;
    return block * sizeof(NextReadBlock) + offsetof(NextReadBlock, NextRead) + (area - 1) % 16 * sizeof(uint16_t);
  }

  std::string AreaDir(uint16_t area) const { return dir / ("MSG/AREA" + std::to_string((area - 1) / 100 + 1) + "/"); }
  std::string HeaderPath(uint16_t area) const {
    char name[16];
    std::snprintf(name, sizeof name, "MH%05u.BBS", unsigned(area));
    vt::MakeDirs(AreaDir(area));
    return AreaDir(area) + name;
  }
  std::string TextPath(uint16_t area) const {
    char name[16];
    std::snprintf(name, sizeof name, "MT%05u.BBS", unsigned(area));
    return AreaDir(area) + name;
  }
  std::string Headers(uint16_t area) const { return vt::ReadFile(HeaderPath(area)); }
  std::string Texts(uint16_t area) const { return vt::ReadFile(TextPath(area)); }
  size_t Count(uint16_t area) const { return Headers(area).size() / sizeof(MessageHeader); }
  // The text of message `number` (from 1) as its header places it.
  std::string TextOf(uint16_t area, size_t number) const {
    MessageHeader h = vt::Header(Headers(area), number);
    std::string t = Texts(area);
    uint32_t start = h.TextStart, length = static_cast<uint32_t>(h.TextLength);
    return start + length <= t.size() ? t.substr(start, length) : "<out of range>";
  }
  std::string Subject(uint16_t area, size_t number) const { return vt::Pas(vt::Header(Headers(area), number).Subject); }
  std::vector<uint16_t> MsgCount() const {
    std::string b = vt::ReadFile(dir / "MSG/MSGCOUNT.BBS");
    std::vector<uint16_t> v;
    for (size_t i = 0; i < b.size() / sizeof(uint16_t); ++i) v.push_back(vt::RecordAt<uint16_t>(b, i));
    return v;
  }
  // MSGFAST.BBS as (area, message) pairs.
  std::vector<std::pair<uint16_t, uint16_t>> FastMail() const {
    std::string b = vt::ReadFile(dir / "MSG/MSGFAST.BBS");
    std::vector<std::pair<uint16_t, uint16_t>> v;
    for (size_t i = 0; i < b.size() / sizeof(MsgFastRecord); ++i) {
      MsgFastRecord r = vt::RecordAt<MsgFastRecord>(b, i);
      v.emplace_back(r.Area, r.Message);
    }
    return v;
  }
  std::string Log() const { return vt::ReadFile(dir / "SORREL.LOG"); }

  vt::RunResult Run(const std::vector<std::string> &args, const std::map<std::string, std::string> &extra = {}) {
    return RunProgram(exe, args, extra);
  }
  vt::RunResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                           const std::map<std::string, std::string> &extra = {}) {
    // No test here is about what survives a power cut: syncs are left out.
    std::map<std::string, std::string> env{{"VLM", dir.Board()}, {"TASK", ""}, {"TZ", "GMT0"}, {"VLM_SYNC", "off"}};
    for (const auto &[k, v] : extra) env[k] = v;
    return vt::Run(program, args, dir.Path(), env);
  }

  std::string exe = SORREL_EXE;  // the sorrel of Run: the test build, or the shipped program
  vt::TempDir dir;
  vt::BoardConfig config;
  std::vector<Area> areas;
};

}  // namespace st
