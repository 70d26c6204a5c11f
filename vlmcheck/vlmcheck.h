// vlmcheck: a read-only health check of the board's message base and
// fast-find index, with what a pack would remove from each message area.
//
// It changes no file of the board; its lines in the maintenance log are all
// it writes.  Every board file is opened for reading with no sharing
// restriction, only while it is read, and no lock is taken, so the check
// may run while the board is up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the run found, for the closing summary.
struct CheckTotals {
  uint32_t areas = 0;       // message areas in use that were checked
  uint64_t messages = 0;    // their headers
  uint64_t removed = 0;     // messages a pack would remove
  int64_t reclaimed = 0;    // bytes that pack would reclaim
  bool indexChecked = false;
  uint64_t indexRecords = 0;
  uint64_t problems = 0;
};
extern CheckTotals Totals;

// Prints one problem line ("  Problem: <text>") and counts it; a run that
// found a problem ends with status 2.
void ReportProblem(const std::string &text);
// Counts a problem whose line is left out (see ProblemLines).
void CountProblem();
// A board file that could not be read, as a problem: "<system error text>
// <action> <file>" (the system's message for a file failure, with errno's
// text), in the maintenance log too.
void ReportUnreadable(const char *action, const std::string &path);

// Problem lines of one kind in one area: the first few are printed, the
// rest counted, and one line says how many were left out.
class ProblemLines {
 public:
  static constexpr uint32_t kShown = 10;
  void Add(const std::string &text);
  // Prints "  Problem: <where>: <n> more <what>" when lines were left out.
  void Finish(const std::string &where, const char *what);

 private:
  uint32_t shown_ = 0;
  uint32_t more_ = 0;
};

// Reads a whole board file (at most `limit` bytes) and closes it again.
// Returns 1; kFileMissing when there is no such file (nothing reported, the
// caller decides what that means); 0 when it could not be opened or read,
// reported as a problem.
inline constexpr int kFileMissing = -1;
int ReadBoardFile(const std::string &path, std::string &bytes, size_t limit = SIZE_MAX);

// Control characters of the board's texts as '?', so a record can never
// send the console an escape sequence.
std::string Printable(std::string text);

// The message areas (`onlyArea` 0: all of them) and MSGFAST.BBS; with
// doDelete 0 the figures are those of a pack with -DISABLEDEL.
void CheckMessageBase(uint16_t onlyArea, int doDelete);
// The table of one area's headers.
void DumpArea(uint16_t area);
// FFIDX.BBS, FFPTR.BBS and the total of SYSINFO.BBS.
void CheckFileIndex();

void Help();
// The area numbers of -AREA<n> and -DUMP<n>: 0 (refused, said why) unless
// each is one of the board's message areas and they name the same one.
int AcceptAreaSwitches();
void CheckBoard();
