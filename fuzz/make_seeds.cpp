// Writes the seed corpora of the fuzz targets from the sample board:
//
//   make_seeds <make_sample_board executable> <output directory>
//
// gives <output directory>/<target>/<seed> for every target whose inputs the
// sample board has.  The journal target's seeds are the message directories
// that a maintenance run leaves when it is stopped at each of its disk
// changes in turn (the platform layer's fault hook, in a child process).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "area_link.h"
#include "platform.h"
#include "sorrel.h"
#include "startup.h"
#include "support.h"
#include "switches.h"

namespace fs = std::filesystem;

namespace {

fs::path out;
fs::path board;  // stands for drive C:

std::string Read(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const fs::path &p, const std::string &bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Board(const std::string &relative) { return Read(board / relative); }

void Seed(const std::string &target, const std::string &name, const std::vector<std::string> &sections) {
  Write(out / target / name, fz::JoinSections(sections));
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

std::string U16(unsigned v) { return Bytes({int(v & 0xFF), int(v >> 8)}); }

std::string AreaFile(char kind, unsigned area) {
  char name[32];
  std::snprintf(name, sizeof name, "BBS/MSG/AREA1/M%c%05u.BBS", kind, area);
  return name;
}

// MESSAGES.VLM with the sample's areas `from` in slots 1, 2 and 3.
std::string Remapped(const std::string &records, const unsigned (&from)[3]) {
  std::string r(3 * 272, '\0');
  for (int k = 0; k < 3; ++k) r.replace(k * 272u, 272, records.substr((from[k] - 1) * 272u, 272));
  return r;
}

void Switches() {
  const char *const seeds[][2] = {
      {"sorrel", "-LINK\n-NODE2\n-FASTMAIL"},
      {"quarry2_list", "-LISTC:\\BBS\\DIRS.TXT\n-FROM2\n-TO7\n-MINSEC10\n/MAXSEC100"},
      {"quarry2_compile", "/compileC:\\BBS\\SURVEY.Q\n-node12"},
      {"marten", "-BUILD\n-SORT\n-NODE 7"},
      {"odd", "-\n/\n-NODE-5\n-MINSEC  +12345678901234\n-MAXSEC0x10\n-COMPILE..\\X.Y.Z"},
  };
  for (const auto &s : seeds) Seed("fuzz_switches", s[0], {s[1]});
}

void Dates() {
  std::string dates;
  for (uint32_t v : {0x5B6E4800u, 0x5A5B0000u, 0x0E810000u, 0xFFFFFFFFu, 0u, 0x5C7F9000u, 0x5D5F5FBFu})
    dates += std::string(reinterpret_cast<const char *>(&v), 4);
  int n = 0;
  for (const char *tz : {"EST5EDT", "GMT0", "CET-1CEST", "PST8PDT", "UTC", "JST-9", "EST5EDT,M3.2.0,M11.1.0"})
    Seed("fuzz_dates", "tz" + std::to_string(++n), {tz, dates});
}

void Startup() {
  std::string config = Board("BBS/CONFIG.VLM"), constant = Board("BBS/CONSTANT.VLM");
  Seed("fuzz_startup", "system", {Bytes({0x38, 1, 0}), "", "", config, constant, "", "", ""});
  Seed("fuzz_startup", "node_variant", {Bytes({0x7B, 5, 0}), "5", "", config, constant, config, "", Board("BBS/FILEPATH.VLM")});
  Seed("fuzz_startup", "current_dir", {Bytes({0xB2, 1, 0}), "", "3", "", constant, "", config, ""});
  Seed("fuzz_startup", "short", {Bytes({0x31, 2, 0}), "2", "", config.substr(0, 1000), constant.substr(0, 100), "", "", ""});
}

void Users() {
  std::string users = Board("BBS/USERS/USERS.BBS"), lastComb = Board("BBS/USERS/LASTCOMB.BBS");
  std::string ops = U16(32) + Bytes({3}) + U16(1) + U16(5) + U16(9) + U16(4) + U16(32) + U16(2) + U16(0) + U16(33) +
                    U16(1) + U16(7) + U16(16) + U16(65535);
  Seed("fuzz_users", "sample", {ops, users, lastComb});
  Seed("fuzz_users", "no_users", {U16(16) + Bytes({2}) + U16(0) + U16(1) + U16(3), "", lastComb});
}

void MsgReply() {
  std::string records = Board("BBS/MESSAGES.VLM"), marks = Board("BBS/MSG/MSGREPLY.BBS");
  std::vector<std::string> headers;
  for (unsigned a = 1; a <= 3; ++a) headers.push_back(Board(AreaFile('H', a)));
  Seed("fuzz_msgreply", "marked", {Bytes({32, 6}), marks, records, headers[0], headers[1], headers[2]});
  Seed("fuzz_msgreply", "linkall", {Bytes({32, 7}), marks, records, headers[0], headers[1], headers[2]});
  const unsigned other[3] = {8, 9, 10};
  Seed("fuzz_msgreply", "busy", {Bytes({16, 7}), marks, Remapped(records, other), Board(AreaFile('H', 8)),
                                 Board(AreaFile('H', 9)), Board(AreaFile('H', 10))});
}

void FileIndex() {
  std::string list;
  for (const auto &e : fs::recursive_directory_iterator(board / "BBS/FILES")) {
    if (!e.is_regular_file()) continue;
    list += fs::relative(e.path(), board).string() + " " + std::to_string(e.file_size()) + "\n";
  }
  std::string filePath = Board("BBS/FILEPATH.VLM"), sysInfo = Board("BBS/SYSINFO.BBS");
  Seed("fuzz_fileindex", "build", {Bytes({3}), filePath, "", sysInfo, list});
  Seed("fuzz_fileindex", "build_big", {Bytes({3}), filePath, "", sysInfo,
                                       list + "BBS/FILES/UPLOADS/HUGE.ISO 3000000000\nBBS/FILES/GAMES/EDGE.ZIP 2147483648\n"});
  // An index to sort as the board's own build may leave it.
  std::string index;
  const char *const names[] = {"ZIPPER  .ZIP", "README  .TXT", "_CHESS  .ZIP", "ACE     .EXE",
                               "ZZTOP   .MP3", "AA      .   ", "1STGAME .ZIP", "README  .TXT"};
  uint16_t area = 1;
  for (const char *n : names) {
    std::string r(20, '\0');
    r[0] = 12;
    std::memcpy(&r[1], n, 12);
    r[13] = static_cast<char>(area++ % 3 + 1);
    r[16] = static_cast<char>(area * 7);
    index += r;
  }
  Seed("fuzz_fileindex", "sort", {Bytes({6}), filePath, index + "partial", sysInfo, ""});
  Seed("fuzz_fileindex", "list", {Bytes({0x0E, 8, 0}), filePath, index, sysInfo, "", "-FROM2\n-TO7\n-MINSEC10\n/MAXSEC100"});
  Seed("fuzz_fileindex", "list_all", {Bytes({0x0B, 8, 0}), filePath, "", sysInfo, list, "-TO0\n-MAXSEC5"});
}

void Questionnaire() {
  Write(out / "fuzz_questionnaire" / "survey", Board("BBS/SURVEY.Q"));
  Write(out / "fuzz_questionnaire" / "labels",
        ":A\r\ngosub b\r\n  GOTO   c  \r\n:B\r\nreturn now\r\n:c\r\npostinfo\r\nGOTO missing\r\n;end\r\n\x1Atrailing");
}

// The files of a pack seed: the sample's areas `from` as areas 1-3.
std::vector<std::string> PackSections(uint8_t switches, const unsigned (&from)[3]) {
  std::vector<std::string> s{Bytes({switches, 32, 1, 0xFF, 0xFF}), Remapped(Board("BBS/MESSAGES.VLM"), from),
                             Board("BBS/USERS/USERS.BBS"), Board("BBS/USERS/LASTCOMB.BBS"),
                             Board("BBS/MSG/MSGREPLY.BBS")};
  for (unsigned a : from) {
    s.push_back(Board(AreaFile('H', a)));
    s.push_back(Board(AreaFile('T', a)));
  }
  return s;
}

void Pack() {
  const unsigned first[3] = {1, 2, 3}, limits[3] = {8, 9, 10}, purged[3] = {11, 5, 7};
  Seed("fuzz_pack", "threads", PackSections(0x01, first));
  Seed("fuzz_pack", "limits", PackSections(0x0D, limits));
  Seed("fuzz_pack", "purged", PackSections(0x03, purged));
  Seed("fuzz_pack", "disabled", PackSections(0x10, limits));
}

// A board of the pack seed in `dir`, as the pack target lays it out.
void LayOut(const fs::path &dir, const std::vector<std::string> &s) {
  Write(dir / "BBS/MESSAGES.VLM", s[1]);
  Write(dir / "BBS/USERS/USERS.BBS", s[2]);
  Write(dir / "BBS/USERS/LASTCOMB.BBS", s[3]);
  Write(dir / "BBS/MSG/MSGREPLY.BBS", s[4]);
  Write(dir / "BBS/MSG/MSGCOUNT.BBS", "");
  for (unsigned a = 1; a <= 3; ++a) {
    Write(dir / AreaFile('H', a), s[3 + 2 * a]);
    Write(dir / AreaFile('T', a), s[4 + 2 * a]);
  }
  fs::create_directories(dir / "BBS/ATTACH");
  fs::create_directories(dir / "BBS/FFIND");
}

// Stops the run at disk change `at` in a child; 1 when it was stopped there.
int StoppedRun(const fs::path &dir, long at) {
  pid_t child = fork();
  if (child < 0) return 0;
  if (child == 0) {
    if (!freopen("/dev/null", "w", stdout) || chdir(dir.c_str()) != 0) _exit(1);
    setenv("VLM_DRIVE_C", dir.c_str(), 1);
    fz::SetBoard(32, 8, 0x0100);
    const char *argv[] = {"sorrel", "-LINK"};
    SetArguments(2, argv);
    plat::SetFaultInjection(at, plat::FaultAction::FaultExit);
    CompressMessageBase();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 86 ? 1 : 0;
}

void Journal(const fs::path &scratch) {
  const unsigned areas[3] = {8, 9, 11};
  std::vector<std::string> pack = PackSections(0x01, areas);
  std::set<std::set<std::string>> seen;
  int made = 0;
  for (long at = 1; at < 400 && made < 24; ++at) {
    fs::path dir = scratch / ("run" + std::to_string(at));
    LayOut(dir, pack);
    if (!StoppedRun(dir, at)) {
      fs::remove_all(dir);
      break;  // the run went through: no later stop exists
    }
    std::vector<std::string> s{Bytes({32, 0x10, 2, 0, 0, 0}), Read(dir / "BBS/USERS/USERS.BBS"),
                               Read(dir / "BBS/USERS/LASTCOMB.BBS")};
    std::set<std::string> names;
    bool interrupted = false;
    for (const auto &e : fs::directory_iterator(dir / "BBS/MSG/AREA1")) {
      std::string name = e.path().filename().string();
      names.insert(name);
      if (name.size() < 4 || name.compare(name.size() - 4, 4, ".BBS") != 0) interrupted = true;
      s.push_back(name + "\n" + Read(e.path()));
    }
    if (interrupted && seen.insert(names).second) Seed("fuzz_journal", "stop" + std::to_string(at), s);
    made += interrupted;
    fs::remove_all(dir);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds <make_sample_board> <output directory>\n");
    return 2;
  }
  out = argv[2];
  char pattern[] = "/tmp/vlm-seeds-XXXXXX";
  if (!mkdtemp(pattern)) {
    std::perror("mkdtemp");
    return 1;
  }
  fs::path scratch = pattern;
  board = scratch / "board";
  std::string command = std::string("\"") + argv[1] + "\" \"" + board.string() + "\" >/dev/null";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "make_seeds: the sample board could not be written\n");
    fs::remove_all(scratch);
    return 1;
  }
  fs::remove_all(out);
  Switches();
  Dates();
  Startup();
  Users();
  MsgReply();
  FileIndex();
  Questionnaire();
  Pack();
  Journal(scratch);
  fs::remove_all(scratch);
  return 0;
}
