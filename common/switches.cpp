#include "switches.h"

#include <vector>

#include "text.h"

namespace {

std::vector<std::string> &Arguments() {
  static std::vector<std::string> args;
  return args;
}

bool BeginsWith(const std::string &arg, const std::string &prefix) {
  if (arg.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (UpperChar(arg[i]) != UpperChar(prefix[i])) return false;
  }
  return true;
}

}  // namespace

void SetArguments(int argc, const char *const *argv) {
  Arguments().clear();
  for (int i = 1; i < argc; ++i) Arguments().emplace_back(argv[i] ? argv[i] : "");
}

int FindParam(const std::string &prefix) {
  for (const std::string &arg : Arguments())
    if (BeginsWith(arg, prefix)) return 1;
  return 0;
}

std::string &GetParam(const std::string &prefix, std::string &value) {
  value.clear();
  for (const std::string &arg : Arguments()) {
    if (!BeginsWith(arg, prefix)) continue;
    value = arg.substr(prefix.size());
    if (!value.empty()) break;
  }
  return value;
}

int FindMinusSlashParam(const std::string &name) {
  return FindParam("-" + name) ? 1 : FindParam("/" + name);
}

std::string &GetMinusSlashParam(const std::string &name, std::string &value) {
  GetParam("-" + name, value);
  if (value.empty()) GetParam("/" + name, value);
  return value;
}
