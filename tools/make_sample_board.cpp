// Writes a small but realistic board into a directory, for trying the
// programs by hand and for the README's sample run.
//
//   make_sample_board <directory>
//
// The board's records hold DOS paths on drive C: (C:\BBS\...).  Run the
// programs with VLM_DRIVE_C=<directory> and VLM=C:\BBS\ so that drive C:
// stands for the directory given here.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Board {
  fs::path root;  // stands for drive C:
  fs::path Host(const std::string &dosPath) const {
    // C:\BBS\MSG\ -> <root>/BBS/MSG/
    std::string rest = dosPath.substr(2);
    for (char &c : rest)
      if (c == '\\') c = '/';
    return root / fs::path(rest).relative_path();
  }
};

constexpr uint16_t kMaxMsgAreas = 32;
constexpr uint16_t kMaxFileAreas = 8;

void PutU16(std::string &b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

[[maybe_unused]] void PutU32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutPas(std::string &b, size_t at, const std::string &text) {
  b[at] = static_cast<char>(text.size());
  std::memcpy(&b[at + 1], text.data(), text.size());
}

void Write(const fs::path &path, const std::string &bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    std::exit(1);
  }
}

// Text files of the board's platform end their lines in CR LF.
std::string DosText(const std::vector<std::string> &lines) {
  std::string out;
  for (const std::string &l : lines) out += l + "\r\n";
  return out;
}

void WriteConfiguration(const Board &b) {
  std::string config(6144, '\0');
  PutPas(config, 452, "C:\\BBS\\MSG\\");
  PutPas(config, 757, "C:\\BBS\\USERS\\");
  PutPas(config, 1001, "C:\\BBS\\LOGS\\*t*n.log");
  PutPas(config, 1062, "C:\\BBS\\ATTACH\\");
  PutPas(config, 1184, "C:\\BBS\\FFIND\\");
  Write(b.Host("C:\\BBS\\CONFIG.VLM"), config);

  std::string constant(1609, '\0');
  PutU16(constant, 159, kMaxMsgAreas);
  PutU16(constant, 161, kMaxFileAreas);
  PutU16(constant, 181, 0);
  Write(b.Host("C:\\BBS\\CONSTANT.VLM"), constant);

  for (const char *dir : {"C:\\BBS\\LOGS\\", "C:\\BBS\\MSG\\", "C:\\BBS\\USERS\\", "C:\\BBS\\ATTACH\\",
                          "C:\\BBS\\FFIND\\"})
    fs::create_directories(b.Host(dir));
}

struct FileArea {
  const char *path;  // empty: unused record
  uint16_t security;
};

const FileArea kFileAreas[kMaxFileAreas] = {
    {"C:\\BBS\\FILES\\UPLOADS\\", 10}, {"C:\\BBS\\FILES\\UTILS\\", 20},
    {"", 0},                           {"C:\\BBS\\FILES\\GAMES\\", 50},
    {"C:\\BBS\\FILES\\SYSOP\\", 255},  {"C:\\BBS\\FILES\\DOCS\\", 0},
    {"C:\\BBS\\FILES\\ARCHIVE\\", 100}, {"C:\\BBS\\FILES\\PRIVATE\\", 1000},
};

void WriteFileAreas(const Board &b) {
  std::string records;
  for (const FileArea &area : kFileAreas) {
    std::string r(256, '\0');
    PutPas(r, 0, area.path);
    PutU16(r, 123, area.security);
    std::memset(&r[125], 0x5A, 8);  // bytes of the board's own that nobody here reads
    records += r;
    if (*area.path) fs::create_directories(b.Host(area.path));
  }
  Write(b.Host("C:\\BBS\\FILEPATH.VLM"), records);
}

void WriteQuestionnaire(const Board &b) {
  Write(b.Host("C:\\BBS\\SURVEY.Q"), DosText({
                                         "; New user survey",
                                         "; comments and empty lines are dropped",
                                         "",
                                         ":start",
                                         "   display Welcome to the new user survey!",
                                         "gosub ASKNAME",
                                         "Ask Do you run a board yourself? (Y/N)",
                                         "IfNo GOTO  finish",
                                         "goto sysop",
                                         ":ASKNAME",
                                         "input What is your real name?",
                                         "return",
                                         ":SYSOP",
                                         "input Which software does your board run?",
                                         "postinfo",
                                         ":finish",
                                         "display Thank you!",
                                         "GOTO START",
                                     }));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_board <directory>\n");
    return 2;
  }
  Board b{fs::absolute(argv[1])};
  fs::create_directories(b.root);
  WriteConfiguration(b);
  WriteFileAreas(b);
  WriteQuestionnaire(b);
  // Each program's part of the board is written by a function of its own below.
  std::printf("Sample board written to %s (drive C: stands for it)\n", b.root.string().c_str());
  return 0;
}
