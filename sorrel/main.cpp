#include "program_frame.h"
#include "sorrel.h"

int main(int argc, char **argv) {
  static const ProgramInfo info{
      .banner = "Sorrel %s V%s.  Velmora Message Base Maintenance.\n",
      .code = "MSG",
      .logStart = "Sorrel %s Started",
      .logEnd = "Sorrel Finished",
      .completion = "\nSorrel Completed\n",
      .switches = {"CLEANUP", "LINK", "FASTMAIL", "DISABLEDEL"},  // LINK also takes -LINKALL
      .help = Help,
      .work = CompressMessageBase,
  };
  return RunProgram(argc, argv, info);
}
