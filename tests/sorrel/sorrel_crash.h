// What the crash and power-cut tests of sorrel share: a board of four areas
// that takes every path of packing, and the board's files as a snapshot
// that can be compared and written back.
#pragma once

#include <filesystem>
#include <map>

#include "sorrel_board.h"

namespace st {

using Snapshot = std::map<std::string, std::string>;

// Four areas that take every path: packed with links, attachments and
// next-read numbers; emptied; skipped with links written; cut by a limit.
// With `areas` below 4 only the first ones.
inline void Build(Board &b, size_t areas = 4) {
  b.config.attachPath = "ATTACH\\";
  b.Users({"SYSOP", "ANN", "BOB"});
  vt::MakeDirs(b.dir / "ATTACH/~@000001");
  vt::MakeDirs(b.dir / "ATTACH/~@000002");
  vt::MakeDirs(b.dir / "ATTACH/~@000003");
  vt::WriteFile(b.dir / "ATTACH/~@000001/GONE.ZIP", "gone");
  vt::WriteFile(b.dir / "ATTACH/~@000002/KEPT.ZIP", "kept");
  vt::WriteFile(b.dir / "ATTACH/~@000003/EMPTY.ZIP", "empty");

  std::vector<Msg> one(6);
  for (size_t i = 0; i < one.size(); ++i) {
    one[i].subject = "one " + std::to_string(i + 1);
    one[i].text = "area one, message " + std::to_string(i + 1) + std::string(i * 40, '*');
  }
  one[1].attribute = 0x01;
  one[1].attribute2 = 0x04;
  one[1].subject = "ATTACH\\~@000001\\GONE.ZIP";
  one[2].attribute2 = 0x04;
  one[2].subject = "ATTACH\\~@000002\\KEPT.ZIP";
  one[3].attribute = 0x01;
  one[0].nextReply = 2;  // chain 1 -> 2 -> 5 across a removed message
  one[1].replyTo = 1;
  one[1].nextReply = 5;
  one[4].replyTo = 2;
  one[4].subject = one[5].subject = "thread";
  b.areas.push_back({.name = "One", .flags = 0x30, .msgs = one});

  std::vector<Msg> two(3);
  for (Msg &m : two) m.attribute = 0x01;
  two[0].attribute2 = 0x04;
  two[0].subject = "ATTACH\\~@000003\\EMPTY.ZIP";
  b.areas.push_back({.name = "Two", .flags = 0x20, .msgs = two});

  std::vector<Msg> three(4);
  for (size_t i = 0; i < three.size(); ++i) three[i].text = "three " + std::to_string(i);
  b.areas.push_back({.name = "Three", .flags = 0x10, .msgs = three});

  std::vector<Msg> four(8);
  for (size_t i = 0; i < four.size(); ++i) {
    four[i].subject = "four " + std::to_string(i % 3);
    four[i].text = std::string(300 + i, char('a' + i));
  }
  b.areas.push_back({.name = "Four", .flags2 = 0x02, .maxMsgs = 5, .msgs = four});
  b.areas.resize(areas);
  b.Write();
  vt::WriteFile(b.dir / "MSG/MSGCOUNT.BBS", std::string(32, '\0'));
  vt::WriteFile(b.dir / "MSG/MSGDLTD.BBS", "x");
  for (uint16_t area = 1; area <= areas; ++area) {
    b.SetNextRead(0, area, 2);
    b.SetNextRead(1, area, 5);
    b.SetNextRead(2, area, 9);
  }
}

// Every file of the board but the log, by path under the board.
inline Snapshot Files(const Board &b) {
  Snapshot s;
  std::filesystem::path root(b.dir.Path());
  for (const auto &e : std::filesystem::recursive_directory_iterator(root)) {
    std::string rel = std::filesystem::relative(e.path(), root).generic_string();
    // What the run may change; the configuration names the board's own
    // directory, which differs between boards.
    if (rel.rfind("MSG", 0) != 0 && rel.rfind("USERS", 0) != 0 && rel.rfind("ATTACH", 0) != 0) continue;
    s[rel] = e.is_directory() ? "<dir>" : vt::ReadFile(e.path().string());
  }
  return s;
}

// The live files of the areas: headers and texts.
inline Snapshot LiveFiles(const Snapshot &all) {
  Snapshot s;
  for (const auto &[name, bytes] : all)
    if (name.rfind("MSG/AREA", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".BBS") == 0)
      s[name] = bytes;
  return s;
}

// The names whose contents differ, for a readable failure.
inline std::string Diff(const Snapshot &got, const Snapshot &want) {
  std::string out;
  for (const auto &[name, bytes] : got) {
    auto w = want.find(name);
    if (w == want.end())
      out += "  extra " + name + "\n";
    else if (w->second != bytes)
      out += "  differs " + name + " (" + std::to_string(bytes.size()) + " bytes, want " +
             std::to_string(w->second.size()) + ")\n";
  }
  for (const auto &[name, bytes] : want)
    if (!got.count(name)) out += "  missing " + name + "\n";
  return out;
}

// Writes a snapshot back: what the run may change is replaced by it.
inline void Restore(const Board &b, const Snapshot &s) {
  for (const char *top : {"MSG", "USERS", "ATTACH"}) std::filesystem::remove_all(b.dir / top);
  for (const auto &[name, bytes] : s) {
    if (bytes == "<dir>")
      vt::MakeDirs(b.dir / name);
    else {
      vt::MakeDirs(std::filesystem::path(b.dir / name).parent_path().string());
      vt::WriteFile(b.dir / name, bytes);
    }
  }
}

}  // namespace st
