// Writes a small but realistic board into a directory, for trying the
// programs by hand and for the README's sample run.
//
//   make_sample_board <directory>
//
// The board's records hold DOS paths on drive C: (C:\BBS\...).  Run the
// programs with VLM_DRIVE_C=<directory> and VLM=C:\BBS\ so that drive C:
// stands for the directory given here.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
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

void PutU32(std::string &b, size_t at, uint32_t v) {
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


// DOS packed local date and time.
uint32_t DosDate(int year, int month, int day, int hour, int minute) {
  return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5);
}

struct SampleMessage {
  const char *from;
  const char *to;
  const char *subject;
  const char *text;
  uint8_t attribute = 0;  // 0x01 deleted, 0x10 received, 0x80 exempt
  uint16_t replyTo = 0;   // links already stored by the board
  uint16_t nextReply = 0;
};

struct SampleArea {
  uint16_t number;
  const char *name;
  uint8_t type;
  bool marked;  // has new echomail or netmail waiting to be linked
  std::vector<SampleMessage> messages;
};

// Message areas of several types: threads whose replies carry "RE:" (linked
// to their first message) or "Re: " (a blank after the prefix keeps them
// apart), an existing chain, deleted messages, and a few areas that the
// linker never touches.
const std::vector<SampleArea> &SampleAreas() {
  static const std::vector<SampleArea> areas = {
      {1, "General Chat", 0, true,
       {{"Mira Olsen", "All", "Welcome to the board", "Glad to have everyone here.\r\n"},
        {"Tom Reyes", "Mira Olsen", "RE:Welcome to the board", "Thanks, nice place.\r\n", 0x10},
        {"Ada Kwan", "All", "Board upgrade tonight", "The board goes down at midnight.\r\n"},
        {"Tom Reyes", "Ada Kwan", "Re: Board upgrade tonight", "How long will it take?\r\n", 0x10},
        {"Old Timer", "All", "re:welcome to the board", "Spam that was deleted.\r\n", 0x01},
        {"Ada Kwan", "Tom Reyes", "Re: Board upgrade tonight", "About an hour.\r\n"},
        {"Mira Olsen", "All", "RE:WELCOME TO THE BOARD", "Welcome to the new callers too.\r\n"}}},
      {2, "Velmora Support Echo", 1, true,
       {{"Lee Park", "All", "Mail tosser question", "Which switches do you use?\r\n", 0x10, 0, 2},
        {"Sam Ito", "Lee Park", "RE:Mail tosser question", "None at all.\r\n", 0x10, 1, 0},
        {"Lee Park", "Sam Ito", "RE:Mail tosser question", "Thanks!\r\n", 0x10},
        {"Sam Ito", "All", "Nodelist for this week", "Attached as usual.\r\n", 0x90},
        {"Kim Vos", "All", "RE:Nodelist for this week", "Got it.\r\n", 0x10}}},
      {3, "Programming", 2, false,
       {{"Ada Kwan", "All", "Sorting records", "Use the standard sort.\r\n"},
        {"Tom Reyes", "Ada Kwan", "RE:Sorting records", "Agreed.\r\n"}}},
      {5, "Netmail", 5, true,
       {{"Sam Ito", "Mira Olsen", "Your node number", "Please check it.\r\n", 0x10},
        {"Mira Olsen", "Sam Ito", "RE:Your node number", "Fixed.\r\n"}}},
      {6, "Reserved", 3, true, {}},
      {7, "Local Files", 6, true,
       {{"Mira Olsen", "All", "New uploads", "See the file areas.\r\n"},
        {"Kim Vos", "Mira Olsen", "RE:New uploads", "Where are the games?\r\n", 0x01},
        {"Lee Park", "Mira Olsen", "RE:New uploads", "Great, thanks.\r\n"}}},
  };
  return areas;
}

const char *const kUsers[][2] = {
    {"Mira Olsen", "Sysop"}, {"Tom Reyes", "TR"}, {"Ada Kwan", "Ada"}, {"Lee Park", ""}, {"Sam Ito", "Sam"},
};

void WriteMessageBase(const Board &b) {
  std::string areaRecords(static_cast<size_t>(kMaxMsgAreas) * 272, '\0');
  std::string marks(kMaxMsgAreas, '\0');
  std::string counts(static_cast<size_t>(kMaxMsgAreas) * 2, '\0');
  for (const SampleArea &area : SampleAreas()) {
    std::string r(272, '\0');
    std::memset(&r[1], 0x20, 119);  // the board pads the name bytes with blanks
    PutPas(r, 0, area.name);
    r[120] = static_cast<char>(area.type);
    r[122] = 0x10;  // recorded for the fast mail check
    r[125] = 90;    // keep 90 days
    PutU16(r, 127, 500);
    std::memset(&r[131], 0x3C, 16);  // fields of the board's own
    areaRecords.replace((area.number - 1) * 272u, 272, r);
    if (area.marked) marks[area.number - 1] = 1;
    if (area.type == 3) continue;

    std::string headers, texts;
    int minute = 0;
    for (const SampleMessage &m : area.messages) {
      std::string h(186, '\0');
      PutU16(h, 0, m.replyTo);
      PutU16(h, 2, m.nextReply);
      PutU32(h, 4, static_cast<uint32_t>(texts.size()));
      PutU32(h, 8, static_cast<uint32_t>(std::strlen(m.text)));
      std::memset(&h[12], 0x11, 18);  // not interpreted here, carried through
      h[30] = static_cast<char>(m.attribute);
      uint32_t written = DosDate(2026, 11, 20 + minute / 60, 18, minute % 60);
      PutU32(h, 33, written);
      PutU32(h, 37, m.attribute & 0x10 ? written + (1 << 11) : 0);
      PutPas(h, 41, m.to);
      PutPas(h, 77, m.from);
      PutPas(h, 113, m.subject);
      headers += h;
      texts += m.text;
      minute += 17;
    }
    std::string dir = "C:\\BBS\\MSG\\AREA" + std::to_string((area.number - 1) / 100 + 1) + "\\";
    char number[8];
    std::snprintf(number, sizeof number, "%05u", area.number);
    Write(b.Host(dir + "MH" + number + ".BBS"), headers);
    Write(b.Host(dir + "MT" + number + ".BBS"), texts);
    PutU16(counts, (area.number - 1) * 2u, static_cast<uint16_t>(area.messages.size()));
  }
  Write(b.Host("C:\\BBS\\MESSAGES.VLM"), areaRecords);
  Write(b.Host("C:\\BBS\\MSG\\MSGREPLY.BBS"), marks);
  Write(b.Host("C:\\BBS\\MSG\\MSGCOUNT.BBS"), counts);

  std::string users;
  for (const auto &u : kUsers) {
    std::string r(128, '\0');
    PutPas(r, 0, u[0]);
    PutPas(r, 36, u[1]);
    std::memset(&r[72], 0x42, 56);  // the rest of the board's user record
    users += r;
  }
  Write(b.Host("C:\\BBS\\USERS\\USERS.BBS"), users);

  // Next-read numbers: per user MaxMsgAreas / 16 blocks of a word and 16 numbers.
  const size_t blocks = kMaxMsgAreas / 16;
  std::string lastComb(std::size(kUsers) * blocks * 34, '\0');
  for (size_t u = 0; u < std::size(kUsers); ++u) {
    for (const SampleArea &area : SampleAreas()) {
      if (area.type == 3) continue;
      size_t k = area.number - 1u;
      uint16_t next = static_cast<uint16_t>(1 + (u * 3 + k) % (area.messages.size() + 1));
      PutU16(lastComb, (u * blocks + k / 16) * 34 + (k % 16) * 2 + 2, next);
    }
  }
  Write(b.Host("C:\\BBS\\USERS\\LASTCOMB.BBS"), lastComb);
}

std::string ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What sorrel has to do on the sample board: messages past their area's age,
// count and size limits, deleted ones with attached files, an area whose
// every message is deleted, the files of a board that is no longer
// configured, and next-read numbers that must follow the new numbering.
struct PackMessage {
  const char *from;
  const char *to;
  const char *subject;
  std::string text;
  uint8_t attribute = 0;   // 0x01 deleted, 0x10 received, 0x80 exempt
  uint8_t attribute2 = 0;  // 0x04 files attached, named in the subject
  int daysAgo = 1;  // written this many days before the board was made
};

struct PackArea {
  uint16_t number;
  const char *name;
  uint8_t type;
  uint8_t flags;  // 0x10 fast mail check, 0x20 erase attachments of deleted messages
  uint8_t keepDays;
  uint16_t maxMsgs;
  uint16_t maxKilobytes;
  std::vector<PackMessage> messages;
};

void WriteSorrelAreas(const Board &b) {
  std::string lines(600, '=');
  const std::vector<PackArea> areas = {
      {8, "Announcements", 0, 0x30, 30, 0, 0,
       {{"Mira Olsen", "All", "Board rules", "Be nice.\r\n", 0x80, 0, 900},
        {"Mira Olsen", "All", "Summer picnic", "Sunday at noon.\r\n", 0, 0, 200},
        {"Mira Olsen", "Tom Reyes", "C:\\BBS\\ATTACH\\~@0000A1\\PICNIC.GIF", "The photo.\r\n", 0x01, 0x04, 20},
        {"Mira Olsen", "Ada Kwan", "C:\\BBS\\ATTACH\\~@0000A2\\RULES.TXT", "The rules as a file.\r\n", 0, 0x04, 10},
        {"Ada Kwan", "Mira Olsen", "New year meeting", "Who is coming?\r\n", 0, 0, 2}}},
      {9, "Busy Echo", 2, 0x10, 0, 5, 0, {}},
      {10, "Big Files Talk", 6, 0x10, 0, 0, 2, {}},
      {11, "Purged Area", 2, 0x20, 0, 0, 0,
       {{"Old Timer", "All", "C:\\BBS\\ATTACH\\~@0000B1\\SPAM.ZIP", "Spam.\r\n", 0x01, 0x04},
        {"Old Timer", "All", "More spam", "Spam again.\r\n", 0x01}}},
  };
  std::vector<PackArea> filled = areas;
  for (int i = 1; i <= 9; ++i)
    filled[1].messages.push_back({i % 2 ? "Lee Park" : "Sam Ito", i == 4 ? "Mira Olsen" : "All",
                                  i == 1 ? "Echo rules" : "RE:Echo rules",
                                  "Message " + std::to_string(i) + " of the busy echo.\r\n",
                                  static_cast<uint8_t>(i == 1 ? 0x80 : (i == 6 ? 0x01 : 0))});
  for (int i = 1; i <= 4; ++i)
    filled[2].messages.push_back({"Kim Vos", "Tom Reyes", "Long listing", lines + "\r\n" + std::to_string(i)});

  fs::path msgs = b.Host("C:\\BBS\\MESSAGES.VLM"), lastCombPath = b.Host("C:\\BBS\\USERS\\LASTCOMB.BBS");
  std::string areaRecords = ReadAll(msgs), lastComb = ReadAll(lastCombPath);
  std::string counts = ReadAll(b.Host("C:\\BBS\\MSG\\MSGCOUNT.BBS"));
  const size_t blocks = kMaxMsgAreas / 16;
  for (const PackArea &area : filled) {
    std::string r(272, '\0');
    std::memset(&r[1], 0x20, 119);
    PutPas(r, 0, area.name);
    r[120] = static_cast<char>(area.type);
    r[122] = static_cast<char>(area.flags);
    r[125] = static_cast<char>(area.keepDays);
    PutU16(r, 127, area.maxMsgs);
    PutU16(r, 129, area.maxKilobytes);
    std::memset(&r[131], 0x3C, 16);
    areaRecords.replace((area.number - 1) * 272u, 272, r);

    std::string headers, texts;
    for (size_t i = 0; i < area.messages.size(); ++i) {
      const PackMessage &m = area.messages[i];
      std::string h(186, '\0');
      PutU32(h, 4, static_cast<uint32_t>(texts.size()));
      PutU32(h, 8, static_cast<uint32_t>(m.text.size()));
      std::memset(&h[12], 0x11, 18);
      h[30] = static_cast<char>(m.attribute);
      h[31] = static_cast<char>(m.attribute2);
      std::time_t when = std::time(nullptr) - std::time_t(m.daysAgo) * 86400;
      std::tm local = *std::localtime(&when);
      PutU32(h, 33, DosDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 9, 0));
      PutPas(h, 41, m.to);
      PutPas(h, 77, m.from);
      PutPas(h, 113, m.subject);
      headers += h;
      texts += m.text;
      if (m.attribute2 & 0x04) {
        // The attached file, in its per-message directory.
        fs::path file = b.Host(m.subject);
        fs::create_directories(file.parent_path());
        Write(file, "attached file\r\n");
      }
    }
    char number[8];
    std::snprintf(number, sizeof number, "%05u", area.number);
    Write(b.Host(std::string("C:\\BBS\\MSG\\AREA1\\MH") + number + ".BBS"), headers);
    Write(b.Host(std::string("C:\\BBS\\MSG\\AREA1\\MT") + number + ".BBS"), texts);
    PutU16(counts, (area.number - 1) * 2u, static_cast<uint16_t>(area.messages.size()));
    for (size_t u = 0; u < std::size(kUsers); ++u) {
      size_t k = area.number - 1u;
      uint16_t next = static_cast<uint16_t>(u == 0 ? 1 : 2 + (u * 2) % (area.messages.size() + 1));
      PutU16(lastComb, (u * blocks + k / 16) * 34 + (k % 16) * 2 + 2, next);
    }
  }
  Write(msgs, areaRecords);
  Write(lastCombPath, lastComb);
  Write(b.Host("C:\\BBS\\MSG\\MSGCOUNT.BBS"), counts);

  // Area 12 is no longer configured, but its files are still there.
  Write(b.Host("C:\\BBS\\MSG\\AREA1\\MH00012.BBS"), std::string(186, '\0'));
  Write(b.Host("C:\\BBS\\MSG\\AREA1\\MT00012.BBS"), "");
  Write(b.Host("C:\\BBS\\MSG\\MSGDLTD.BBS"), "deleted since the last run\r\n");
  // A per-message directory the board emptied itself.
  fs::create_directories(b.Host("C:\\BBS\\ATTACH\\~@0000C1\\"));
}

// The files in the file areas' directories: names the fast-find index takes
// (8+4, upper or lower case, A.B.C), names it leaves out (longer names and
// extensions, the listing files), a hidden file and a subdirectory, an area
// whose directory is empty.  SYSINFO.BBS was last written yesterday, so the
// index run also starts the board's daily counters afresh.
void WriteFileAreaContents(const Board &b) {
  struct SampleFile {
    const char *path;
    size_t size;
  };
  const SampleFile files[] = {
      {"C:\\BBS\\FILES\\UPLOADS\\newtool.zip", 12345},
      {"C:\\BBS\\FILES\\UPLOADS\\Upload Notes.txt", 300},
      {"C:\\BBS\\FILES\\UPLOADS\\.partial", 4096},
      {"C:\\BBS\\FILES\\UPLOADS\\FILES.BBS", 120},
      {"C:\\BBS\\FILES\\UTILS\\PKUNZIP.EXE", 29378},
      {"C:\\BBS\\FILES\\UTILS\\LIST.COM", 1234},
      {"C:\\BBS\\FILES\\UTILS\\readme", 800},
      {"C:\\BBS\\FILES\\UTILS\\installer.html", 2048},
      {"C:\\BBS\\FILES\\UTILS\\FILES.BBS", 200},
      {"C:\\BBS\\FILES\\UTILS\\FILES.BAK", 180},
      {"C:\\BBS\\FILES\\UTILS\\SFFILES.BBS", 90},
      {"C:\\BBS\\FILES\\UTILS\\OLD\\OLDTOOL.EXE", 5000},
      {"C:\\BBS\\FILES\\GAMES\\DOOM.ZIP", 30000},
      {"C:\\BBS\\FILES\\GAMES\\_chess.zip", 7000},
      {"C:\\BBS\\FILES\\GAMES\\~tetris.arj", 6000},
      {"C:\\BBS\\FILES\\GAMES\\1stgame.zip", 1023},
      {"C:\\BBS\\FILES\\GAMES\\VERYLONGNAME", 10},
      {"C:\\BBS\\FILES\\GAMES\\readme", 1},
      {"C:\\BBS\\FILES\\SYSOP\\SYSOP.DOC", 4000},
      {"C:\\BBS\\FILES\\SYSOP\\a.b.c", 3},
      {"C:\\BBS\\FILES\\DOCS\\MANUAL.TXT", 20000},
      {"C:\\BBS\\FILES\\DOCS\\FAQ.TXT", 3000},
      {"C:\\BBS\\FILES\\DOCS\\FILES.BBS", 64},
  };
  for (const SampleFile &f : files) Write(b.Host(f.path), std::string(f.size, 'x'));

  std::string sysInfo(168, '\0');
  for (size_t i = 0; i < sysInfo.size(); ++i) sysInfo[i] = static_cast<char>(i);  // the board's own values
  PutU32(sysInfo, 40, 0);                                                         // file kilobytes
  PutU16(sysInfo, 44, 3);                                                         // daily counters
  PutU16(sysInfo, 46, 1);
  PutU16(sysInfo, 48, 4);
  fs::path sysInfoPath = b.Host("C:\\BBS\\SYSINFO.BBS");
  Write(sysInfoPath, sysInfo);
  fs::last_write_time(sysInfoPath, fs::file_time_type::clock::now() - std::chrono::hours(24));
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
  WriteMessageBase(b);
  WriteSorrelAreas(b);
  WriteFileAreaContents(b);
  // Each program's part of the board is written by a function of its own below.
  std::printf("Sample board written to %s (drive C: stands for it)\n", b.root.string().c_str());
  return 0;
}
