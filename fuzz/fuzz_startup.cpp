// Start-up: the system directory, the node from TASK and -NODE, the choice
// between CONFIG.<node>, CONFIG.VLM in the current directory and in the
// system directory, both records read whole or refused, the paths and the
// log name derived from them, and the node variant of FILEPATH.
//
// Input sections: 0 control, 1 TASK, 2 the -NODE value, 3 CONFIG.VLM of the
// system directory, 4 CONSTANT.VLM, 5 CONFIG.<n>, 6 CONFIG.VLM of the
// current directory, 7 FILEPATH.<n>.
// Control byte 0: bit 0 TASK set, bit 1 -NODE given, bit 2 VLM without its
// backslash, bit 3 program code given, bits 4-7 which of sections 3, 4, 5
// and 6 exist as files.  Bytes 1-2: n of the node variants (0-1000).
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "filepath_record.h"
#include "platform.h"
#include "startup.h"
#include "support.h"
#include "switches.h"
#include "text.h"

namespace {

std::string Replace(const std::string &text, const std::string &search, const std::string &with) {
  std::string out;
  size_t pos = 0;
  for (size_t hit; (hit = text.find(search, pos)) != std::string::npos; pos = hit + search.size())
    out += text.substr(pos, hit - pos) + with;
  return out + text.substr(pos);
}

std::string Pas(const uint8_t *field, size_t size) {
  size_t n = field[0] < size - 1 ? field[0] : size - 1;
  return std::string(reinterpret_cast<const char *>(field + 1), n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> s = fz::Sections(data, size, 8);
  uint8_t control = fz::Byte(s[0], 0, 0xFF);
  int variant = fz::U16(s[0], 1) % 1001;
  fz::ResetScratch();
  fz::MakeDir("BBS");
  fz::MakeDir("WORK");

  std::string task = s[1].c_str(), nodeText = s[2].c_str();
  bool taskSet = control & 1, nodeGiven = control & 2, withCode = control & 8;
  if (taskSet)
    setenv("TASK", task.c_str(), 1);
  else
    unsetenv("TASK");
  std::string vlm = control & 4 ? "C:\\BBS" : "C:\\BBS\\";
  setenv("VLM", vlm.c_str(), 1);
  std::string nodeArg = "-NODE" + nodeText;
  const char *argv[] = {"prog", nodeGiven ? nodeArg.c_str() : "-X"};
  SetArguments(2, argv);

  // The expected node, then the files that name it.
  int node = taskSet ? ReadDecimal(task) : 1;
  if (nodeGiven && !nodeText.empty()) node = ReadDecimal(nodeText);
  if (node < 1 || node > 999) node = 1;

  std::string variantName = "CONFIG." + std::to_string(variant);
  if (control & 0x10) fz::WriteFile("BBS/CONFIG.VLM", s[3]);
  if (control & 0x20) fz::WriteFile("BBS/CONSTANT.VLM", s[4]);
  if (control & 0x40) fz::WriteFile("BBS/" + variantName, s[5]);
  if (control & 0x80) fz::WriteFile("WORK/CONFIG.VLM", s[6]);
  fz::WriteFile("BBS/FILEPATH." + std::to_string(variant), s[7]);
  // The current directory is the second place CONFIG.VLM is looked for.
  static const std::string home = plat::CurrentDirectory();
  FZ_CHECK(chdir((fz::Scratch() + "WORK").c_str()) == 0);

  std::string error;
  int ok = InitVelmora(error, withCode ? "MSG" : nullptr);
  FZ_CHECK(chdir(home.c_str()) == 0);

  FZ_CHECK(ok == (error.empty() ? 1 : 0));
  FZ_CHECK(Node == node);
  FZ_CHECK(SystemPath == "C:\\BBS\\");

  std::string config;
  bool found = true;
  if ((control & 0x40) && variant == node)
    config = s[5];
  else if (control & 0x80)
    config = s[6];
  else if (control & 0x10)
    config = s[3];
  else
    found = false;
  bool configRead = found && config.size() >= sizeof(ConfigRecord);
  bool constantRead = (control & 0x20) && s[4].size() >= sizeof(ConstantRecord);
  FZ_CHECK(ok == (configRead && constantRead ? 1 : 0));
  if (!found && constantRead) FZ_CHECK(error == "CONFIG.VLM not found");
  if (configRead) {
    FZ_CHECK(std::memcmp(&Config, config.data(), sizeof Config) == 0);
    FZ_CHECK(MsgPath == Pas(Config.MsgBaseDir, sizeof Config.MsgBaseDir));
    FZ_CHECK(UserBasePath == Pas(Config.UserBaseDir, sizeof Config.UserBaseDir));
    std::string log = Pas(Config.MaintLogName, sizeof Config.MaintLogName);
    for (char &c : log)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (withCode) log = Replace(log, "*T", "MSG");
    FZ_CHECK(MaintLog == Replace(log, "*N", std::to_string(node)));
  }
  if (constantRead) FZ_CHECK(std::memcmp(&Constant, s[4].data(), sizeof Constant) == 0);

  // FILEPATH.<node> of the system directory comes before FILEPATH.VLM.
  plat::UniqueFile areas = OpenFilePathFile(4096);
  FZ_CHECK((areas != nullptr) == (variant == node));
  return 0;
}
