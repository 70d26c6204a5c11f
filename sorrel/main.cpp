#include "program_frame.h"
#include "sorrel.h"

int main(int argc, char **argv) { return RunProgram(argc, argv, SorrelProgram()); }
