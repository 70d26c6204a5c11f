// The command line: switch lookup by prefix, values, decimal numbers, the
// security range of the directory list and the compiled file's name.
//
// Input: the arguments, one per line (argument 0 is the program's name).
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "filepath_record.h"
#include "quarry2.h"
#include "support.h"
#include "switches.h"
#include "text.h"

namespace {

char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool Begins(const std::string &arg, const std::string &prefix) {
  if (arg.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Up(arg[i]) != Up(prefix[i])) return false;
  return true;
}

// The C library's conversion to long long, held within 32 bits.
int32_t Decimal(const std::string &text) {
  size_t i = 0;
  const char *s = text.c_str();  // the text ends at its first zero byte, as for strtoll
  while (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')) ++i;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  int64_t v = 0;
  for (; s[i] >= '0' && s[i] <= '9'; ++i)
    if (v <= INT64_C(1) << 40) v = v * 10 + (s[i] - '0');
  if (negative) v = -v;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> args{"prog"};
  std::string all(reinterpret_cast<const char *>(data), size), arg;
  for (char c : all) {
    if (c == '\n') {
      args.push_back(arg);
      arg.clear();
    } else {
      arg += c;
    }
  }
  if (!arg.empty()) args.push_back(arg);
  if (args.size() > 64) args.resize(64);
  std::vector<const char *> argv;
  for (const std::string &a : args) argv.push_back(a.c_str());
  SetArguments(static_cast<int>(argv.size()), argv.data());
  // What SetArguments keeps are the texts up to their zero bytes.
  std::vector<std::string> kept;
  for (size_t i = 1; i < args.size(); ++i) kept.push_back(args[i].c_str());

  static const char *const kNames[] = {"?",    "NODE",    "LINK",    "LINKALL", "FASTMAIL", "CLEANUP",
                                       "DISABLEDEL", "BUILD", "SORT", "LIST",  "COMPILE",  "FROM",
                                       "TO",   "MINSEC",  "MAXSEC",  ""};
  std::vector<std::string> prefixes;
  for (const char *name : kNames) {
    prefixes.push_back(std::string("-") + name);
    prefixes.push_back(std::string("/") + name);
    prefixes.push_back(name);
  }
  // Prefixes taken from the arguments themselves reach the odd cases.
  for (const std::string &a : kept) prefixes.push_back(a.substr(0, a.size() / 2));

  for (const std::string &prefix : prefixes) {
    bool any = false;
    std::string expected;
    for (const std::string &a : kept) {
      if (!Begins(a, prefix)) continue;
      any = true;
      if (expected.empty()) expected = a.substr(prefix.size());
    }
    FZ_CHECK(FindParam(prefix) == (any ? 1 : 0));
    std::string value = "stale";
    FZ_CHECK(GetParam(prefix, value) == expected);
    FZ_CHECK(value == expected);
    FZ_CHECK(ReadDecimal(value) == Decimal(value));
  }
  for (const char *name : kNames) {
    std::string n = name, value, a, b;
    FZ_CHECK(FindMinusSlashParam(n) == ((FindParam("-" + n) || FindParam("/" + n)) ? 1 : 0));
    GetParam("-" + n, a);
    GetParam("/" + n, b);
    FZ_CHECK(GetMinusSlashParam(n, value) == (a.empty() ? b : a));
  }

  // The directory list's security range: values cut to 11 characters, an
  // upper bound below the lower one means no upper bound.
  std::string minText, maxText;
  GetMinusSlashParam("MINSEC", minText);
  GetMinusSlashParam("MAXSEC", maxText);
  int32_t low = minText.empty() ? 0 : Decimal(minText.substr(0, 11));
  int32_t high = maxText.empty() ? 65535 : Decimal(maxText.substr(0, 11));
  if (high < low) high = 65535;
  ResetSecurityRange();
  FilePathRecord record{};
  for (int64_t level : {int64_t(0), int64_t(1), int64_t(65535), int64_t(low), int64_t(low) - 1, int64_t(high),
                        int64_t(high) + 1}) {
    if (level < 0 || level > 65535) continue;
    record.AreaSecurity = static_cast<uint16_t>(level);
    FZ_CHECK(FilePathAllowed(record) == (low <= level && level <= high ? 1 : 0));
  }

  // The compiled questionnaire's name: the script's with the extension .QAC.
  std::string script;
  GetMinusSlashParam("COMPILE", script);
  std::string compiled = script;
  ForceExtension(compiled, ".QAC");
  FZ_CHECK(compiled.size() >= 4 && compiled.compare(compiled.size() - 4, 4, ".QAC") == 0);
  size_t sep = script.find_last_of("\\/");
  if (sep != std::string::npos && sep < 255 && script.size() >= 2) {
    // The directory part stays as it was (one separator may be added).
    std::string dir = script.substr(0, sep + 1);
    FZ_CHECK(compiled.compare(0, dir.size(), dir) == 0);
  }
  return 0;
}
