#include "program_frame.h"
#include "vlmcheck.h"

int main(int argc, char **argv) {
  static const ProgramInfo info{
      .banner = "Vlmcheck %s V%s.  Velmora Message Base Checker.\n",
      .code = "CHK",
      .logStart = "Vlmcheck %s Started",
      .logEnd = "Vlmcheck Finished",
      .completion = "\nVLMCHECK Completed\n",
      .switches = {"AREA", "DUMP", "DISABLEDEL"},
      .acceptValues = AcceptAreaSwitches,
      .help = Help,
      .work = CheckBoard,
  };
  return RunProgram(argc, argv, info);
}
