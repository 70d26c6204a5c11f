#include "platform_shared.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <unordered_map>
#include <vector>

namespace plat {
namespace {

#ifdef VLM_TEST_HOOKS
// The state of the test hooks, loaded from the environment on first use.
struct HookState {
  bool loaded = false;
  long limit = 0;
  long count = 0;
  FaultAction action = FaultAction::FaultFail;
  bool syncs = true;
  OperationHook hook;
  bool inHook = false;     // operations of the hook itself are neither counted nor hooked
  FILE *record = nullptr;  // the disk record, opened on first use
  std::string recordPath;
};

HookState &Hooks() {
  static HookState state;
  if (!state.loaded) {
    state.loaded = true;
    if (const char *at = std::getenv("VLM_FAULT_AT")) state.limit = std::strtol(at, nullptr, 10);
    if (const char *mode = std::getenv("VLM_FAULT_MODE"))
      state.action = std::strcmp(mode, "exit") == 0 ? FaultAction::FaultExit : FaultAction::FaultFail;
    if (const char *sync = std::getenv("VLM_SYNC")) state.syncs = std::strcmp(sync, "off") != 0;
    if (const char *record = std::getenv("VLM_RECORD_DISK")) state.recordPath = record;
  }
  return state;
}
#endif

struct StreamInfo {
  int fd = -1;
  bool written = false;  // opened for writing: its close counts as a disk change
  FileIdentity id;       // identity as opened; its file names it to the disk recorder
  std::string path;      // board path, for the operation hook
  std::unique_ptr<char[]> buffer;
};



std::unordered_map<FILE *, StreamInfo> &Streams() {
  static std::unordered_map<FILE *, StreamInfo> streams;
  return streams;
}

std::string writeJail;  // absolute host directory with its trailing '/', or empty

}  // namespace

namespace shared {

void RegisterStream(FILE *f, int fd, bool written, const FileIdentity &id, const std::string &path) {
  StreamInfo &info = Streams()[f];
  info.fd = fd;
  info.written = written;
  info.id = id;
  info.path = path;
}

int RegisteredFd(FILE *f) {
  auto it = Streams().find(f);
  return it == Streams().end() ? -1 : it->second.fd;
}

const std::string &StreamPath(FILE *f) {
  static const std::string none;
  auto it = Streams().find(f);
  return it == Streams().end() ? none : it->second.path;
}

uint64_t RegisteredFile(FILE *f) {
  auto it = Streams().find(f);
  return it == Streams().end() ? 0 : it->second.id.file;
}

int RegisteredIdentity(FILE *f, FileIdentity &id) {
  auto it = Streams().find(f);
  if (it == Streams().end() || (it->second.id.volume == 0 && it->second.id.file == 0)) return 0;
  id = it->second.id;
  return 1;
}

#ifdef VLM_TEST_HOOKS
bool FaultHere(const char *kind, const std::string &path) {
  HookState &h = Hooks();
  if (h.inHook) return false;
  ++h.count;
  if (h.hook) {
    h.inHook = true;
    h.hook(h.count, kind, path);
    h.inHook = false;
  }
  if (h.limit <= 0 || h.count != h.limit) return false;
  // Ends the process without flushing any stream, like a crash would.
  if (h.action == FaultAction::FaultExit) std::_Exit(86);
  errno = EIO;
  return true;
}

bool SyncsOn() { return Hooks().syncs; }

bool Recording() {
  HookState &h = Hooks();
  return !h.recordPath.empty() && !h.inHook;
}

// One line per change, fields separated by tabs; files are named by their
// identity within the volume, paths are host paths:
//   open <file> <path> <created 0/1> <emptied 0/1>   a stream opened for writing
//   write <file> <offset> <bytes in hex>             handed to the system
//   truncate <file> <length>
//   fsync <file>
//   rename <from> <to>      exchange <a> <b>      link <existing> <new>
//   delete <path>           mkdir <path>          rmdir <path>
//   dirsync <directory>
void RecordWrite(FILE *f, int64_t at, const void *data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string line = "write\t" + std::to_string(RegisteredFile(f)) + "\t" + std::to_string(at) + "\t";
  for (size_t i = 0; i < size; ++i) {
    unsigned char b = static_cast<const unsigned char *>(data)[i];
    line += digits[b >> 4];
    line += digits[b & 15];
  }
  RecordLine(line);
}

void RecordLine(const std::string &line) {
  HookState &h = Hooks();
  if (h.recordPath.empty()) return;
  if (!h.record) h.record = std::fopen(h.recordPath.c_str(), "ab");
  if (!h.record) return;
  std::fputs(line.c_str(), h.record);
  std::fputc('\n', h.record);
  std::fflush(h.record);
}
#endif

int CheckedPath(const std::string &path) {
  if (path.size() > kMaxBoardPath) {
    errno = ENAMETOOLONG;
    return 0;
  }
  return 1;
}


bool OutsideWriteJail(const std::string &hostPath) {
  if (writeJail.empty()) return false;
  std::string absoluteHostPath = !hostPath.empty() && hostPath[0] == '/' ? hostPath : CurrentDirectory() + "/" + hostPath;
  // Lexical form without "." and ".." components, so "jail/../x" is outside.
  std::string normal;
  size_t pos = 0;
  while (pos <= absoluteHostPath.size()) {
    size_t slash = absoluteHostPath.find('/', pos);
    if (slash == std::string::npos) slash = absoluteHostPath.size();
    std::string comp = absoluteHostPath.substr(pos, slash - pos);
    if (comp == "..") {
      size_t cut = normal.find_last_of('/');
      normal.resize(cut == std::string::npos ? 0 : cut);
    } else if (!comp.empty() && comp != ".") {
      normal += '/';
      normal += comp;
    }
    pos = slash + 1;
  }
  normal += '/';
  return normal.compare(0, writeJail.size(), writeJail) != 0;
}

uint32_t DosDateTime(const struct tm &tm) {
  int year = tm.tm_year + 1900 - 1980;
  if (year < 0) year = 0;
  return (static_cast<uint32_t>(year & 0x7F) << 25) | (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
         (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
         (static_cast<uint32_t>(tm.tm_min) << 5) | static_cast<uint32_t>(tm.tm_sec / 2);
}

LocalTime ToLocalTime(const struct tm &tm) {
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  return lt;
}

}  // namespace shared

#ifdef VLM_TEST_HOOKS
void SetFaultInjection(long limit, FaultAction action) {
  HookState &h = Hooks();
  h.limit = limit;
  h.action = action;
  h.count = 0;
}

long FaultOperationCount() { return Hooks().count; }

void SetOperationHook(OperationHook hook) { Hooks().hook = std::move(hook); }

void SetSyncs(bool on) { Hooks().syncs = on; }
#endif

#ifdef VLM_TEST_HOOKS

void SetWriteJail(const std::string &hostDirectory) {
  writeJail.clear();
  if (hostDirectory.empty()) return;
  writeJail = hostDirectory;
  if (writeJail.back() != '/') writeJail += '/';
}
#endif

int CloseFile(FILE *f) {
  if (!f) {
    errno = EBADF;
    return 0;
  }
  bool written = false;
  std::string path;
  std::unique_ptr<char[]> buffer;  // released only after fclose has used it
  auto it = Streams().find(f);
  if (it != Streams().end()) {
    written = it->second.written;
    path = std::move(it->second.path);
    buffer = std::move(it->second.buffer);
    Streams().erase(it);
  }
  bool injected = written && shared::FaultHere("close", path);
  int e = injected ? EIO : 0;
  if (std::fclose(f) != 0 && !injected) e = errno ? errno : EIO;
  if (!e) return 1;
  errno = e;
  return 0;
}

void shared::InParallel(size_t count, const std::function<void(size_t)> &work) {
  // Each call mostly waits on the device; a few threads wait at once.
  constexpr size_t kThreads = 4;
  std::atomic<size_t> next{0};
  auto take = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) work(i);
  };
  std::vector<std::thread> helpers;
  try {
    for (size_t n = 1; n < kThreads && n < count; ++n) helpers.emplace_back(take);
  } catch (...) {
    // Fewer helpers than wanted: this thread does what they do not.
  }
  take();
  for (std::thread &t : helpers) t.join();
}

namespace {
void RecordTruncate(FILE *f, int64_t length) {
  if (shared::Recording())
    shared::RecordLine("truncate\t" + std::to_string(shared::RegisteredFile(f)) + "\t" + std::to_string(length));
}
}  // namespace

int TruncateFile(FILE *f, int64_t length) {
  if (shared::FaultHere("truncate", shared::StreamPath(f))) return 0;
  int fd = shared::FlushedFdOf(f);
  if (fd < 0 || !shared::TruncateFd(fd, length)) return 0;
  RecordTruncate(f, length);
  return 1;
}

int TruncateFiles(FILE *const *files, const int64_t *lengths, size_t count, int *errors) {
  // Everything but the system's cuts is done in order on this thread, as
  // one file after another would have it: the operations are counted, may
  // be made to fail and are recorded in the order given.
  std::vector<int> fds(count, -1);
  for (size_t i = 0; i < count; ++i) {
    errors[i] = 0;
    if (shared::FaultHere("truncate", shared::StreamPath(files[i])) || (fds[i] = shared::FlushedFdOf(files[i])) < 0)
      errors[i] = errno ? errno : EIO;
  }
  shared::InParallel(count, [&](size_t i) {
    if (fds[i] >= 0 && !shared::TruncateFd(fds[i], lengths[i])) errors[i] = errno ? errno : EIO;
  });
  int all = 1;
  for (size_t i = 0; i < count; ++i) {
    if (errors[i] != 0)
      all = 0;
    else
      RecordTruncate(files[i], lengths[i]);
  }
  return all;
}

int DeleteFileIfPresent(const std::string &path) {
  if (DeleteFile(path)) return 1;
  return errno == ENOENT ? kNoSuchFile : 0;
}

int RenameFileIfPresent(const std::string &from, const std::string &to) {
  if (RenameFile(from, to)) return 1;
  return errno == ENOENT ? kNoSuchFile : 0;
}

int SetStreamBuffer(FILE *f, size_t size) {
  auto it = Streams().find(f);
  if (it == Streams().end() || size < 2 || size > static_cast<size_t>(INT_MAX)) return 0;
  std::unique_ptr<char[]> buf(new (std::nothrow) char[size]);
  if (!buf) return 0;
  if (std::setvbuf(f, buf.get(), _IOFBF, size) != 0) return 0;
  it->second.buffer = std::move(buf);
  return 1;
}

int WriteBytes(FILE *f, const void *data, size_t size) {
  if (shared::FaultHere("write", shared::StreamPath(f))) return 0;
  if (!shared::Recording()) return std::fwrite(data, 1, size, f) == size ? 1 : 0;
  int64_t at = shared::StreamOffset(f);
  if (std::fwrite(data, 1, size, f) != size || std::fflush(f) != 0) return 0;
  shared::RecordWrite(f, at, data, size);
  return 1;
}

}  // namespace plat
