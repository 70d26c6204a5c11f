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

// -N<n> or /N<n>: the short node switch, digits only, so that no other
// switch beginning with N passes for it.
bool IsShortNodeSwitch(const std::string &arg) {
  if (arg.size() < 3 || (arg[0] != '-' && arg[0] != '/') || UpperChar(arg[1]) != 'N') return false;
  for (size_t i = 2; i < arg.size(); ++i)
    if (arg[i] < '0' || arg[i] > '9') return false;
  return true;
}

bool IsHelpSynonym(const std::string &arg) {
  std::string upper = arg;
  for (char &c : upper) c = UpperChar(c);
  return upper == "-H" || upper == "/H" || upper == "-HELP" || upper == "/HELP" || upper == "--HELP";
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

std::string &GetNodeParam(std::string &value) {
  if (!GetMinusSlashParam("NODE", value).empty()) return value;
  for (char switchChar : {'-', '/'})
    for (const std::string &arg : Arguments())
      if (IsShortNodeSwitch(arg) && arg[0] == switchChar) return value = arg.substr(2);
  return value;
}

int FindHelpParam() {
  if (FindMinusSlashParam("?")) return 1;
  for (const std::string &arg : Arguments())
    if (IsHelpSynonym(arg)) return 1;
  return 0;
}

std::vector<std::string> UnknownSwitches(const std::vector<std::string> &names) {
  std::vector<std::string> unknown;
  for (const std::string &arg : Arguments()) {
    if (arg.empty() || (arg[0] != '-' && arg[0] != '/')) continue;
    if (IsShortNodeSwitch(arg) || IsHelpSynonym(arg)) continue;
    bool known = BeginsWith(arg.substr(1), "NODE") || BeginsWith(arg.substr(1), "?");
    for (size_t i = 0; !known && i < names.size(); ++i) known = BeginsWith(arg.substr(1), names[i]);
    if (!known) unknown.push_back(arg);
  }
  return unknown;
}
