#include <cstdio>

#include "program_frame.h"
#include "quarry2.h"
#include "startup.h"
#include "switches.h"
#include "system_log.h"

void ShowHelp() {
  std::printf("Command Line Parameters\n\n");
  std::printf("  -LIST<filename> [-FROM<1..%d>] [-TO<1..%d>] [-MINSEC<sec>] [-MAXSEC<sec>]\n",
              Constant.MaxFileAreas, Constant.MaxFileAreas);
  std::printf("                Write list directories to a file\n");
  std::printf("  -COMPILE<questionnaire>\n");
  std::printf("  -NODE<1..999>  Node Number\n");
}

void Quarry2Work() {
  if (FindMinusSlashParam("LIST")) {
    ListDirs();
  } else if (FindMinusSlashParam("COMPILE")) {
    CompileQA();
  } else {
    WriteSystemLog("No Valid Commands Specified");
    std::printf("%s\n", "No Valid Commands Specified");
  }
}

int main(int argc, char **argv) {
  static const ProgramInfo info{
      .banner = "Quarry2 %s V%s.  Velmora Utilities 2.\n",
      .code = "UT2",
      .logStart = "Quarry2 %s Started",
      .logEnd = "Quarry2 Finished",
      .completion = "\nQUARRY2 Completed\n",
      .help = ShowHelp,
      .work = Quarry2Work,
  };
  return RunProgram(argc, argv, info);
}
