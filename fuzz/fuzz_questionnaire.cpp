// Questionnaire scripts through the compiler: the compiled file is CR LF
// text of the script's kept lines, and every jump offset it holds is the
// start of one of its lines (or its end), never a place inside a line or
// beyond the file.
//
// Input: the script.
#include <string>

#include "quarry2.h"
#include "support.h"
#include "switches.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fz::ResetScratch();
  fz::WriteFile("Q/SCRIPT.Q", std::string(reinterpret_cast<const char *>(data), size));
  const char *argv[] = {"quarry2", "-COMPILEC:\\Q\\SCRIPT.Q"};
  SetArguments(2, argv);
  CompileQA();

  // Statements of the board's own pass through as written, control codes
  // too: only a script without any can be held to the compiler's jumps.
  bool ownControls = std::string(reinterpret_cast<const char *>(data), size).find("@#") == std::string::npos;
  std::string out;
  FZ_CHECK(fz::ReadFile("Q/SCRIPT.QAC", out));
  FZ_CHECK(out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0);
  FZ_CHECK(out.rfind("; Compiled on ", 0) == 0);
  size_t headerEnd = out.find("\r\n") + 2;
  size_t pos = headerEnd;
  while (pos < out.size()) {
    size_t end = out.find("\r\n", pos);
    FZ_CHECK(end != std::string::npos);
    std::string line = out.substr(pos, end - pos);
    // Every line of the script's that is kept: never empty, a comment or a label.
    FZ_CHECK(!line.empty() && line[0] != ';' && line[0] != ':');
    FZ_CHECK(line.find('\n') == std::string::npos);
    if (ownControls && (line.rfind("@#00 ", 0) == 0 || line.rfind("@#01 ", 0) == 0)) {
      FZ_CHECK(line.size() == 13);
      unsigned long target = 0;
      for (size_t i = 5; i < 13; ++i) {
        FZ_CHECK(line[i] >= '0' && line[i] <= '9');
        target = target * 10 + static_cast<unsigned long>(line[i] - '0');
      }
      // 0 is left for a label that does not exist; anything else is a line start.
      if (target != 0) {
        FZ_CHECK(target >= headerEnd && target <= out.size());
        FZ_CHECK(out[target - 1] == '\n' && out[target - 2] == '\r');
      }
    }
    pos = end + 2;
  }
  return 0;
}
