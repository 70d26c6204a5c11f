// Speed of the fast-find index passes against their cost floors, measured in
// one run on a generated tree:
//   - the build of 100,000 files in 200 areas next to a bare enumeration of
//     the same tree (directory reads plus one size query per file);
//   - the sort pass over 1,000,000 records next to reading and writing the
//     same file once, and the in-memory sort alone.
//
//   marten_bench [files-per-area] [sort-records]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "marten.h"
#include "platform.h"
#include "startup.h"
#include "text.h"

namespace fs = std::filesystem;

// Live heap bytes and their high-water mark, kept by replacing the global
// allocation functions: the build must stay flat however many files it sees.
namespace {
size_t LiveBytes = 0;
size_t MostLiveBytes = 0;
constexpr size_t kSizeSlot = alignof(std::max_align_t);
}  // namespace

// Each block carries its size in front of what the caller gets.  Kept out
// of line: inlined next to a standard container, the compiler mistakes the
// pair for mismatched allocation calls.
[[gnu::noinline]] void *operator new(size_t size) {
  void *block = std::malloc(kSizeSlot + size);
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<size_t *>(block) = size;
  LiveBytes += size;
  MostLiveBytes = std::max(MostLiveBytes, LiveBytes);
  return static_cast<char *>(block) + kSizeSlot;
}
[[gnu::noinline]] void operator delete(void *p) noexcept {
  if (p == nullptr) return;
  void *block = static_cast<char *>(p) - kSizeSlot;
  LiveBytes -= *static_cast<size_t *>(block);
  std::free(block);
}
void *operator new[](size_t size) { return operator new(size); }
void operator delete[](void *p) noexcept { operator delete(p); }
void operator delete(void *p, size_t) noexcept { operator delete(p); }
void operator delete[](void *p, size_t) noexcept { operator delete(p); }

namespace {

constexpr int kAreas = 200;

double Seconds(const std::function<void()> &work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of a few runs: the machines are noisy, the floor is what counts.
double Best(int runs, const std::function<void()> &work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, Seconds(work));
  return best;
}

std::string AreaDir(const fs::path &root, int area) {
  char name[16];
  std::snprintf(name, sizeof name, "AREA%03d", area);
  return (root / name).string() + "/";
}

// Mostly 8+3 names, some that do not fit, a listing file in each area.
void MakeTree(const fs::path &root, int filesPerArea) {
  std::mt19937 random(1);
  std::string records;
  for (int area = 1; area <= kAreas; ++area) {
    std::string dir = AreaDir(root, area);
    fs::create_directories(dir);
    for (int i = 0; i < filesPerArea; ++i) {
      char name[40];
      if (i % 50 == 49)
        std::snprintf(name, sizeof name, "a long file name %d.txt", i);
      else
        std::snprintf(name, sizeof name, "F%03d%04d.%s", area, i, i % 3 ? "ZIP" : "txt");
      std::ofstream f(dir + name, std::ios::binary);
      std::string bytes(random() % 200, 'x');
      f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::ofstream(dir + "FILES.BBS") << "listing\r\n";
    std::string r(256, '\0');
    r[0] = static_cast<char>(dir.size());
    std::memcpy(&r[1], dir.data(), dir.size());
    records += r;
  }
  std::ofstream(root / "FILEPATH.VLM", std::ios::binary) << records;
  std::ofstream(root / "SYSINFO.BBS", std::ios::binary) << std::string(168, '\0');
}

// The floor with nothing of ours in it: the standard library's directory
// iterator and one size query per file.
long EnumerateWithStandardLibrary(const fs::path &root) {
  long files = 0;
  uintmax_t bytes = 0;
  for (int area = 1; area <= kAreas; ++area)
    for (const fs::directory_entry &e : fs::directory_iterator(AreaDir(root, area)))
      if (e.is_regular_file()) {
        bytes += e.file_size();
        ++files;
      }
  return bytes ? files : files;
}

// The same through the platform layer's directory search, as the build uses it.
long EnumerateWithDirectorySearch(const fs::path &root) {
  long files = 0;
  for (int area = 1; area <= kAreas; ++area) {
    plat::DirectorySearch search;
    plat::FoundEntry entry;
    for (int found = search.First(AreaDir(root, area) + "*.*", plat::FindFiles, entry); found;
         found = search.Next(entry))
      ++files;
  }
  return files;
}

void WriteRandomIndex(const fs::path &path, long records) {
  std::mt19937 random(2);
  const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  std::vector<FastIndexRecord> index(static_cast<size_t>(records));
  for (FastIndexRecord &r : index) {
    std::memset(&r, 0, sizeof r);
    r.NameLength = 12;
    std::memset(r.Name, ' ', sizeof r.Name);
    size_t base = 1 + random() % 8;
    for (size_t i = 0; i < base; ++i) r.Name[i] = static_cast<uint8_t>(letters[random() % (sizeof letters - 1)]);
    std::memcpy(r.Name + 8, ".ZIP", 4);
    r.Area = static_cast<uint16_t>(1 + random() % kAreas);
    r.Size = static_cast<int32_t>(random() % 1000000);
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(index.data()), static_cast<std::streamsize>(index.size() * sizeof(FastIndexRecord)));
}

// One read and one write of the whole file through a 256 KB buffer.
void ReadAndWriteBack(const std::string &path) {
  plat::UniqueFile f(plat::OpenFile(path, plat::Access::ReadWrite, plat::Share::Exclusive, plat::Mode::Binary));
  plat::SetStreamBuffer(f.get(), 262144);
  size_t length = static_cast<size_t>(plat::FileLength(f.get()));
  std::unique_ptr<uint8_t[]> block(new uint8_t[length]);
  if (std::fread(block.get(), 1, length, f.get()) != length) std::printf("short read\n");
  std::fseek(f.get(), 0, SEEK_SET);
  plat::WriteBytes(f.get(), block.get(), length);
  plat::CloseFile(f.release());
}

}  // namespace

int main(int argc, char **argv) {
  int filesPerArea = argc > 1 ? std::atoi(argv[1]) : 500;
  long sortRecords = argc > 2 ? std::atol(argv[2]) : 1000000;
  fs::path root = fs::temp_directory_path() / ("marten_bench_" + std::to_string(std::random_device()()));
  fs::create_directories(root);
  std::string board = root.string() + "/";

  SystemPath = board;
  Node = 1;
  std::memset(&Config, 0, sizeof Config);
  CToPas(board, Config.FastIndexPath);

  std::printf("generating %d files in %d areas...\n", filesPerArea * kAreas, kAreas);
  MakeTree(root, filesPerArea);
  std::fflush(stdout);

  long files = EnumerateWithStandardLibrary(root);  // warms the caches
  double floorStd = Best(5, [&] { EnumerateWithStandardLibrary(root); });
  double floorSearch = Best(5, [&] { EnumerateWithDirectorySearch(root); });
  double build = Best(5, [&] { ProcessFilePath(); });
  size_t before = LiveBytes;
  MostLiveBytes = LiveBytes;
  ProcessFilePath();
  size_t buildHeap = MostLiveBytes - before;
  long indexed = static_cast<long>(fs::file_size(root / "FFIDX.BBS") / sizeof(FastIndexRecord));

  std::printf("\nbuild: %ld files, %ld indexed\n", files, indexed);
  std::printf("  bare enumeration, standard library   %8.1f ms\n", floorStd * 1e3);
  std::printf("  bare enumeration, directory search   %8.1f ms  (%.2f x standard library)\n", floorSearch * 1e3,
              floorSearch / floorStd);
  std::printf("  ProcessFilePath                      %8.1f ms  (%.2f x standard library, %.2f x directory search)\n",
              build * 1e3, build / floorStd, build / floorSearch);
  std::printf("  heap peak of the build               %8.1f KB\n", buildHeap / 1024.0);

  std::string indexName = board + "FFIDX.BBS";
  WriteRandomIndex(root / "FFIDX.BBS", sortRecords);
  std::string unsorted;
  {
    std::ifstream in(root / "FFIDX.BBS", std::ios::binary);
    unsorted.assign(std::istreambuf_iterator<char>(in), {});
  }
  double io = Best(3, [&] { ReadAndWriteBack(indexName); });
  double inMemory = Best(3, [&] {
    std::vector<FastIndexRecord> records(unsorted.size() / sizeof(FastIndexRecord));
    std::memcpy(records.data(), unsorted.data(), records.size() * sizeof(FastIndexRecord));
    std::sort(records.begin(), records.end(),
              [](const FastIndexRecord &a, const FastIndexRecord &b) { return CompFastIndex(&a, &b) < 0; });
  });
  double sort = 1e30;
  for (int i = 0; i < 3; ++i) {
    std::ofstream(root / "FFIDX.BBS", std::ios::binary).write(unsorted.data(), static_cast<std::streamsize>(unsorted.size()));
    sort = std::min(sort, Seconds([&] { SortFileIndex(); }));
  }
  std::printf("\nsort: %ld records\n", sortRecords);
  std::printf("  read and write back the file         %8.1f ms\n", io * 1e3);
  std::printf("  in-memory sort alone                 %8.1f ms\n", inMemory * 1e3);
  std::printf("  SortFileIndex                        %8.1f ms  (%.2f x in-memory sort, %.1f x read and write back)\n",
              sort * 1e3, sort / inMemory, sort / io);

  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
