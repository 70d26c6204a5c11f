#include "support.h"

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform.h"
#include "startup.h"
#include "text.h"

namespace fs = std::filesystem;

namespace fz {
namespace {

std::string scratch;

void RemoveScratch() {
  if (scratch.empty()) return;
  std::error_code ec;
  fs::remove_all(scratch, ec);
}

// The directory for scratch boards: $VLM_FUZZ_SCRATCH, else memory-backed
// /dev/shm when there, else $TMPDIR or /tmp.
std::string ScratchBase() {
  if (const char *base = std::getenv("VLM_FUZZ_SCRATCH")) {
    std::error_code ec;
    fs::create_directories(base, ec);
    return base;
  }
  if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
  if (const char *tmp = std::getenv("TMPDIR")) return tmp;
  return "/tmp";
}

}  // namespace

std::vector<std::string> Sections(const uint8_t *data, size_t size, size_t count) {
  std::vector<std::string> out(count);
  std::string all(reinterpret_cast<const char *>(data), size);
  const size_t sepLength = sizeof kSeparator - 1;
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t end = all.find(kSeparator, pos);
    // The last section takes the rest, separators and all.
    if (end == std::string::npos || i + 1 == count) {
      out[i] = all.substr(pos);
      break;
    }
    out[i] = all.substr(pos, end - pos);
    pos = end + sepLength;
  }
  return out;
}

std::string JoinSections(const std::vector<std::string> &sections) {
  std::string out;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (i) out += kSeparator;
    out += sections[i];
  }
  return out;
}

void Setup() {
  if (!scratch.empty()) return;
  if (!std::getenv("VLM_FUZZ_VERBOSE")) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      std::fflush(stdout);
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  std::string pattern = ScratchBase() + "/vlm-fuzz-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  scratch = fs::canonical(buf.data()).string() + "/";
  // Removed at the end, also when a sanitizer or a check ends the run.
  std::atexit(RemoveScratch);
  __sanitizer_set_death_callback(RemoveScratch);
  setenv("VLM_DRIVE_C", scratch.c_str(), 1);
  plat::SetSyncs(false);
  plat::SetWriteJail(scratch);
}

const std::string &Scratch() { return scratch; }

void ResetScratch() {
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(scratch, ec)) fs::remove_all(entry.path(), ec);
}

void WriteFile(const std::string &relative, const std::string &bytes) {
  fs::path p = scratch + relative;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool ReadFile(const std::string &relative, std::string &bytes) {
  bytes.clear();
  std::ifstream f(scratch + relative, std::ios::binary);
  if (!f) return false;
  bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

std::string ReadFile(const std::string &relative) {
  std::string bytes;
  ReadFile(relative, bytes);
  return bytes;
}

bool Exists(const std::string &relative) {
  std::error_code ec;
  return fs::exists(scratch + relative, ec);
}

void MakeDir(const std::string &relative) {
  std::error_code ec;
  fs::create_directories(scratch + relative, ec);
}

std::map<std::string, std::string> Snapshot(const std::string &relativeDir) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  fs::path root(scratch);
  for (auto it = fs::recursive_directory_iterator(scratch + relativeDir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string rel = fs::relative(it->path(), root, ec).string();
    files[rel] = ReadFile(rel);
  }
  return files;
}

void SetBoard(uint16_t maxMsgAreas, uint16_t maxFileAreas, uint16_t constantFlags) {
  std::memset(&Config, 0, sizeof Config);
  std::memset(&Constant, 0, sizeof Constant);
  CToPas("C:\\BBS\\MSG\\", Config.MsgBaseDir);
  CToPas("C:\\BBS\\USERS\\", Config.UserBaseDir);
  CToPas("C:\\BBS\\MAINT.LOG", Config.MaintLogName);
  CToPas("C:\\BBS\\ATTACH\\", Config.FileAttachPath);
  CToPas("C:\\BBS\\FFIND\\", Config.FastIndexPath);
  Constant.MaxMsgAreas = maxMsgAreas;
  Constant.MaxFileAreas = maxFileAreas;
  Constant.ConstantFlags = constantFlags;
  SystemPath = "C:\\BBS\\";
  Node = 1;
  MsgPath = "C:\\BBS\\MSG\\";
  UserBasePath = "C:\\BBS\\USERS\\";
  MaintLog = "C:\\BBS\\MAINT.LOG";
}

void MakeBoardDirs() {
  for (const char *dir : {"BBS/MSG/AREA1", "BBS/USERS", "BBS/ATTACH", "BBS/FFIND"}) MakeDir(dir);
}

void Fail(const char *what, const char *file, int line) {
  std::fprintf(stderr, "\n==== invariant failed: %s (%s:%d)\n", what, file, line);
  std::fflush(stderr);
  RemoveScratch();
  std::abort();
}

uint16_t U16(const std::string &b, size_t at) {
  if (at + 2 > b.size()) return 0;
  return static_cast<uint16_t>(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}

uint32_t U32(const std::string &b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return uint32_t(U16(b, at)) | (uint32_t(U16(b, at + 2)) << 16);
}

uint8_t Byte(const std::string &s, size_t at, uint8_t fallback) {
  return at < s.size() ? static_cast<uint8_t>(s[at]) : fallback;
}

}  // namespace fz
