// The one seam between the maintenance programs and the host.
//
// Every path handed to these routines is a board path: a DOS/Windows text
// with backslashes and perhaps a drive letter, exactly as the programs build
// it from the board's records, the environment or the switches.  Only the
// implementation behind this header turns it into a host path.  Routines
// report failure through their result and leave the reason in errno, so the
// callers can print the C library's text for it (strerror).
//
// Implementations: platform_posix.cpp and platform_win32.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// Who else may use a file while we hold it open.  On Windows these are the
// real sharing modes; on POSIX the denying modes take advisory locks, so two
// of our own programs can never rewrite one file at once.
enum class Share {
  DenyNone,   // configuration and shared data
  DenyWrite,  // others may read, not write
  Exclusive,  // others may neither read nor write
};

// How a file is opened, mirroring the C library's fopen modes.
enum class Access {
  Read,          // "r"  existing file, read only
  ReadWrite,     // "r+" existing file, read and write
  Write,         // "w"  created or emptied, write only
  WriteRead,     // "w+" created or emptied, read and write
  Append,        // "a"  created when missing, writes go to the end
  CreateNew,     // "wx" created, write only; an existing file is never opened (EEXIST)
};

enum class Mode {
  Binary,
  // Lines end in CR LF on disk; reading drops a CR before LF and stops at
  // Ctrl-Z.  Text streams are read or written in sequence: positions within
  // them count translated bytes, so seek only binary streams.
  Text,
};

// Opens a board path.  Returns null with errno set on failure.  A stream
// returned here must be closed with CloseFile (UniqueFile does that).
FILE *OpenFile(const std::string &path, Access access, Share share, Mode mode);

// Closes a stream opened by OpenFile and releases its stream buffer.
// Returns 1, or 0 with errno set when buffered data could not be written.
int CloseFile(FILE *f);

struct FileCloser {
  void operator()(FILE *f) const {
    if (f) CloseFile(f);
  }
};
// Owner of an open stream: closes it on every path.  A stream that was
// written should be closed explicitly with CloseFile(owner.release()) so the
// result of the close can be checked.
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// Gives the stream a fully buffered buffer of the requested size.  Returns
// 1, or 0 when the buffer was refused (the stream keeps default buffering).
int SetStreamBuffer(FILE *f, size_t size);

// Writes the stream's buffered data and forces it to the disk.  Returns 1 or 0.
int FlushFile(FILE *f);

// Length in bytes of the file behind an open stream as the system reports it
// for the handle (data still in the stream's buffer is not counted); -1 on error.
int64_t FileLength(FILE *f);

// Cuts (or extends) the file behind an open stream to the given length.
// Buffered data is written first.  Returns 1 or 0.
int TruncateFile(FILE *f, int64_t length);
// The same for several streams, files[i] to lengths[i]: where freeing a
// file's blocks waits on the device (file systems that discard freed blocks
// at once), the waits overlap.  errors[i] is 0 for a file cut and its errno
// for one that was not.  Returns 1 when every file was cut.
int TruncateFiles(FILE *const *files, const int64_t *lengths, size_t count, int *errors);

// Last modification time of the file behind an open stream, as a DOS packed
// local date and time (year-1980 in bits 25-31, month 21-24, day 16-20,
// hour 11-15, minute 5-10, seconds/2 0-4).  Returns 1 or 0.
int FileModifiedDos(FILE *f, uint32_t &dosDateTime);

int RenameFile(const std::string &from, const std::string &to);  // 1 or 0
int DeleteFile(const std::string &path);                         // 1 or 0
int RemoveDirectory(const std::string &path);                    // 1 or 0, empty directories only
int MakeDirectory(const std::string &path);                      // 1 or 0
// Deletes several files as DeleteFile would one after another; where a
// deletion waits on the device (freed blocks discarded at once), the waits
// overlap.  errors[i] is 0 for a file deleted and its errno for one that was
// not.  Returns 1 when every file was deleted.
int DeleteFiles(const std::vector<std::string> &paths, int *errors);

// Forms that take a missing file as a result, so that callers never ask
// whether a file exists before acting on it: asking first is a race with
// the board, and on POSIX a directory scan for a case-blind match.
inline constexpr int kNoSuchFile = -1;
// 1 deleted, kNoSuchFile when there was no such file, 0 on failure (errno).
int DeleteFileIfPresent(const std::string &path);
// 1 renamed, kNoSuchFile when `from` does not exist, 0 on failure (errno).
int RenameFileIfPresent(const std::string &from, const std::string &to);

// Renames without ever replacing a file: 0 with errno EEXIST when `to`
// exists, whoever created it.  On Windows the rename is written through to
// the disk before it is reported; on POSIX its directory must be synced
// (SyncDirectory) for it to survive a power cut.
int RenameFileNoReplace(const std::string &from, const std::string &to);

// Swaps the files behind two names in one step, so that neither name is
// ever missing.  0 with errno ENOSYS where the host or its file system has
// no such step (callers then fall back to RenameFileNoReplace).
int ExchangeFiles(const std::string &a, const std::string &b);

// Makes the names of a directory durable: files created, renamed or deleted
// in it are found under their new names after a power cut once this
// returns.  A file's own data needs FlushFile.  Returns 1 or 0.  On Windows,
// where renames are written through, it has nothing left to do.
int SyncDirectory(const std::string &directory);

// Makes the data of several files and the names of several directories
// durable together, for a step whose changes must all reach the disk before
// the next one begins.  Where the host can, that is one sync of each file
// system they are on (far cheaper than a sync per file); otherwise each file
// is synced in turn, in the order given, then each directory: list a file
// before the files that describe it.  Returns 1, or 0 with errno set and
// `failed` naming the path that could not be synced.
int SyncTogether(const std::vector<std::string> &files, const std::vector<std::string> &directories,
                 std::string &failed);

// What tells one file from another while names come and go: device and
// inode on POSIX, volume serial number and file index on Windows.  A name
// that is renamed keeps its file's identity; a file created anew gets
// another (while the old one exists).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity &) const = default;
};
// 1, kNoSuchFile when there is no file of that name, 0 on failure (errno).
// With `length`, the file's length in bytes is told as well, from the same
// look: one call where opening and measuring would take several.
int IdentifyFile(const std::string &path, FileIdentity &id, int64_t *length = nullptr);
// True when no file answers to the name, known without asking the host:
// the listing of its directory kept under a ListingScope holds no name
// equal to it ignoring case.  False tells nothing.  Only for names no other
// program makes: one made by another process since the directory was read
// is not in the listing.
bool KnownAbsent(const std::string &path);
// 1 or 0 (errno).
int IdentifyStream(FILE *f, FileIdentity &id);

// Appends bytes to a stream opened with Access::Append as one write at the
// file's end, also when another process appends to the same file, and
// tells the offset where they landed.  A stream is written either through
// AppendBytes alone or not at all through it.  Returns 1 or 0.
int AppendBytes(FILE *f, const void *data, size_t size, int64_t &at);

// Byte-range lock on an open stream.  LockRange fails at once (result 0)
// when another process holds any byte of the range.
int LockRange(FILE *f, int64_t offset, int64_t length);
int UnlockRange(FILE *f, int64_t offset, int64_t length);

// Owner of a byte-range lock: the range is released on every path, before
// the stream is closed as long as the owner is declared after the stream's.
class LockedRange {
 public:
  LockedRange() = default;
  ~LockedRange() { Release(); }
  LockedRange(const LockedRange &) = delete;
  LockedRange &operator=(const LockedRange &) = delete;

  // One attempt, as LockRange; 1 or 0.
  int Acquire(FILE *f, int64_t offset, int64_t length) {
    Release();
    if (!LockRange(f, offset, length)) return 0;
    file_ = f;
    offset_ = offset;
    length_ = length;
    return 1;
  }
  // Releases the range now; 1, or 0 when the host refused (nothing held is 1).
  int Release() {
    if (!file_) return 1;
    FILE *f = file_;
    file_ = nullptr;
    return UnlockRange(f, offset_, length_);
  }
  bool Held() const { return file_ != nullptr; }

 private:
  FILE *file_ = nullptr;
  int64_t offset_ = 0;
  int64_t length_ = 0;
};

// Keeps directory listings for the case-blind lookup of names while it
// lives, for a program's whole run (scopes may nest; the listings go when
// the outermost ends).
//
// On POSIX every path component is looked up exactly first, and only a
// component that is absent is searched for ignoring case in its directory.
// Without a scope every such search reads the directory.  With one, each
// directory is read at most once, and the names this process creates,
// deletes or renames through these routines (OpenFile making a file,
// DeleteFile, RenameFile, RenameFileNoReplace, ExchangeFiles, MakeDirectory,
// RemoveDirectory) are kept in its listing, so every lookup finds what it
// would find without the scope.
//
// The one limit: a name another process makes or removes while the scope
// lives is seen by the exact lookup, which always comes first, but not by
// the case-blind search.  The board makes no case variants of names while
// maintenance runs, so a missed variant is a name the board never uses;
// and a variant that has gone since its directory was read names no file,
// so opening it fails as "No such file or directory", as the name itself
// did.  The listings take memory for the directories actually searched.
// Like the programs, the listings are single-threaded.
//
// On Windows the file system ignores case itself, and a scope does nothing.
class ListingScope {
 public:
  ListingScope();
  ~ListingScope();
  ListingScope(const ListingScope &) = delete;
  ListingScope &operator=(const ListingScope &) = delete;
};

// Waits the given number of whole seconds, or of milliseconds.
void SleepSeconds(unsigned seconds);
void SleepMilliseconds(unsigned milliseconds);

// Local calendar date and time of day.
struct LocalTime {
  int year = 0;    // full year
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-59
};
LocalTime GetLocalTime();

// Current working directory as a text the other routines accept.
std::string CurrentDirectory();

// Directory search in the manner of the board's platform: a pattern whose
// last component may hold * and ? (matched ignoring case).  Hidden and
// system files are never returned; directories only with FindDirectories.
enum FindAttributes : unsigned {
  FindFiles = 0,             // ordinary, read-only and archive files
  FindDirectories = 1u << 0  // directories as well
};

struct FoundEntry {
  std::string name;  // name within the directory, as stored on the host
  int64_t size = 0;
  bool isDirectory = false;
  bool readOnly = false;
};

class DirectorySearch {
 public:
  DirectorySearch();
  ~DirectorySearch();
  DirectorySearch(const DirectorySearch &) = delete;
  DirectorySearch &operator=(const DirectorySearch &) = delete;

  // Starts a search and fills the first entry.  Returns 1, or 0 when nothing
  // matches or the directory cannot be read.
  int First(const std::string &pattern, unsigned attributes, FoundEntry &entry);
  // Fills the next entry.  Returns 1, or 0 at the end.
  int Next(FoundEntry &entry);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#ifdef VLM_TEST_HOOKS
// Test hooks, compiled only into the test builds (the shipped programs
// neither contain them nor read VLM_FAULT_*, VLM_SYNC or VLM_RECORD_DISK).
//
// Fault injection.  Every file operation that changes the disk (opening for
// writing, writing, appending, flushing, closing a written file, truncating,
// renaming, exchanging, deleting, making or removing a directory, syncing a
// directory) counts as one operation.  When a limit is set, operation number
// `limit` (counted from 1) fails with EIO (FaultFail) or ends the process at
// once without flushing anything (FaultExit, exit status 86).  The limit may
// also come from the environment: VLM_FAULT_AT=N with VLM_FAULT_MODE=fail or
// exit.
enum class FaultAction { FaultFail, FaultExit };
void SetFaultInjection(long limit, FaultAction action);
long FaultOperationCount();  // operations counted since start or the last SetFaultInjection

// Called before each counted operation with its number (counted as above),
// its kind ("open", "write", "append", "flush", "close", "truncate",
// "rename", "exchange", "delete", "mkdir", "rmdir", "dirsync") and the board
// path it acts on (the first one of a rename).  Tests use it to act at a
// chosen moment of a run, as another process would.  An empty hook removes it.
using OperationHook = std::function<void(long number, const char *kind, const std::string &path)>;
void SetOperationHook(OperationHook hook);

// The disk recorder of the power-cut tests: with VLM_RECORD_DISK naming a
// host file, every change to the disk and every sync is appended to it as
// one line once done (the forms are described in platform_shared.cpp).
// Every write is then handed to the system at once, so the lines come in
// the order the system saw the changes.

// File and directory syncs made no-ops (still counted and recorded), for
// tests that run many times over: VLM_SYNC=off, or SetSyncs(false).
void SetSyncs(bool on);
#endif

// Checked write and flush through the fault hook: every file that a program
// rewrites should go through these so write errors are seen and testable.
// WriteBytes returns 1 when all bytes were handed to the stream, else 0.
int WriteBytes(FILE *f, const void *data, size_t size);
// The same at an offset of the file, handed to the system at once (one
// call where the host writes at an offset).  The stream's position is left
// unspecified: seek before reading or writing it again.
int WriteBytesAt(FILE *f, int64_t offset, const void *data, size_t size);
// Reads `size` bytes at an offset of the file (one call where the host
// reads at an offset), leaving the stream's position as it was.  Returns 1
// when all of them were read, 0 otherwise (errno set when reading failed).
int ReadBytesAt(FILE *f, int64_t offset, void *into, size_t size);
// Several runs of bytes written one after the other at the stream's
// position, gathered into as few system calls as the host allows, and
// handed to the system at once.  Returns 1 or 0.
struct ByteSpan {
  const void *data;
  size_t size;
};
int WriteGathered(FILE *f, const ByteSpan *spans, size_t count);
// Pieces of bytes, each written at its own offset of the file and no other
// byte of it, in order, handed to the system at once.  Where the host can,
// the pieces within the file's present length are stored through one
// mapping of the stretch they span rather than by a call each.  The
// stream's position is left unspecified.  Returns 1, or 0 with errno set.
struct PlacedBytes {
  int64_t offset;
  const void *data;
  size_t size;
};
int WriteScattered(FILE *f, const PlacedBytes *pieces, size_t count);

#ifdef VLM_TEST_HOOKS
// Test builds only.  With a jail set, every operation that changes the disk
// (the ones the fault hook counts) on a host path outside `hostDirectory`
// fails with EACCES: fuzz targets feed records that name arbitrary paths
// (attachments to erase, say), which must never reach files of the machine.
// An empty text removes the jail.  Honoured by the POSIX implementation,
// where the fuzz targets are built.
void SetWriteJail(const std::string &hostDirectory);

// Host path for a board path (tests only; the other routines do this
// themselves).
std::string HostPath(const std::string &boardPath);
// The same by resolving every component in turn, without the shortcuts that
// HostPath takes when a path or its directory exists exactly: tests compare
// the two.
std::string HostPathByWalk(const std::string &boardPath);
// Directories read by the case-blind lookup since the start (0 on Windows).
long CaseBlindDirectoryReads();
#endif

}  // namespace plat
