// Packing a whole message base, next to a plain copy of the same message
// directory (read every byte, write it, sync it) measured in the same run.
//
//   sorrel_bench [MiB of text, default 1024] [areas, default 300] [users, default 2000]
//
// A third of the messages go: a fifth are marked deleted, the count limit
// takes the oldest of the rest.  Also reported: the heap peak while packing
// and the next-read renumbering of one area for 10,000 users.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "msgbase.h"
#include "platform.h"
#include "sorrel.h"
#include "startup.h"
#include "switches.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------- heap accounting

namespace {
std::atomic<size_t> HeapNow{0}, HeapPeak{0};
constexpr size_t kHead = alignof(std::max_align_t);
}  // namespace

void *operator new(size_t size) {
  void *p = std::malloc(size + kHead);
  if (!p) throw std::bad_alloc();
  *static_cast<size_t *>(p) = size;
  size_t now = HeapNow += size;
  size_t peak = HeapPeak.load();
  while (now > peak && !HeapPeak.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char *>(p) + kHead;
}
void *operator new[](size_t size) { return operator new(size); }
void operator delete(void *p) noexcept {
  if (!p) return;
  char *base = static_cast<char *>(p) - kHead;
  HeapNow -= *reinterpret_cast<size_t *>(base);
  std::free(base);
}
void operator delete[](void *p) noexcept { operator delete(p); }
void operator delete(void *p, size_t) noexcept { operator delete(p); }
void operator delete[](void *p, size_t) noexcept { operator delete(p); }

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

void Put(std::string &b, size_t at, const void *v, size_t n) { std::memcpy(&b[at], v, n); }
void PutPas(uint8_t *field, const std::string &text) {
  field[0] = static_cast<uint8_t>(text.size());
  std::memcpy(field + 1, text.data(), text.size());
}

void WriteAll(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Base {
  fs::path root;
  uint64_t textBytes = 0;
  uint64_t messages = 0;
};

// Areas of random texts (300 to 7,000 bytes), users with next-read numbers.
Base Generate(const fs::path &root, uint64_t mib, int areas, int users) {
  Base base{root};
  fs::create_directories(root / "MSG");
  fs::create_directories(root / "USERS");
  std::mt19937 rng(1234);
  uint64_t perArea = mib * 1024 * 1024 / uint64_t(areas);
  std::string records(size_t(areas) * sizeof(MessageRecord), '\0');
  std::string text(8192, '\0');
  for (char &c : text) c = static_cast<char>('a' + rng() % 26);
  for (int a = 1; a <= areas; ++a) {
    std::vector<MessageHeader> headers;
    std::string texts;
    while (texts.size() < perArea && headers.size() < 65000) {
      MessageHeader h{};
      size_t length = 300 + rng() % 6700;
      h.TextStart = static_cast<uint32_t>(texts.size());
      h.TextLength = static_cast<int32_t>(length);
      h.Attribute = (rng() % 5 == 0) ? 0x01 : 0;
      h.DateWritten = int32_t((46u << 25) | (1u << 21) | (1u << 16));
      PutPas(h.WhoTo, "User " + std::to_string(rng() % (users + 200)));
      PutPas(h.WhoFrom, "Somebody");
      PutPas(h.Subject, "Subject " + std::to_string(rng() % 50));
      texts.append(text, rng() % 1000, std::min(length, size_t(7000)));
      texts.resize(h.TextStart + length, 'x');
      headers.push_back(h);
    }
    MessageRecord r{};
    PutPas(r.AreaName, "Area " + std::to_string(a));
    r.AreaType = 2;
    r.AreaFlags = 0x10;
    r.MaxMsgs = static_cast<uint16_t>(headers.size() * 2 / 3);
    Put(records, size_t(a - 1) * sizeof r, &r, sizeof r);
    fs::path dir = root / "MSG" / ("AREA" + std::to_string((a - 1) / 100 + 1));
    fs::create_directories(dir);
    char name[32];
    std::snprintf(name, sizeof name, "MH%05d.BBS", a % 100000);
    WriteAll(dir / name, std::string(reinterpret_cast<const char *>(headers.data()), headers.size() * sizeof(MessageHeader)));
    std::snprintf(name, sizeof name, "MT%05d.BBS", a % 100000);
    WriteAll(dir / name, texts);
    base.textBytes += texts.size();
    base.messages += headers.size();
  }
  WriteAll(root / "MESSAGES.VLM", records);
  std::string userFile;
  for (int u = 0; u < users; ++u) {
    UserRecord user{};
    PutPas(user.UserName, "User " + std::to_string(u));
    userFile.append(reinterpret_cast<const char *>(&user), sizeof user);
  }
  WriteAll(root / "USERS" / "USERS.BBS", userFile);
  size_t blocks = (areas + 15) / 16;
  std::string lastComb(size_t(users) * blocks * sizeof(NextReadBlock), '\0');
  for (size_t i = 0; i + 1 < lastComb.size(); i += 2) lastComb[i] = static_cast<char>(2 + rng() % 200);
  WriteAll(root / "USERS" / "LASTCOMB.BBS", lastComb);
  WriteAll(root / "MSG" / "MSGCOUNT.BBS", std::string(blocks * 32, '\0'));
  return base;
}

// The cost floor: every file of the message directory read and written
// through the same stream buffers, and synced, as packing does.
void PlainCopy(const fs::path &from, const fs::path &to) {
  std::vector<char> buffer(65536);
  for (const auto &e : fs::recursive_directory_iterator(from)) {
    fs::path target = to / fs::relative(e.path(), from);
    if (e.is_directory()) {
      fs::create_directories(target);
      continue;
    }
    fs::create_directories(target.parent_path());
    plat::UniqueFile in(plat::OpenFile(e.path().string(), plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
    plat::UniqueFile out(plat::OpenFile(target.string(), plat::Access::Write, plat::Share::DenyWrite, plat::Mode::Binary));
    if (!in || !out) continue;
    plat::SetStreamBuffer(out.get(), 262144);
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) plat::WriteBytes(out.get(), buffer.data(), got);
    plat::FlushFile(out.get());
  }
}

void UseBoard(const fs::path &root, int areas) {
  std::string r = root.generic_string() + "/";
  SystemPath = r;
  MsgPath = r + "MSG/";
  UserBasePath = r + "USERS/";
  MaintLog = r + "SORREL.LOG";
  std::memset(&Config, 0, sizeof Config);
  Constant.MaxMsgAreas = static_cast<uint16_t>((areas + 15) / 16 * 16);
  Constant.ConstantFlags = 0;
}

// One area of 2,000 messages, half of them removed, packed with and without
// 10,000 users: the difference is the next-read renumbering.
double RenumberingSeconds(const fs::path &root) {
  double times[2];
  for (int withUsers = 0; withUsers < 2; ++withUsers) {
    fs::remove_all(root);
    Generate(root, 4, 1, withUsers ? 10000 : 0);
    UseBoard(root, 1);
    std::string lastComb = (root / "USERS" / "LASTCOMB.BBS").string();
    hLastComb = plat::OpenFile(lastComb, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary);
    std::setvbuf(hLastComb, nullptr, _IONBF, 0);  // as the run reads it
    NumUsers = withUsers ? 10000 : 0;
    MessageRecord record{};
    std::ifstream(root / "MESSAGES.VLM", std::ios::binary).read(reinterpret_cast<char *>(&record), sizeof record);
    uint16_t count = 0;
    auto start = Clock::now();
    CompressArea(1, record, 0, 0, count);
    times[withUsers] = Seconds(start);
    plat::CloseFile(hLastComb);
    hLastComb = nullptr;
  }
  return times[1] - times[0];
}

}  // namespace

int main(int argc, char **argv) {
  uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  int areas = argc > 2 ? std::atoi(argv[2]) : 300;
  int users = argc > 3 ? std::atoi(argv[3]) : 2000;
  fs::path root = fs::temp_directory_path() / ("sorrel_bench_" + std::to_string(std::random_device{}()));

  std::printf("generating %llu MiB of text in %d areas, %d users...\n", static_cast<unsigned long long>(mib), areas, users);
  Base base = Generate(root / "board", mib, areas, users);

  auto copyStart = Clock::now();
  PlainCopy(root / "board" / "MSG", root / "copy");
  double copySeconds = Seconds(copyStart);
  fs::remove_all(root / "copy");

  UseBoard(root / "board", areas);
  const char *args[] = {"sorrel_bench"};
  SetArguments(1, args);
  std::fflush(stdout);
  size_t heapBefore = HeapNow;
  HeapPeak = heapBefore;
  // The per-area lines go to the console like a real run's.
  auto packStart = Clock::now();
  CompressMessageBase();
  double packSeconds = Seconds(packStart);
  size_t heapPeak = HeapPeak - heapBefore;

  uint64_t after = 0;
  for (const auto &e : fs::recursive_directory_iterator(root / "board" / "MSG"))
    if (e.is_regular_file() && e.path().filename().string().rfind("MT", 0) == 0) after += e.file_size();

  double renumber = RenumberingSeconds(root / "renumber");
  fs::remove_all(root);

  std::printf("\n%llu messages, %.1f MiB of text before, %.1f MiB after packing\n",
              static_cast<unsigned long long>(base.messages), base.textBytes / 1048576.0, after / 1048576.0);
  std::printf("plain copy of the message directory: %8.2f s\n", copySeconds);
  std::printf("packing every area:                  %8.2f s  (%.2f x the copy)\n", packSeconds, packSeconds / copySeconds);
  std::printf("heap peak while packing:             %8.2f MiB\n", heapPeak / 1048576.0);
  std::printf("next-read renumbering, 10,000 users: %8.3f s\n", renumber);
  return 0;
}
