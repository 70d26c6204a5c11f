// Message bases for sorrel's tests: areas, users and next-read numbers
// written byte by byte into a temporary board, and the program run on it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase.h"
#include "platform.h"
#include "program_frame.h"
#include "sorrel.h"
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

inline uint16_t U16(const std::string &b, size_t o) {
  return static_cast<uint16_t>(uint8_t(b[o]) | (uint8_t(b[o + 1]) << 8));
}
inline uint32_t U32(const std::string &b, size_t o) {
  return uint32_t(U16(b, o)) | (uint32_t(U16(b, o + 2)) << 16);
}

// A header as written into a fresh header file; the uninterpreted bytes are
// filled with a pattern so a compare shows any byte not carried through.
inline std::string HeaderBytes(const Msg &m, uint32_t textStart, size_t index) {
  std::string h(sizeof(MessageHeader), '\0');
  for (size_t i = 12; i < 30; ++i) h[i] = static_cast<char>(0xA0 + i + index);
  h[32] = static_cast<char>(0x5A);
  vt::PutU16(h, 0, m.replyTo);
  vt::PutU16(h, 2, m.nextReply);
  vt::PutU32(h, 4, textStart);
  vt::PutU32(h, 8, uint32_t(int32_t(m.text.size()) + m.extraLength));
  h[30] = static_cast<char>(m.attribute);
  h[31] = static_cast<char>(m.attribute2);
  vt::PutU32(h, 33, m.written);
  vt::PutU32(h, 37, m.received);
  vt::PutPas(h, 41, m.to);
  vt::PutPas(h, 77, m.from);
  vt::PutPas(h, 113, m.subject);
  if (m.subjectCount) h[113] = static_cast<char>(m.subjectCount);
  h.resize(sizeof(MessageHeader));
  return h;
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
      std::string r(sizeof(MessageRecord), '\0');
      for (size_t i = 131; i < r.size(); ++i) r[i] = static_cast<char>(i);
      const Area &area = areas[a];
      if (!area.name.empty()) vt::PutPas(r, 0, area.name);
      r[120] = static_cast<char>(area.type);
      r[122] = static_cast<char>(area.flags);
      r[123] = static_cast<char>(area.flags2);
      r[125] = static_cast<char>(area.keepDays);
      r[126] = static_cast<char>(area.keepRecvDays);
      vt::PutU16(r, 127, area.maxMsgs);
      vt::PutU16(r, 129, area.maxKilobytes);
      records += r;
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
      std::string u(sizeof(UserRecord), '\x77');
      vt::PutPas(u, 0, names[i]);
      vt::PutPas(u, 36, i < aliases.size() ? aliases[i] : names[i]);
      users += u;
    }
    vt::WriteFile(dir / "USERS/USERS.BBS", users);
    // Every next-read number starts as a recognisable 0x4444 so a compare
    // shows which ones were written.
    std::string lastComb(names.size() * (config.maxMsgAreas / 16) * 34, '\x44');
    vt::WriteFile(dir / "USERS/LASTCOMB.BBS", lastComb);
  }
  void SetNextRead(size_t user, uint16_t area, uint16_t value) {
    std::string b = vt::ReadFile(dir / "USERS/LASTCOMB.BBS");
    vt::PutU16(b, NextReadOffset(user, area), value);
    vt::WriteFile(dir / "USERS/LASTCOMB.BBS", b);
  }
  uint16_t NextRead(size_t user, uint16_t area) {
    return U16(vt::ReadFile(dir / "USERS/LASTCOMB.BBS"), NextReadOffset(user, area));
  }
  size_t NextReadOffset(size_t user, uint16_t area) const {
    return (user * (config.maxMsgAreas / 16) + (area - 1) / 16) * 34 + ((area - 1) % 16) * 2 + 2;
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
    std::string h = Headers(area), t = Texts(area);
    size_t at = (number - 1) * sizeof(MessageHeader);
    uint32_t start = U32(h, at + 4), length = U32(h, at + 8);
    return start + length <= t.size() ? t.substr(start, length) : "<out of range>";
  }
  std::string Subject(uint16_t area, size_t number) const {
    std::string h = Headers(area);
    size_t at = (number - 1) * sizeof(MessageHeader) + 113;
    return h.substr(at + 1, uint8_t(h[at]));
  }
  std::vector<uint16_t> MsgCount() const {
    std::string b = vt::ReadFile(dir / "MSG/MSGCOUNT.BBS");
    std::vector<uint16_t> v;
    for (size_t o = 0; o + 1 < b.size(); o += 2) v.push_back(U16(b, o));
    return v;
  }
  // MSGFAST.BBS as (area, message) pairs.
  std::vector<std::pair<uint16_t, uint16_t>> FastMail() const {
    std::string b = vt::ReadFile(dir / "MSG/MSGFAST.BBS");
    std::vector<std::pair<uint16_t, uint16_t>> v;
    for (size_t o = 0; o + 8 <= b.size(); o += 8) v.emplace_back(U16(b, o + 4), U16(b, o + 6));
    return v;
  }
  std::string Log() const { return vt::ReadFile(dir / "SORREL.LOG"); }

  vt::RunResult Run(const std::vector<std::string> &args, const std::map<std::string, std::string> &extra = {}) {
    // No test here is about what survives a power cut: syncs are left out.
    std::map<std::string, std::string> env{{"VLM", dir.Board()}, {"TASK", ""}, {"TZ", "GMT0"}, {"VLM_SYNC", "off"}};
    for (const auto &[k, v] : extra) env[k] = v;
    return vt::Run(SORREL_EXE, args, dir.Path(), env);
  }

  vt::TempDir dir;
  vt::BoardConfig config;
  std::vector<Area> areas;
};

// The frame table of sorrel/main.cpp, for runs inside the test process.
inline const ProgramInfo &SorrelInfo() {
  static const ProgramInfo info{
      .banner = "Sorrel %s V%s.  Velmora Message Base Maintenance.\n",
      .code = "MSG",
      .logStart = "Sorrel %s Started",
      .logEnd = "Sorrel Finished",
      .completion = "\nSorrel Completed\n",
      .help = Help,
      .work = CompressMessageBase,
  };
  return info;
}

// sorrel run inside the test process, so that the operation hook set here
// acts on it, its operations counted from 1 and operation `failAt` failing
// or ending the process (none for 0); in the board's directory, without
// syncs, its output collected.
inline vt::RunResult RunHere(Board &b, const std::vector<std::string> &args, long failAt = 0,
                             plat::FaultAction action = plat::FaultAction::FaultFail) {
  plat::SetFaultInjection(failAt, action);
  vt::SetEnv("VLM", b.dir.Board());
  vt::UnsetEnv("TASK");
  std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(b.dir.Path());
  std::vector<const char *> argv{"sorrel"};
  for (const std::string &a : args) argv.push_back(a.c_str());
  plat::SetSyncs(false);
  vt::RunResult r;
  {
    vt::CapturedStdout out(b.dir / "STDOUT.TXT");
    r.status = RunProgram(int(argv.size()), argv.data(), SorrelInfo());
    r.out = out.Text();
  }
  plat::SetSyncs(true);
  plat::SetFaultInjection(0, plat::FaultAction::FaultFail);
  std::filesystem::current_path(cwd);
  return r;
}

// The console output between the banner and the completion line.
inline std::string Work(const std::string &out) {
  const std::string head = "Use -? for help\n\n", tail = "\nSorrel Completed\n";
  size_t from = out.find(head);
  if (from == std::string::npos || out.size() < tail.size() ||
      out.compare(out.size() - tail.size(), tail.size(), tail) != 0)
    return "<frame missing>" + out;
  from += head.size();
  return out.substr(from, out.size() - tail.size() - from);
}

}  // namespace st
