// Packing speed of the real sorrel program, next to the least the same bytes
// cost the system, measured side by side in one run.
//
//   sorrel_bench [--row 1|2|3|4] [--repeat N] [--sorrel PATH]
//   sorrel_bench make <dir> <areas> <users> (--mib N | --messages N)
//
// The floor of one measurement: `cp -r --reflink=never` of the board's
// message directory to a sibling, `sync -f` on the copy, and the deletion of
// the message directory the copy replaces, all timed.  A pack deletes the
// files it replaces, which are on the disk: freeing their blocks costs the
// file system several times what deleting a copy that was never synced
// does (row 2b), so the floor deletes the same files.  The sorrel
// side: sorrel run as a process on the same pristine board, without
// switches (it always packs every area), timed from start to exit.  Before
// each timed side a scratch file as large as the board is written and
// deleted, then everything is synced, so both sides start in the same
// memory state.  Floor and sorrel alternate which goes first.
//
//   1   1 GiB of text in 300 areas, 2,000 users            sorrel / floor, at most 1.1x
//   2   200 MiB in 200 areas, 2,000 users                   sorrel / floor, at most 1.2x
//   2b  the same with syncs made no-ops (eatmydata)         sorrel / copy + delete, at most 1.3x
//   3   2,000 areas x 30 messages, 2,000 users              sorrel / floor, at most 2x
//   4   ten times the areas, the users, the bytes          sorrel / sorrel, at most 12x
//
// Each ratio is the median of the per-repetition ratios.  The peak resident
// size of sorrel (from its rusage) is reported per row: what it holds must
// stay bounded however large the board.
//
// `make` writes one board for trying sorrel by hand or under a profiler, and
// prints the environment that runs sorrel on it.  Boards are generated from a
// fixed seed: a fifth of the messages are marked deleted and every area
// keeps at most two thirds of its messages, so about a third goes.
//
// POSIX only (processes, rusage); the Windows build leaves it out.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "msgbase.h"
#include "startup.h"
#include "text.h"

#ifndef SORREL_EXE
#define SORREL_EXE "sorrel"
#endif

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Set by SIGINT or SIGTERM: the run stops after the current step and removes
// its boards.  The program running then gets the signal too, so a long pack
// does not hold up the stop.
volatile std::sig_atomic_t Stopping = 0;
volatile pid_t RunningChild = 0;
fs::path WorkRoot;  // everything the default mode writes, removed on every exit

[[noreturn]] void Finish(int status) {
  std::error_code ec;
  if (!WorkRoot.empty()) fs::remove_all(WorkRoot, ec);
  std::exit(status);
}

[[noreturn]] void Fail(const std::string &why) {
  std::fprintf(stderr, "sorrel_bench: %s\n", why.c_str());
  Finish(1);
}

void StopIfAsked() {
  if (Stopping) {
    std::fprintf(stderr, "sorrel_bench: interrupted, boards removed\n");
    Finish(130);
  }
}

// ---------------------------------------------------------------- processes

struct Finished {
  int status = -1;  // exit status; 128 + signal when killed
  double seconds = 0;
  long maxRssKiB = 0;
};

// Variables set for the child; an empty value removes one.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs a program found on PATH (or by its path) and waits for it, timed from
// just before the start to its exit.  `quiet` sends its output to /dev/null.
Finished RunProgram(const std::vector<std::string> &args, const Environment &env = {}, bool quiet = false) {
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  Finished done;
  std::fflush(nullptr);
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid < 0) return done;
  if (pid == 0) {
    for (const auto &[name, value] : env) {
      if (value.empty())
        ::unsetenv(name.c_str());
      else
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    if (quiet) {
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(127);
  }
  RunningChild = pid;
  if (Stopping) ::kill(pid, SIGTERM);
  int status = 0;
  struct rusage usage {};
  int waited;
  while ((waited = ::wait4(pid, &status, 0, &usage)) < 0 && errno == EINTR) {
  }
  RunningChild = 0;
  if (waited < 0) return done;
  done.seconds = Seconds(start);
  done.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  done.maxRssKiB = usage.ru_maxrss;
  return done;
}

// A helper step (cp, sync, rm) that must work for the figures to mean anything.
double MustRun(const std::vector<std::string> &args) {
  Finished done = RunProgram(args);
  StopIfAsked();
  if (done.status != 0) Fail(args[0] + " " + args.back() + " failed with status " + std::to_string(done.status));
  return done.seconds;
}

bool OnPath(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t end = dirs.find(':', from);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(from, end - from);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    from = end + 1;
  }
  return false;
}

// ---------------------------------------------------------------- boards

// Either `mib` MiB of text spread over the areas (texts of 300 to 7,000
// bytes), or `messages` messages of 300 to 1,400 bytes in every area.
struct Shape {
  int areas = 0;
  int users = 0;
  uint64_t mib = 0;
  int messages = 0;

  std::string Key() const {
    return std::to_string(areas) + "a" + std::to_string(users) + "u" +
           (mib ? std::to_string(mib) + "m" : std::to_string(messages) + "x");
  }
  std::string Text() const {
    std::string size = mib ? std::to_string(mib) + " MiB in " + std::to_string(areas) + " areas"
                           : std::to_string(areas) + " areas x " + std::to_string(messages) + " messages";
    return size + ", " + std::to_string(users) + " users";
  }
};

// The board's records hold DOS paths on drive C:; VLM_DRIVE_C names the
// host directory that stands for it.
const char kSystemDir[] = "C:\\BBS\\";

bool WriteWhole(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

template <typename T>
void Append(std::string &bytes, const T &record) {
  bytes.append(reinterpret_cast<const char *>(&record), sizeof record);
}

struct BoardTotals {
  uint64_t messages = 0;
  uint64_t textBytes = 0;
};

// Writes a whole board under `drive` (the directory that stands for C:):
// CONFIG.VLM, CONSTANT.VLM, MESSAGES.VLM, the areas in directories of 100,
// MSGCOUNT.BBS, MSGREPLY.BBS, USERS.BBS and LASTCOMB.BBS with random
// next-read numbers.  Returns false, with `why`, when a file cannot be written.
bool MakeBoard(const fs::path &drive, const Shape &shape, BoardTotals &totals, std::string &why) {
  const fs::path bbs = drive / "BBS";
  std::error_code ec;
  for (const char *dir : {"MSG", "USERS", "ATTACH"}) fs::create_directories(bbs / dir, ec);
  const uint16_t maxAreas = static_cast<uint16_t>((shape.areas + 15) / 16 * 16);

  ConfigRecord config{};
  CToPas(std::string(kSystemDir) + "MSG\\", config.MsgBaseDir);
  CToPas(std::string(kSystemDir) + "USERS\\", config.UserBaseDir);
  CToPas(std::string(kSystemDir) + "SORREL.LOG", config.MaintLogName);
  CToPas(std::string(kSystemDir) + "ATTACH\\", config.FileAttachPath);
  ConstantRecord constant{};
  constant.MaxMsgAreas = maxAreas;
  std::string configBytes, constantBytes;
  Append(configBytes, config);
  Append(constantBytes, constant);

  std::mt19937 rng(1234);
  std::string pool(16384, '\0');
  for (char &c : pool) c = static_cast<char>(rng() % 7 == 0 ? ' ' : 'a' + rng() % 26);

  std::string records;
  std::vector<uint16_t> counts(maxAreas, 0);
  const uint64_t perArea = shape.mib * 1024 * 1024 / uint64_t(shape.areas);
  const uint32_t written = (44u << 25) | (3u << 21) | (14u << 16) | (20u << 11);  // 14-Mar-2024 20:00
  for (int a = 1; a <= shape.areas; ++a) {
    std::string headers, texts;
    size_t count = 0;
    for (;;) {
      if (shape.mib ? texts.size() >= perArea : count >= size_t(shape.messages)) break;
      if (count == 60000) break;  // message numbers are 16 bits
      size_t length = shape.mib ? 300 + rng() % 6701 : 300 + rng() % 1101;
      MessageHeader h{};
      h.TextStart = static_cast<uint32_t>(texts.size());
      h.TextLength = static_cast<int32_t>(length);
      h.Attribute = rng() % 5 == 0 ? kMsgDeleted : 0;
      h.DateWritten = static_cast<int32_t>(written);
      CToPas("User " + std::to_string(rng() % unsigned(shape.users + 200)), h.WhoTo);
      CToPas("Somebody", h.WhoFrom);
      CToPas("Subject " + std::to_string(rng() % 50), h.Subject);
      Append(headers, h);
      texts.append(pool, rng() % (pool.size() - 7000), length - 2);
      texts += "\r\n";
      ++count;
    }
    MessageRecord r{};
    CToPas("Area " + std::to_string(a), r.AreaName);
    r.AreaType = 2;
    r.AreaFlags = kAreaFastMail;
    r.MaxMsgs = static_cast<uint16_t>(count * 2 / 3);
    Append(records, r);
    counts[size_t(a - 1)] = static_cast<uint16_t>(count);

    fs::path dir = bbs / "MSG" / ("AREA" + std::to_string((a - 1) / 100 + 1));
    fs::create_directories(dir, ec);
    char name[24];
    std::snprintf(name, sizeof name, "MH%05d.BBS", a);
    bool ok = WriteWhole(dir / name, headers);
    std::snprintf(name, sizeof name, "MT%05d.BBS", a);
    if (!ok || !WriteWhole(dir / name, texts)) {
      why = "cannot write the files of area " + std::to_string(a) + " in " + dir.string();
      return false;
    }
    totals.messages += count;
    totals.textBytes += texts.size();
    if (Stopping) {
      why = "interrupted";
      return false;
    }
  }

  std::string users;
  for (int u = 0; u < shape.users; ++u) {
    UserRecord user{};
    CToPas("User " + std::to_string(u), user.UserName);
    CToPas("User " + std::to_string(u), user.UserAlias);
    Append(users, user);
  }
  std::string lastComb;
  for (int u = 0; u < shape.users; ++u) {
    for (int b = 0; b < maxAreas / 16; ++b) {
      NextReadBlock block{};
      for (int i = 0; i < 16; ++i) {
        uint16_t count = counts[size_t(b * 16 + i)];
        if (b * 16 + i < shape.areas) block.NextRead[i] = static_cast<uint16_t>(1 + rng() % (count + 1u));
      }
      Append(lastComb, block);
    }
  }
  std::string countBytes(reinterpret_cast<const char *>(counts.data()), counts.size() * sizeof(uint16_t));

  const std::pair<fs::path, const std::string *> files[] = {
      {bbs / "CONFIG.VLM", &configBytes},
      {bbs / "CONSTANT.VLM", &constantBytes},
      {bbs / "MESSAGES.VLM", &records},
      {bbs / "MSG" / "MSGCOUNT.BBS", &countBytes},
      {bbs / "USERS" / "USERS.BBS", &users},
      {bbs / "USERS" / "LASTCOMB.BBS", &lastComb},
  };
  for (const auto &[path, bytes] : files) {
    if (!WriteWhole(path, *bytes)) {
      why = "cannot write " + path.string();
      return false;
    }
  }
  // No area has new mail to link.
  if (!WriteWhole(bbs / "MSG" / "MSGREPLY.BBS", std::string(maxAreas, '\0'))) {
    why = "cannot write MSGREPLY.BBS";
    return false;
  }
  return true;
}

// What sorrel needs to find the board under `drive`; TASK is removed so the
// run is node 1.
Environment BoardEnvironment(const fs::path &drive) {
  return {{"VLM", kSystemDir}, {"VLM_DRIVE_C", fs::absolute(drive).string()}, {"TASK", ""}};
}

uint64_t TreeBytes(const fs::path &dir) {
  uint64_t bytes = 0;
  std::error_code ec;
  for (const auto &e : fs::recursive_directory_iterator(dir, ec))
    if (e.is_regular_file(ec)) bytes += e.file_size(ec);
  return bytes;
}

// ---------------------------------------------------------------- measuring

struct Pristine {
  fs::path drive;
  uint64_t bytes = 0;     // the whole board
  uint64_t msgBytes = 0;  // its message directory
};

class Bench {
 public:
  Bench(fs::path root, std::string sorrel, bool eatmydata)
      : root_(std::move(root)), sorrel_(std::move(sorrel)), eatmydata_(eatmydata) {}

  bool HasEatMyData() const { return eatmydata_; }

  // The pristine copy of a board of this shape, generated on first use.
  const Pristine &Board(const Shape &shape) {
    auto found = pristine_.find(shape.Key());
    if (found != pristine_.end()) return found->second;
    Pristine p;
    p.drive = root_ / ("pristine-" + shape.Key());
    std::printf("generating %s...\n", shape.Text().c_str());
    BoardTotals totals;
    std::string why;
    if (!MakeBoard(p.drive, shape, totals, why)) {
      StopIfAsked();
      Fail(why);
    }
    p.bytes = TreeBytes(p.drive);
    p.msgBytes = TreeBytes(p.drive / "BBS" / "MSG");
    return pristine_[shape.Key()] = p;
  }

  // The floor: copy of the message directory to a sibling, sync of the
  // copy's file system, deletion of the message directory the copy
  // replaces.  Without syncs (row 2b) the copy runs under eatmydata and
  // nothing is synced.
  double Floor(const Shape &shape, bool syncs) {
    Restore(shape);
    EvenMemory(shape);
    fs::path msg = board_ / "BBS" / "MSG", copy = board_ / "BBS" / "MSG.copy";
    std::vector<std::string> cp = {"cp", "-r", "--reflink=never", msg.string(), copy.string()};
    if (!syncs) cp.insert(cp.begin(), "eatmydata");
    dirty_ = true;
    double seconds = MustRun(cp);
    if (syncs) seconds += MustRun({"sync", "-f", copy.string()});
    seconds += MustRun({"rm", "-rf", msg.string()});
    return seconds;
  }

  // One sorrel run on the pristine board; with `syncs` false under eatmydata.
  Finished Sorrel(const Shape &shape, bool syncs) {
    Restore(shape);
    EvenMemory(shape);
    std::vector<std::string> args = {sorrel_};
    if (!syncs) args.insert(args.begin(), "eatmydata");
    Finished done = RunProgram(args, BoardEnvironment(board_), true);
    StopIfAsked();
    if (done.status != 0) {
      Fail("sorrel exited with status " + std::to_string(done.status) + " on " + shape.Text() +
           "; run `sorrel_bench make` and sorrel by hand to see why");
    }
    dirty_ = true;
    if (!checked_.count(shape.Key())) {
      checked_[shape.Key()] = true;
      const Pristine &p = Board(shape);
      std::printf("  packed %s: message directory %.1f -> %.1f MiB\n", shape.Text().c_str(), p.msgBytes / 1048576.0,
                  TreeBytes(board_ / "BBS" / "MSG") / 1048576.0);
    }
    return done;
  }

 private:
  // The working board as a fresh copy of the pristine one, untimed.
  void Restore(const Shape &shape) {
    const Pristine &p = Board(shape);
    if (!dirty_ && current_ == shape.Key()) return;
    // Each copy under a new name, made before the last one is deleted: the
    // file system places it in a block group of its own, away from the
    // deletions.  On ext4 without its journal, creating a file walks every
    // inode of its group deleted in the last minutes; with one name the
    // copy landed where the last one was just deleted, and both sides paid
    // for the setup's deletions, each by the files it creates.
    fs::path previous = board_;
    board_ = root_ / ("board-" + std::to_string(++copies_));
    MustRun({"cp", "-r", "--reflink=never", p.drive.string(), board_.string()});
    if (!previous.empty()) MustRun({"rm", "-rf", previous.string()});
    current_ = shape.Key();
    dirty_ = false;
  }

  // A scratch file as large as the board written and deleted, then a sync:
  // the timed side finds the memory the host had taken back for the cache
  // already handed out, whichever side ran before.
  void EvenMemory(const Shape &shape) {
    uint64_t left = Board(shape).bytes;
    fs::path scratch = root_ / "scratch";
    std::string chunk(1 << 20, 'x');
    {
      std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
      while (left > 0 && out) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
        out.write(chunk.data(), static_cast<std::streamsize>(n));
        left -= n;
      }
      out.close();
      if (out.fail()) Fail("cannot write the scratch file " + scratch.string());
    }
    std::error_code ec;
    fs::remove(scratch, ec);
    ::sync();
    StopIfAsked();
  }

  fs::path root_, board_;
  std::string sorrel_;
  bool eatmydata_;
  std::map<std::string, Pristine> pristine_;
  std::map<std::string, bool> checked_;
  std::string current_;
  bool dirty_ = true;
  int copies_ = 0;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Row {
  std::string name, board;
  double sorrel = 0, base = 0, ratio = 0, goal = 0;
  long maxRssKiB = 0;
  std::string note;  // instead of figures: why the row was not measured
};

// `repeat` measurements of a side against a base, alternating which goes
// first; the row takes the medians of each and of their ratios, and the
// peak resident size of either.  `line` prints one repetition's figures.
template <typename Side, typename Base, typename Line>
void MeasureAlternating(Row &row, int repeat, Side side, Base base, Line line) {
  std::vector<double> sides, bases, ratios;
  for (int r = 0; r < repeat; ++r) {
    Finished s, b;
    if (r % 2 == 0) {
      b = base();
      s = side();
    } else {
      s = side();
      b = base();
    }
    sides.push_back(s.seconds);
    bases.push_back(b.seconds);
    ratios.push_back(s.seconds / b.seconds);
    row.maxRssKiB = std::max({row.maxRssKiB, s.maxRssKiB, b.maxRssKiB});
    std::printf("  row %s, %d of %d: ", row.name.c_str(), r + 1, repeat);
    line(s.seconds, b.seconds, ratios.back());
  }
  row.sorrel = Median(sides);
  row.base = Median(bases);
  row.ratio = Median(ratios);
}

// Sorrel against the floor.
Row MeasureAgainstFloor(Bench &bench, const std::string &name, const Shape &shape, double goal, int repeat,
                        bool syncs) {
  Row row{name, shape.Text() + (syncs ? "" : ", no syncs"), 0, 0, 0, goal, 0, ""};
  MeasureAlternating(
      row, repeat, [&] { return bench.Sorrel(shape, syncs); },
      [&] {
        Finished floor;
        floor.seconds = bench.Floor(shape, syncs);
        return floor;
      },
      [](double s, double b, double ratio) { std::printf("sorrel %.2f s, floor %.2f s, %.2fx\n", s, b, ratio); });
  return row;
}

// Sorrel on a board ten times larger in one dimension against sorrel on the
// smaller one.
Row MeasureGrowth(Bench &bench, const std::string &name, const std::string &what, const Shape &small,
                  const Shape &large, int repeat) {
  Row row{name, what, 0, 0, 0, 12, 0, ""};
  MeasureAlternating(
      row, repeat, [&] { return bench.Sorrel(large, true); }, [&] { return bench.Sorrel(small, true); },
      [](double l, double s, double ratio) { std::printf("%.2f -> %.2f s, %.2fx\n", s, l, ratio); });
  return row;
}

void PrintTable(const std::vector<Row> &rows) {
  std::printf("\n%-4s %-52s %9s %9s %8s %6s %-7s %s\n", "row", "board", "sorrel s", "floor s", "ratio", "goal",
              "result", "sorrel peak RSS");
  for (const Row &r : rows) {
    if (!r.note.empty()) {
      std::printf("%-4s %-52s %s\n", r.name.c_str(), r.board.c_str(), r.note.c_str());
      continue;
    }
    std::printf("%-4s %-52s %9.2f %9.2f %7.2fx %5.1fx %-7s %.1f MiB\n", r.name.c_str(), r.board.c_str(), r.sorrel,
                r.base, r.ratio, r.goal, r.ratio <= r.goal ? "ok" : "MISSED", r.maxRssKiB / 1024.0);
  }
  std::printf("Row 2b's floor is a copy and delete without syncs; row 4's \"sorrel s\" is the larger board,\n"
              "its \"floor s\" sorrel on the smaller one.  Ratios are medians of per-repetition ratios.\n");
}

int Usage() {
  std::fprintf(stderr,
               "usage: sorrel_bench [--row 1|2|3|4] [--repeat N] [--sorrel PATH]\n"
               "       sorrel_bench make <dir> <areas> <users> (--mib N | --messages N)\n");
  return 2;
}

int MakeCommand(int argc, char **argv) {
  if (argc != 7) return Usage();
  Shape shape;
  shape.areas = std::atoi(argv[3]);
  shape.users = std::atoi(argv[4]);
  long amount = std::atol(argv[6]);
  if (std::strcmp(argv[5], "--mib") == 0)
    shape.mib = static_cast<uint64_t>(amount);
  else if (std::strcmp(argv[5], "--messages") == 0)
    shape.messages = static_cast<int>(amount);
  else
    return Usage();
  if (shape.areas < 1 || shape.areas > 65520 || shape.users < 1 || shape.users > 65535 || amount < 1)
    return Usage();
  fs::path drive = argv[2];
  std::error_code ec;
  if (fs::exists(drive, ec) && !fs::is_empty(drive, ec)) {
    std::fprintf(stderr, "sorrel_bench: %s is not empty; the board goes into a new or empty directory\n", argv[2]);
    return 1;
  }
  BoardTotals totals;
  std::string why;
  if (!MakeBoard(drive, shape, totals, why)) {
    std::fprintf(stderr, "sorrel_bench: %s\n", why.c_str());
    return 1;
  }
  std::printf("%s: %llu messages, %.1f MiB of text\n", shape.Text().c_str(),
              static_cast<unsigned long long>(totals.messages), totals.textBytes / 1048576.0);
  std::printf("run sorrel on it with:\n  env -u TASK VLM_DRIVE_C=%s 'VLM=%s' %s\n",
              fs::absolute(drive).string().c_str(), kSystemDir, SORREL_EXE);
  return 0;
}

void OnSignal(int signal) {
  Stopping = 1;
  if (RunningChild > 0) ::kill(RunningChild, signal);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "make") == 0) return MakeCommand(argc, argv);

  std::string onlyRow, sorrel = SORREL_EXE;
  int repeat = 3;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--row")
      onlyRow = argv[++i];
    else if (arg == "--repeat")
      repeat = std::atoi(argv[++i]);
    else if (arg == "--sorrel")
      sorrel = argv[++i];
    else
      return Usage();
  }
  if (repeat < 1 || !(onlyRow.empty() || onlyRow == "1" || onlyRow == "2" || onlyRow == "3" || onlyRow == "4"))
    return Usage();
  if (::access(sorrel.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "sorrel_bench: no program %s (give one with --sorrel PATH)\n", sorrel.c_str());
    return 1;
  }
  sorrel = fs::absolute(sorrel).string();

  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  std::random_device seed;
  WorkRoot = fs::temp_directory_path() / ("sorrel_bench_" + std::to_string(seed()));
  std::error_code ec;
  if (!fs::create_directory(WorkRoot, ec)) Fail("cannot create " + WorkRoot.string());
  // Each board made here is placed by the file system as a top directory
  // is, in a block group of its own: on ext4 without its journal, creating a
  // file walks every inode of its group deleted in the last minutes, and
  // without this every repetition would walk the deletions of the one
  // before (both sides alike, but by how much depends on the order).
  if (OnPath("chattr")) RunProgram({"chattr", "+T", WorkRoot.string()}, {}, true);
  Bench bench(WorkRoot, sorrel, OnPath("eatmydata"));
  std::printf("boards in %s, sorrel %s, %d repetitions\n", WorkRoot.c_str(), sorrel.c_str(), repeat);

  const Shape row1{300, 2000, 1024, 0}, row2{200, 2000, 200, 0}, row3{2000, 2000, 0, 30};
  auto wanted = [&](const char *row) { return onlyRow.empty() || onlyRow == row; };
  std::vector<Row> rows;
  if (wanted("1")) rows.push_back(MeasureAgainstFloor(bench, "1", row1, 1.1, repeat, true));
  if (wanted("2")) {
    rows.push_back(MeasureAgainstFloor(bench, "2", row2, 1.2, repeat, true));
    if (bench.HasEatMyData()) {
      rows.push_back(MeasureAgainstFloor(bench, "2b", row2, 1.3, repeat, false));
    } else {
      Row skipped{"2b", row2.Text() + ", no syncs", 0, 0, 0, 1.3, 0, ""};
      skipped.note = "skipped: no eatmydata on PATH (apt-get install eatmydata)";
      rows.push_back(skipped);
    }
  }
  if (wanted("3")) rows.push_back(MeasureAgainstFloor(bench, "3", row3, 2.0, repeat, true));
  if (wanted("4")) {
    rows.push_back(MeasureGrowth(bench, "4a", "200 -> 2000 areas (30 messages each, 2000 users)",
                                 Shape{200, 2000, 0, 30}, row3, repeat));
    rows.push_back(MeasureGrowth(bench, "4b", "200 -> 2000 users (2000 areas x 30 messages)",
                                 Shape{2000, 200, 0, 30}, row3, repeat));
    rows.push_back(MeasureGrowth(bench, "4c", "20 -> 200 MiB (200 areas, 2000 users)", Shape{200, 2000, 20, 0},
                                 row2, repeat));
  }
  PrintTable(rows);
  Finish(0);
}
