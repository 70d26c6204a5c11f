// Win32 implementation of the platform layer.
//
// This is the board's own platform, so board paths are handed to the C
// runtime exactly as they stand: drive letters, backslashes and the file
// system's own case-insensitive lookup.  Sharing modes are the real ones
// (_sopen with _SH_DENYNO, _SH_DENYWR, _SH_DENYRW), text mode is the
// runtime's (CR LF on disk, Ctrl-Z ends the input), the byte-range lock is
// LockFile on the file's handle, and directory searches are _findfirst with
// the attribute filter applied to what it returns.  Error texts are the
// runtime's strerror texts.
//
// Every file is opened without inheritance: a child process must never hold
// one of our handles, with its sharing mode and locks, after we close it.
#include <windows.h>
// <windows.h> maps these names to their ANSI functions; the platform
// interface uses them for its own routines.
#undef DeleteFile
#undef RemoveDirectory

#include "platform.h"
#include "platform_shared.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <unordered_map>
#include <vector>

namespace plat {
namespace {

// errno for a Win32 error of the few calls made here outside the runtime,
// chosen as the runtime chooses it for the same error.
int ErrnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EACCES;  // access denied, sharing and lock violations
  }
}

// A directory text without its trailing backslash, as _rmdir and _mkdir
// want it; a drive's root ("C:\") keeps it.
std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/') &&
         !(path.size() == 3 && path[1] == ':'))
    path.pop_back();
  return path;
}

// ---------------------------------------------------------------- streams

int StreamFd(FILE *f) {
  int fd = shared::RegisteredFd(f);
  return fd >= 0 || !f ? fd : _fileno(f);
}

HANDLE StreamHandle(FILE *f) {
  int fd = StreamFd(f);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool Writes(Access a) { return a != Access::Read; }

}  // namespace

#ifdef VLM_TEST_HOOKS
std::string HostPath(const std::string &boardPath) { return boardPath; }
std::string HostPathByWalk(const std::string &boardPath) { return boardPath; }
long CaseBlindDirectoryReads() { return 0; }
#endif

namespace {
void Record(const char *kind, const std::string &a, const std::string &b = std::string()) {
  if (shared::Recording()) shared::RecordLine(std::string(kind) + "\t" + a + (b.empty() ? "" : "\t" + b));
}

// Identity of the file behind a handle.
bool HandleIdentity(HANDLE h, FileIdentity &id, int64_t *length = nullptr) {
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) {
    errno = h == INVALID_HANDLE_VALUE ? EBADF : ErrnoFor(GetLastError());
    return false;
  }
  id.volume = info.dwVolumeSerialNumber;
  id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  if (length) *length = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  return true;
}
}  // namespace

FILE *OpenFile(const std::string &path, Access access, Share share, Mode mode) {
  if (path.size() > shared::kMaxBoardPath) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  if (path.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  if (Writes(access) && shared::FaultHere("open", path)) return nullptr;

  int flags = _O_NOINHERIT | (mode == Mode::Text ? _O_TEXT : _O_BINARY);
  const char *fmode = "r";
  switch (access) {
    case Access::Read: flags |= _O_RDONLY; fmode = "r"; break;
    case Access::ReadWrite: flags |= _O_RDWR; fmode = "r+"; break;
    case Access::Write: flags |= _O_WRONLY | _O_CREAT | _O_TRUNC; fmode = "w"; break;
    case Access::WriteRead: flags |= _O_RDWR | _O_CREAT | _O_TRUNC; fmode = "w+"; break;
    case Access::Append: flags |= _O_WRONLY | _O_CREAT | _O_APPEND; fmode = "a"; break;
    case Access::CreateNew: flags |= _O_WRONLY | _O_CREAT | _O_EXCL; fmode = "w"; break;
  }
  bool existed = shared::Recording() && Writes(access) && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  int shflag = share == Share::Exclusive ? _SH_DENYRW : share == Share::DenyWrite ? _SH_DENYWR : _SH_DENYNO;
  // The system applies the sharing check before it empties a file, so a
  // file that another process holds is refused and left as it is.
  int fd = _sopen(path.c_str(), flags, shflag, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;

  std::string streamMode = std::string(fmode) + (mode == Mode::Text ? "t" : "b");
  FILE *f = _fdopen(fd, streamMode.c_str());
  if (!f) {
    int e = errno;
    _close(fd);
    errno = e;
    return nullptr;
  }
  FileIdentity id;
  if (!HandleIdentity(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), id)) id = FileIdentity();
  shared::RegisterStream(f, fd, Writes(access), id, path);
  if (shared::Recording() && Writes(access)) {
    bool emptied = access == Access::Write || access == Access::WriteRead || access == Access::CreateNew;
    shared::RecordLine("open\t" + std::to_string(id.file) + "\t" + path + "\t" + (existed ? "0" : "1") + "\t" +
                       (emptied ? "1" : "0"));
  }
  return f;
}

int FlushFile(FILE *f) {
  if (shared::FaultHere("flush", shared::StreamPath(f))) return 0;
  if (fflush(f) != 0) return 0;
  int fd = StreamFd(f);
  if (fd < 0 || (shared::SyncsOn() && _commit(fd) != 0)) return 0;
  if (shared::Recording()) shared::RecordLine("fsync\t" + std::to_string(shared::RegisteredFile(f)));
  return 1;
}

int64_t shared::StreamOffset(FILE *f) { return static_cast<int64_t>(_ftelli64(f)); }

int64_t FileLength(FILE *f) {
  int fd = StreamFd(f);
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  __int64 length = _filelengthi64(fd);
  return length < 0 ? -1 : static_cast<int64_t>(length);
}

int shared::TruncateFd(int fd, int64_t length) {
  if (length < 0) {
    errno = EINVAL;
    return 0;
  }
  errno_t e = _chsize_s(fd, static_cast<__int64>(length));
  if (e != 0) {
    errno = e;
    return 0;
  }
  return 1;
}

int shared::FlushedFdOf(FILE *f) {
  int fd = StreamFd(f);
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  return std::fflush(f) == 0 ? fd : -1;
}

namespace {
// Local calendar time of a time stamp, by the runtime's rules (which honour
// TZ as the board's platform always did).
bool LocalCalendar(__time64_t t, struct tm &out) {
  struct tm *tm = _localtime64(&t);
  if (!tm) return false;
  out = *tm;
  return true;
}
}  // namespace

int FileModifiedDos(FILE *f, uint32_t &dosDateTime) {
  int fd = StreamFd(f);
  struct _stat64 st;
  if (fd < 0 || _fstat64(fd, &st) != 0) return 0;
  struct tm tm;
  if (!LocalCalendar(st.st_mtime, tm)) return 0;
  dosDateTime = shared::DosDateTime(tm);
  return 1;
}

// Replaces an existing target, as the POSIX build does, so that both hosts
// give the callers one behaviour; the move is written through to the disk
// before it is reported.
int RenameFile(const std::string &from, const std::string &to) {
  if (!shared::CheckedPath(from) || !shared::CheckedPath(to) || shared::FaultHere("rename", from)) return 0;
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    errno = ErrnoFor(GetLastError());
    return 0;
  }
  Record("rename", from, to);
  return 1;
}

// Without MOVEFILE_REPLACE_EXISTING the system refuses an existing target
// itself, so no other program's file can ever be replaced.
int RenameFileNoReplace(const std::string &from, const std::string &to) {
  if (!shared::CheckedPath(from) || !shared::CheckedPath(to) || shared::FaultHere("rename", from)) return 0;
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
    errno = ErrnoFor(GetLastError());
    return 0;
  }
  Record("rename", from, to);
  return 1;
}

// Windows has no step that swaps two names.
int ExchangeFiles(const std::string &, const std::string &) {
  errno = ENOSYS;
  return 0;
}

// Renames are written through (MOVEFILE_WRITE_THROUGH) and the file system
// keeps its names in its own log: there is no directory to flush.
int SyncDirectory(const std::string &directory) {
  if (!shared::CheckedPath(directory) || shared::FaultHere("dirsync", directory)) return 0;
  Record("dirsync", WithoutTrailingSeparator(directory));
  return 1;
}

int SyncTogether(const std::vector<std::string> &files, const std::vector<std::string> &directories,
                 std::string &failed) {
  // Windows has no sync of a whole volume for ordinary programs: each file
  // is committed in turn, and renames are written through already.
  for (const std::string &path : files) {
    UniqueFile f(OpenFile(path, Access::ReadWrite, Share::DenyNone, Mode::Binary));
    if (!f || !FlushFile(f.get())) {
      failed = path;
      return 0;
    }
  }
  for (const std::string &directory : directories) {
    if (!SyncDirectory(directory)) {
      failed = directory;
      return 0;
    }
  }
  return 1;
}

int IdentifyFile(const std::string &path, FileIdentity &id, int64_t *length) {
  if (!shared::CheckedPath(path)) return 0;
  HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    errno = ErrnoFor(error);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kNoSuchFile : 0;
  }
  bool ok = HandleIdentity(h, id, length);
  CloseHandle(h);
  return ok ? 1 : 0;
}

int WriteBytesAt(FILE *f, int64_t offset, const void *data, size_t size) {
  if (_fseeki64(f, offset, SEEK_SET) != 0) return 0;
  return WriteBytes(f, data, size) && std::fflush(f) == 0;
}

int WriteGathered(FILE *f, const ByteSpan *spans, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!WriteBytes(f, spans[i].data, spans[i].size)) return 0;
  return std::fflush(f) == 0;
}

int ReadBytesAt(FILE *f, int64_t offset, void *into, size_t size) {
  __int64 was = _ftelli64(f);
  if (was < 0 || _fseeki64(f, offset, SEEK_SET) != 0) return 0;
  bool ok = std::fread(into, 1, size, f) == size;
  if (_fseeki64(f, was, SEEK_SET) != 0) ok = false;
  return ok ? 1 : 0;
}

int WriteScattered(FILE *f, const PlacedBytes *pieces, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!WriteBytesAt(f, pieces[i].offset, pieces[i].data, pieces[i].size)) return 0;
  return 1;
}

// The file system is asked every time: there are no listings (see
// ListingScope).
bool KnownAbsent(const std::string &) { return false; }

int IdentifyStream(FILE *f, FileIdentity &id) { return HandleIdentity(StreamHandle(f), id) ? 1 : 0; }

// The runtime's append mode seeks to the end before each write, which is
// one step only while nobody else writes: callers open the file denying
// others the right to write while they append.
int AppendBytes(FILE *f, const void *data, size_t size, int64_t &at) {
  if (shared::FaultHere("append", shared::StreamPath(f))) return 0;
  int fd = StreamFd(f);
  if (fd < 0 || fflush(f) != 0) {
    if (fd < 0) errno = EBADF;
    return 0;
  }
  __int64 end = _filelengthi64(fd);
  if (end < 0) return 0;
  if (std::fwrite(data, 1, size, f) != size || fflush(f) != 0) return 0;
  at = static_cast<int64_t>(end);
  if (shared::Recording()) shared::RecordWrite(f, at, data, size);
  return 1;
}

int DeleteFile(const std::string &path) {
  if (!shared::CheckedPath(path) || shared::FaultHere("delete", path)) return 0;
  if (_unlink(path.c_str()) != 0) return 0;
  Record("delete", path);
  return 1;
}

int DeleteFiles(const std::vector<std::string> &paths, int *errors) {
  // Deletions do not wait on the device here: one after another.
  int all = 1;
  for (size_t i = 0; i < paths.size(); ++i) {
    errors[i] = DeleteFile(paths[i]) ? 0 : (errno ? errno : EIO);
    if (errors[i]) all = 0;
  }
  return all;
}

int RemoveDirectory(const std::string &path) {
  if (!shared::CheckedPath(path) || shared::FaultHere("rmdir", path)) return 0;
  if (_rmdir(WithoutTrailingSeparator(path).c_str()) != 0) return 0;
  Record("rmdir", WithoutTrailingSeparator(path));
  return 1;
}

int MakeDirectory(const std::string &path) {
  if (!shared::CheckedPath(path) || shared::FaultHere("mkdir", path)) return 0;
  if (_mkdir(WithoutTrailingSeparator(path).c_str()) != 0) return 0;
  Record("mkdir", WithoutTrailingSeparator(path));
  return 1;
}

namespace {
int RangeLock(FILE *f, int64_t offset, int64_t length, bool lock) {
  HANDLE h = StreamHandle(f);
  if (h == INVALID_HANDLE_VALUE || offset < 0 || length <= 0) {
    errno = h == INVALID_HANDLE_VALUE ? EBADF : EINVAL;
    return 0;
  }
  DWORD offLow = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  DWORD offHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD lenLow = static_cast<DWORD>(static_cast<uint64_t>(length) & 0xFFFFFFFFu);
  DWORD lenHigh = static_cast<DWORD>(static_cast<uint64_t>(length) >> 32);
  // LockFile never waits: a range held by another handle fails at once.
  BOOL ok = lock ? LockFile(h, offLow, offHigh, lenLow, lenHigh) : UnlockFile(h, offLow, offHigh, lenLow, lenHigh);
  if (ok) return 1;
  errno = ErrnoFor(GetLastError());
  return 0;
}
}  // namespace

int LockRange(FILE *f, int64_t offset, int64_t length) { return RangeLock(f, offset, length, true); }
int UnlockRange(FILE *f, int64_t offset, int64_t length) { return RangeLock(f, offset, length, false); }

// The file system ignores case itself: there is no listing to keep.
ListingScope::ListingScope() = default;
ListingScope::~ListingScope() = default;

void SleepSeconds(unsigned seconds) { Sleep(static_cast<DWORD>(seconds) * 1000u); }
void SleepMilliseconds(unsigned milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

LocalTime GetLocalTime() {
  struct tm tm;
  LocalTime lt;
  if (!LocalCalendar(_time64(nullptr), tm)) return lt;
  return shared::ToLocalTime(tm);
}

// Asked of the system in its wide form: the runtime's _getcwd and the ANSI
// call both stop at MAX_PATH, and a deeper current directory must come
// back whole, so that the callers refuse it as too long instead of working
// in a cut, different directory.  Converted to the ANSI code page that the
// other routines take.
std::string CurrentDirectory() {
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  for (int attempt = 0; needed > 0 && attempt < 3; ++attempt) {
    std::vector<wchar_t> wide(needed + 1);
    DWORD got = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data());
    if (got == 0) break;
    if (got >= wide.size()) {
      needed = got;  // the directory changed in between; try with the new size
      continue;
    }
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) break;
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), text.data(), bytes, nullptr, nullptr);
    return text;
  }
  return std::string();
}


// ---------------------------------------------------------------- search

struct DirectorySearch::State {
  intptr_t handle = -1;
  unsigned attributes = 0;
  ~State() {
    if (handle != -1) _findclose(handle);
  }
};

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() = default;

void DirectorySearch::Close() { state_.reset(); }

namespace {
// The attribute filter: ordinary, read-only and archive files always;
// directories only when asked for; hidden and system entries never, nor
// the "." and ".." of a directory.
bool Accept(const struct __finddata64_t &data, unsigned attributes, FoundEntry &entry) {
  if (data.attrib & (_A_HIDDEN | _A_SYSTEM)) return false;
  bool directory = (data.attrib & _A_SUBDIR) != 0;
  if (directory) {
    if (!(attributes & FindDirectories)) return false;
    if (std::strcmp(data.name, ".") == 0 || std::strcmp(data.name, "..") == 0) return false;
  }
  entry.name = data.name;
  entry.isDirectory = directory;
  entry.size = directory ? 0 : static_cast<int64_t>(data.size);
  entry.readOnly = (data.attrib & _A_RDONLY) != 0;
  return true;
}
}  // namespace

int DirectorySearch::First(const std::string &pattern, unsigned attributes, FoundEntry &entry) {
  state_.reset();
  if (pattern.size() > shared::kMaxBoardPath) {
    errno = ENAMETOOLONG;
    return 0;
  }
  // A pattern that names a directory ("C:\BBS\") matches nothing.
  if (pattern.empty() || pattern.back() == '\\' || pattern.back() == '/' || pattern.back() == ':') {
    errno = ENOENT;
    return 0;
  }
  auto state = std::make_unique<State>();
  state->attributes = attributes;
  struct __finddata64_t data;
  state->handle = _findfirst64(pattern.c_str(), &data);
  if (state->handle == -1) return 0;
  if (Accept(data, attributes, entry)) {
    state_ = std::move(state);
    return 1;
  }
  state_ = std::move(state);
  if (Next(entry)) return 1;
  state_.reset();
  errno = ENOENT;
  return 0;
}

int DirectorySearch::Next(FoundEntry &entry) {
  if (!state_ || state_->handle == -1) return 0;
  struct __finddata64_t data;
  while (_findnext64(state_->handle, &data) == 0) {
    if (Accept(data, state_->attributes, entry)) return 1;
  }
  return 0;
}

}  // namespace plat
