#include "test_support.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "dates.h"
#include "platform.h"
#include "records.h"
#include "text.h"

namespace fs = std::filesystem;

namespace vt {

TempDir::TempDir() {
  std::random_device rd;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    // Short, because boards keep paths in fields of 60 characters and up,
    // and a Windows temporary directory is already long.
    char name[16];
    std::snprintf(name, sizeof name, "vlm%08x", static_cast<unsigned>(rd()));
    fs::path p = base / name;
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string() + static_cast<char>(fs::path::preferred_separator);
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool FileExists(const std::string &path) { return fs::exists(path); }

void MakeDirs(const std::string &path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

void PutU16(std::string &bytes, size_t offset, uint16_t v) {
  if (bytes.size() < offset + 2) bytes.resize(offset + 2);
  bytes[offset] = static_cast<char>(v & 0xFF);
  bytes[offset + 1] = static_cast<char>(v >> 8);
}

void PutU32(std::string &bytes, size_t offset, uint32_t v) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string ConfigBytes(const BoardConfig &c) {
  ConfigRecord r{};
  SetPas(r.MsgBaseDir, c.msgPath);
  SetPas(r.UserBaseDir, c.userPath);
  SetPas(r.MaintLogName, c.logName);
  SetPas(r.FileAttachPath, c.attachPath);
  SetPas(r.FastIndexPath, c.fastIndexPath);
  return AsBytes(r);
}

std::string ConstantBytes(const BoardConfig &c) {
  ConstantRecord r{};
  r.MaxMsgAreas = c.maxMsgAreas;
  r.MaxFileAreas = c.maxFileAreas;
  r.ConstantFlags = c.constantFlags;
  return AsBytes(r);
}

void WriteBoard(const std::string &dir, const BoardConfig &c) {
  WriteFile(dir + "CONFIG.VLM", ConfigBytes(c));
  WriteFile(dir + "CONSTANT.VLM", ConstantBytes(c));
}

plat::UniqueFile Open(const std::string &board, plat::Access access, plat::Share share, plat::Mode mode) {
  return plat::UniqueFile(plat::OpenFile(board, access, share, mode));
}

std::string ReadAll(FILE *f) {
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

long CountFaultOperations(const std::function<RunResult(long at)> &run) {
  long low = 1, high = 4096;  // low is reached, high is not
  while (high - low > 1) {
    long mid = (low + high) / 2;
    (run(mid).status == 86 ? low : high) = mid;
  }
  return low;
}

std::string MaskLogTimes(const std::string &log) {
  std::string out = log;
  auto digit = [&](size_t i) { return i < out.size() && out[i] >= '0' && out[i] <= '9'; };
  for (size_t i = 0; i + 10 <= out.size(); ++i) {
    if (out[i] != '>' || out[i + 1] != ' ') continue;
    if (!(digit(i + 2) && digit(i + 3) && out[i + 4] == ':' && digit(i + 5) && digit(i + 6) && out[i + 7] == ':' &&
          digit(i + 8) && digit(i + 9)))
      continue;
    for (size_t k : {2, 3, 5, 6, 8, 9}) out[i + k] = '#';
  }
  return out;
}

std::string TodayText() {
  plat::LocalTime now = plat::GetLocalTime();
  return StrPrintf("%02d-%s-%d", now.day, ShortMonths[now.month - 1], now.year);
}

}  // namespace vt
