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
      "Tether %s V%s.  Velmora Fast Message Base Linker.\n", "LNK", "Tether %s Started", "Tether Finished",
      "\nTether Completed\n", ShowHelp, LinkMessageBase, true,
  };
  return RunProgram(argc, argv, info);
}
