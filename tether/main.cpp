#include <cstdio>

#include "program_frame.h"
#include "tether.h"

void ShowHelp() {
  std::printf("Command Line Parameters\n\n");
  std::printf("  -LINKALL        Link All Message Areas\n");
  std::printf("  -NODE<1..999>   Node Number\n");
}

int main(int argc, char **argv) {
  static const ProgramInfo info{
      .banner = "Tether %s V%s.  Velmora Fast Message Base Linker.\n",
      .code = "LNK",
      .logStart = "Tether %s Started",
      .logEnd = "Tether Finished",
      .completion = "\nTether Completed\n",
      .switches = {"LINKALL"},
      .help = ShowHelp,
      .work = LinkMessageBase,
  };
  return RunProgram(argc, argv, info);
}
