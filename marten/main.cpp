#include <cstdio>

#include "marten.h"
#include "program_frame.h"
#include "switches.h"

void ShowHelp() {
  std::printf("Command Line Parameters\n\n");
  std::printf("  -BUILD        Build and Sort the Fast Find Index\n");
  std::printf("  -SORT         Sort the Fast Find Index\n");
  std::printf("  -NODE<1.999>  Node Number\n\n");
}

// -BUILD builds and sorts, -SORT only sorts; the sort runs once even when
// both are given.  Without either the run does nothing but its log lines.
void MartenWork() {
  bool build = FindMinusSlashParam("BUILD");
  if (build) ProcessFilePath();
  if (build || FindMinusSlashParam("SORT")) SortFileIndex();
}

int main(int argc, char **argv) {
  static const ProgramInfo info{
      .banner = "Marten %s V%s.  Velmora Fast Find Index Maintenance.\n",
      .code = "IDX",
      .logStart = "Marten %s Started",
      .logEnd = "Marten Finished",
      .completion = "MARTEN Completed\n",
      .switches = {"BUILD", "SORT"},
      .help = ShowHelp,
      .work = MartenWork,
  };
  return RunProgram(argc, argv, info);
}
