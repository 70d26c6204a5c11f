#include "startup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "files.h"
#include "platform.h"
#include "switches.h"
#include "text.h"

std::string SystemPath;
int Node = 1;
ConfigRecord Config;
ConstantRecord Constant;
std::string MsgPath;
std::string UserBasePath;
std::string MaintLog;

std::string &GetSystemPath() {
  std::string path;
  if (const char *vlm = std::getenv("VLM")) {
    path = vlm;
  } else {
    // Kept whole even when it is too long for the board's names: a cut
    // text would name another directory, while every file name built on
    // the whole text is refused as too long.
    path = plat::CurrentDirectory();
  }
  SystemPath = AppendBackslash(path);
  return SystemPath;
}

std::string &FindDataFilePath(const std::string &name, std::string &path) {
  const std::string candidates[] = {
      SystemPath + name + "." + std::to_string(Node),
      name + ".VLM",
      SystemPath + name + ".VLM",
  };
  path.clear();
  for (const std::string &c : candidates) {
    if (ExistFile(c)) {
      path = c;
      break;
    }
  }
  return path;
}

namespace {

// Reads one whole record; fills `error` with the opening or reading message.
bool ReadRecord(const std::string &name, void *record, size_t size, std::string &error) {
  plat::UniqueFile f(plat::OpenFile(name, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!f) {
    error = StrPrintf("%s opening %s", std::strerror(errno), name.c_str());
    return false;
  }
  errno = 0;
  if (std::fread(record, 1, size, f.get()) != size) {
    error = StrPrintf("%s reading %s", std::strerror(errno), name.c_str());
    return false;
  }
  return true;
}

int SettleNode() {
  int node = 1;
  if (const char *task = std::getenv("TASK")) node = ReadDecimal(task);
  std::string value;
  if (!GetNodeParam(value).empty()) node = ReadDecimal(value);
  if (node < 1 || node > 999) node = 1;
  return node;
}

}  // namespace

int InitVelmora(std::string &error, const char *programCode) {
  error.clear();
  GetSystemPath();
  Node = SettleNode();

  std::string configName;
  FindDataFilePath("CONFIG", configName);
  if (configName.empty()) {
    error = "CONFIG.VLM not found";
  } else if (ReadRecord(configName, &Config, sizeof Config, error)) {
    PasToC(Config.MsgBaseDir, MsgPath);
    PasToC(Config.UserBaseDir, UserBasePath);
    std::string log;
    PasToC(Config.MaintLogName, log);
    if (programCode) ReplaceStr(log, "*T", programCode);
    ReplaceStr(log, "*N", std::to_string(Node));
    MaintLog = log;
  }

  ReadRecord(SystemPath + "CONSTANT.VLM", &Constant, sizeof Constant, error);
  return error.empty() ? 1 : 0;
}
