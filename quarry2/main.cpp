#include <cstdio>
#include <string>

#include "program_frame.h"
#include "quarry2.h"
#include "startup.h"
#include "switches.h"
#include "system_log.h"

void ShowHelp() {
  std::printf("Command Line Parameters\n\n");
  // Without a board the help still shows; the range then has no figure.
  std::string areas = StartupSucceeded() ? std::to_string(Constant.MaxFileAreas) : "n";
  std::printf("  -LIST<filename> [-FROM<1..%s>] [-TO<1..%s>] [-MINSEC<sec>] [-MAXSEC<sec>]\n", areas.c_str(),
              areas.c_str());
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
      // FROM and TO are read in their "-" form only; "/FROM5" is taken as
      // one of the program's switches all the same, and ignored.
      .switches = {"LIST", "FROM", "TO", "MINSEC", "MAXSEC", "COMPILE"},
      .help = ShowHelp,
      .work = Quarry2Work,
  };
  return RunProgram(argc, argv, info);
}
