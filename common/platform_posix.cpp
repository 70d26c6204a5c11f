// POSIX implementation of the platform layer.
//
// Board paths are DOS texts.  Here every backslash is a separator, a leading
// drive "X:" is replaced by $VLM_DRIVE_X (or dropped), and each component is
// looked up exactly first and then ignoring ASCII case, so the upper-case
// names that the board stores find files whatever case they have on disk.
// A path that exists as given is found with one lookup, and a directory is
// read for the case-blind search once a run under a ListingScope.
//
// Text mode is emulated with a stdio cookie stream that writes CR LF, drops
// a CR before LF on reading and stops at Ctrl-Z.  Sharing modes that deny
// others take flock() locks; the byte-range lock is an open-file-description
// fcntl lock, which closing another descriptor of the same file cannot drop.
#include "platform.h"
#include "platform_shared.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <new>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace plat {
namespace {

// ---------------------------------------------------------------- paths

unsigned char Folded(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 32) : u;
}

bool EqualsIgnoringCase(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b)
    if (Folded(*a) != Folded(*b)) return false;
  return *a == *b;
}

// Orders names by their upper-case form, then byte by byte.  The names that
// equal one another ignoring case stand together in byte order, and since
// upper-case letters come before lower-case ones, the upper-case form of a
// name is never after any of its case variants: searching for it finds the
// variant that is first in byte order.
struct CaseBlindOrder {
  bool operator()(const std::string &a, const std::string &b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      unsigned char x = Folded(a[i]), y = Folded(b[i]);
      if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return std::memcmp(a.data(), b.data(), n) < 0;
  }
};

using Listing = std::set<std::string, CaseBlindOrder>;
using DirectoryId = std::pair<uint64_t, uint64_t>;  // device, inode

DirectoryId IdOf(const struct stat &st) { return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}; }

// The listings of the case-blind fallback while a ListingScope lives (see
// platform.h): the names of each directory searched, read once and then
// kept true for every name this process creates, deletes or renames.  A
// directory is known by its identity, so all the texts that reach it share
// one listing.  `ids` remembers which directory a text named when it was
// last seen, so that keeping a listing true costs no system call; it is
// forgotten whenever a directory, or a link that may lead to one, changes
// names, since a text may then name another directory.  The programs are
// single-threaded, and so is this.
struct ListingCache {
  int scopes = 0;
  std::map<DirectoryId, Listing> listings;
  std::unordered_map<std::string, DirectoryId> ids;
#ifdef VLM_TEST_HOOKS
  long reads = 0;  // directories read by the fallback
#endif
};

ListingCache &Cache() {
  static ListingCache cache;
  return cache;
}

void CountDirectoryRead() {
#ifdef VLM_TEST_HOOKS
  ++Cache().reads;
#endif
}

// Whether any listing is kept, so that keeping them true is worth a call.
bool ListingsHeld() { return Cache().scopes > 0 && !Cache().listings.empty(); }

// Every listing and text dropped: used where a change may land in a
// directory that cannot be told (through a link).
void ForgetListings() {
  Cache().listings = {};
  Cache().ids = {};
}

// A directory, or a link that may lead to one, changed names.
void ForgetDirectoryTexts() { Cache().ids = {}; }

// The text that names a directory, whatever separators end it ("." for the
// current one).
std::string DirectoryText(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir.empty() ? std::string(".") : dir;
}

// Every name of a directory but "." and "..".  False when it cannot be read.
bool ReadListing(const std::string &dir, Listing &names) {
  DIR *d = opendir(dir.c_str());
  if (!d) return false;
  CountDirectoryRead();
  while (struct dirent *e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.insert(e->d_name);
  }
  closedir(d);
  return true;
}

// The name of a listing that equals `name` ignoring case, the first in
// byte order.
bool Listed(const Listing &names, const std::string &name, std::string &found) {
  std::string upper = name;
  for (char &c : upper) c = static_cast<char>(Folded(c));
  auto hit = names.lower_bound(upper);
  if (hit == names.end() || !EqualsIgnoringCase(hit->c_str(), name.c_str())) return false;
  found = *hit;
  return true;
}

// The entry of directory `dir` that equals `name` ignoring case, the first
// in byte order.  `known` is the directory's identity when the caller has it.
bool FindIgnoringCase(const std::string &dir, const std::string &name, std::string &found,
                      const DirectoryId *known = nullptr) {
  ListingCache &cache = Cache();
  if (cache.scopes == 0) {
    DIR *d = opendir(dir.c_str());
    if (!d) return false;
    CountDirectoryRead();
    bool any = false;
    while (struct dirent *e = readdir(d)) {
      if (!EqualsIgnoringCase(e->d_name, name.c_str())) continue;
      if (!any || std::strcmp(e->d_name, found.c_str()) < 0) found = e->d_name;
      any = true;
    }
    closedir(d);
    return any;
  }

  DirectoryId id;
  if (known) {
    id = *known;
  } else {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    id = IdOf(st);
  }
  cache.ids[dir] = id;
  auto it = cache.listings.find(id);
  if (it == cache.listings.end()) {
    Listing names;
    if (!ReadListing(dir, names)) return false;
    it = cache.listings.emplace(id, std::move(names)).first;
  }
  return Listed(it->second, name, found);
}

// The identity of the directory a text named when last seen under a
// ListingScope; null when not known.
const DirectoryId *KnownDirectory(const std::string &dir) {
  ListingCache &cache = Cache();
  if (cache.scopes == 0) return nullptr;
  auto it = cache.ids.find(dir);
  return it == cache.ids.end() ? nullptr : &it->second;
}

// The cached listing of the directory that holds host path `host`, and the
// name within it; null when that directory has none.
Listing *ListingHolding(const std::string &host, std::string &name) {
  ListingCache &cache = Cache();
  if (!ListingsHeld()) return nullptr;
  std::string path = host;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return nullptr;
  DirectoryId id;
  auto known = cache.ids.find(dir);
  if (known != cache.ids.end()) {
    id = known->second;
  } else {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return nullptr;
    id = IdOf(st);
    cache.ids.emplace(dir, id);
  }
  auto it = cache.listings.find(id);
  return it == cache.listings.end() ? nullptr : &it->second;
}

// This process made or removed the name of host path `host`.
void NoteCreated(const std::string &host) {
  std::string name;
  if (Listing *names = ListingHolding(host, name)) names->insert(name);
}
void NoteRemoved(const std::string &host) {
  std::string name;
  if (Listing *names = ListingHolding(host, name)) names->erase(name);
}

// What a translation learnt of the path's last component.
struct HostLookup {
  enum Kind { Unknown, Absent, Present } last = Unknown;
  struct stat st {};  // its lstat when Present, taken of the host path as returned
  int error = 0;      // why it was not found when Absent
};

// A board path with its drive mapped and its separators made slashes.
std::string RawHostPath(const std::string &board) {
  std::string rest = board;
  std::string prefix;
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
    char letter = rest[0] >= 'a' ? static_cast<char>(rest[0] - 32) : rest[0];
    std::string var = std::string("VLM_DRIVE_") + letter;
    if (const char *value = std::getenv(var.c_str())) prefix = value;
    rest.erase(0, 2);
  }
  std::replace(rest.begin(), rest.end(), '\\', '/');
  if (!prefix.empty() && !rest.empty() && prefix.back() != '/' && rest.front() != '/') prefix += '/';
  return prefix + rest;
}

// The rule: component by component from the first, each looked up exactly
// and, when absent, ignoring case; "." and ".." are taken as they are, and
// nothing below a component found neither way is looked up.
std::string WalkComponents(const std::string &raw, HostLookup &lookup) {
  std::string out;
  size_t pos = 0;
  if (!raw.empty() && raw[0] == '/') {
    out.push_back('/');
    pos = 1;
  }
  bool resolving = true;
  while (pos <= raw.size()) {
    size_t slash = raw.find('/', pos);
    std::string comp = raw.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    bool last = slash == std::string::npos;
    if (!comp.empty()) {
      std::string base = out;
      if (!base.empty() && base.back() != '/') base += '/';
      std::string candidate = base + comp;
      struct stat st;
      if (resolving && comp != "." && comp != ".." && lstat(candidate.c_str(), &st) != 0) {
        int error = errno;
        std::string found;
        if (FindIgnoringCase(DirectoryText(base), comp, found)) {
          candidate = base + found;
        } else {
          resolving = false;  // nothing below a missing component can exist
          lookup.error = error;
        }
      }
      out = candidate;
    }
    if (last) break;
    if (!out.empty() && out.back() != '/') out += '/';
    else if (out.empty()) out.append("./", 2);
    pos = slash + 1;
  }
  lookup.last = resolving ? HostLookup::Unknown : HostLookup::Absent;
  return out;
}

// The same result with fewer calls in the usual cases.  When the whole path
// exists exactly, every component does, so the walk would take each as it
// is.  When only the last is missing and its directory exists exactly, the
// walk would come to it unchanged, and only it needs the case-blind
// fallback.  False when neither holds: the walk decides.  `absent` is the
// error of a call that just found the path missing as given (ENOENT), which
// spares looking it up again; 0 when there was none.
bool ShortLookup(const std::string &raw, HostLookup &lookup, std::string &host, int absent) {
  // Repeated separators as one, as the walk writes them.
  std::string path;
  path.reserve(raw.size());
  for (char c : raw)
    if (c != '/' || path.empty() || path.back() != '/') path += c;
  if (path.empty() || path == "/") {
    host = path;
    return true;
  }
  // The walk looks the last component up without a trailing separator.
  bool trailing = path.back() == '/';
  if (trailing) path.pop_back();

  struct stat st;
  if ((absent == 0 || trailing) && lstat(path.c_str(), &st) == 0) {
    if (!trailing) {
      lookup.last = HostLookup::Present;
      lookup.st = st;
    }
    host = trailing ? path + '/' : path;
    return true;
  }

  int error = absent == 0 || trailing ? errno : absent;
  size_t cut = path.find_last_of('/');
  std::string parent = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  DirectoryId parentId;
  const DirectoryId *parentKnown = nullptr;
  if (parent.size() > 1) {  // neither the current directory nor the root: it must be there
    // A directory already seen under the scope is taken as it was, like
    // its listing; a link to one is left to the search to follow.
    std::string dir = DirectoryText(parent);
    struct stat parentStatus;
    if (const DirectoryId *seen = KnownDirectory(dir)) {
      parentId = *seen;
      parentKnown = &parentId;
    } else if (lstat(dir.c_str(), &parentStatus) != 0) {
      return false;
    } else if (S_ISDIR(parentStatus.st_mode)) {
      parentId = IdOf(parentStatus);
      parentKnown = &parentId;
    }
  }
  host = path;
  if (name != "." && name != "..") {
    std::string found;
    if (FindIgnoringCase(DirectoryText(parent), name, found, parentKnown))
      host = parent + found;
    else
      lookup.last = HostLookup::Absent;
  }
  lookup.error = error;
  if (trailing) host += '/';
  return true;
}

// Host path for a board path, after the rules at the top of this file;
// `absent` as for ShortLookup.
std::string TranslateBoardPath(const std::string &board, HostLookup *lookup = nullptr, bool walkOnly = false,
                               int absent = 0) {
  HostLookup ignored;
  HostLookup &info = lookup ? *lookup : ignored;
  info.last = HostLookup::Unknown;
  std::string raw = RawHostPath(board);
  std::string host;
  if (!walkOnly && ShortLookup(raw, info, host, absent)) return host;
  return WalkComponents(raw, info);
}

// stat() of a translated path, from what the translation learnt when it can
// tell: 0, or -1 with errno set.
int StatHost(const std::string &host, const HostLookup &lookup, struct stat &st) {
  if (lookup.last == HostLookup::Present && !S_ISLNK(lookup.st.st_mode)) {
    st = lookup.st;  // not a link: its lstat is its stat
    return 0;
  }
  if (lookup.last == HostLookup::Absent) {
    errno = lookup.error;
    return -1;
  }
  return ::stat(host.c_str(), &st);
}

// Whether a name change at a host path leaves every directory where it
// was: true for a plain file (or for nothing) there.
bool PlainFile(const HostLookup &lookup) {
  return lookup.last == HostLookup::Absent || (lookup.last == HostLookup::Present && S_ISREG(lookup.st.st_mode));
}

// This process renamed `from` to `to`, replacing what `to` named.
void NoteRenamed(const std::string &from, const HostLookup &lookupFrom, const std::string &to,
                 const HostLookup &lookupTo) {
  // Two names of one file: the rename left both.
  if (lookupFrom.last == HostLookup::Present && lookupTo.last == HostLookup::Present &&
      IdOf(lookupFrom.st) == IdOf(lookupTo.st))
    return;
  NoteRemoved(from);
  NoteCreated(to);
  if (!PlainFile(lookupFrom) || !PlainFile(lookupTo)) ForgetDirectoryTexts();
}

// ---------------------------------------------------------------- streams

int StreamFd(FILE *f) {
  int fd = shared::RegisteredFd(f);
  return fd >= 0 || !f ? fd : fileno(f);
}

bool WriteAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Text-mode translation behind a stdio cookie stream.  Reading keeps the
// translated bytes that did not fit the caller's request for the next call.
struct TextCookie {
  int fd = -1;
  bool pendingCR = false;  // a CR at the end of the last raw chunk
  bool ended = false;      // Ctrl-Z or end of file seen
  std::string ready;       // translated bytes not yet handed out
  size_t readyPos = 0;
};

ssize_t TextRead(void *cookie, char *buf, size_t size) {
  auto *c = static_cast<TextCookie *>(cookie);
  char raw[65536];
  while (c->readyPos == c->ready.size() && !c->ended) {
    c->ready.clear();
    c->readyPos = 0;
    ssize_t n = ::read(c->fd, raw, sizeof raw);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) c->ended = true;
    for (ssize_t i = 0; i < n; ++i) {
      char b = raw[i];
      if (b == 0x1A) {
        c->ended = true;
        break;
      }
      if (c->pendingCR) {
        c->pendingCR = false;
        if (b != '\n') c->ready += '\r';
      }
      if (b == '\r')
        c->pendingCR = true;
      else
        c->ready += b;
    }
    if (c->ended && c->pendingCR) {
      c->ready += '\r';
      c->pendingCR = false;
    }
  }
  size_t n = std::min(size, c->ready.size() - c->readyPos);
  std::memcpy(buf, c->ready.data() + c->readyPos, n);
  c->readyPos += n;
  return static_cast<ssize_t>(n);
}

ssize_t TextWrite(void *cookie, const char *buf, size_t size) {
  auto *c = static_cast<TextCookie *>(cookie);
  std::string out;
  out.reserve(size + size / 16 + 2);
  for (size_t i = 0; i < size; ++i) {
    if (buf[i] == '\n') out += '\r';
    out += buf[i];
  }
  if (!WriteAll(c->fd, out.data(), out.size())) return 0;
  return static_cast<ssize_t>(size);
}

int TextSeek(void *cookie, off64_t *pos, int whence) {
  auto *c = static_cast<TextCookie *>(cookie);
  off_t r = ::lseek(c->fd, static_cast<off_t>(*pos), whence);
  if (r < 0) return -1;
  *pos = r;
  c->pendingCR = false;
  c->ended = false;
  c->ready.clear();
  c->readyPos = 0;
  return 0;
}

int TextClose(void *cookie) {
  auto *c = static_cast<TextCookie *>(cookie);
  int r = ::close(c->fd);
  delete c;
  return r;
}

bool Writes(Access a) { return a != Access::Read; }

// A host path that the write jail of a test build refuses (errno EACCES).
bool Jailed(const std::string &host) {
  if (!shared::OutsideWriteJail(host)) return false;
  errno = EACCES;
  return true;
}

}  // namespace

#ifdef VLM_TEST_HOOKS
std::string HostPath(const std::string &boardPath) { return TranslateBoardPath(boardPath); }
std::string HostPathByWalk(const std::string &boardPath) { return TranslateBoardPath(boardPath, nullptr, true); }
long CaseBlindDirectoryReads() { return Cache().reads; }
#endif

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

  int flags = 0;
  const char *fmode = "rb";
  switch (access) {
    case Access::Read: flags = O_RDONLY; fmode = "rb"; break;
    case Access::ReadWrite: flags = O_RDWR; fmode = "r+b"; break;
    case Access::Write: flags = O_WRONLY | O_CREAT; fmode = "wb"; break;
    case Access::WriteRead: flags = O_RDWR | O_CREAT; fmode = "w+b"; break;
    case Access::Append: flags = O_WRONLY | O_CREAT | O_APPEND; fmode = "ab"; break;
    case Access::CreateNew: flags = O_WRONLY | O_CREAT | O_EXCL; fmode = "wb"; break;
  }
  HostLookup lookup;
  std::string host;
  int fd = -1;
  bool existed = false;
  if (!(flags & O_CREAT)) {
    // A file that opens under the name as given is there as given, every
    // component of it, so the lookup would come to that very path.  Only
    // a name that does not open is looked up.
    host = RawHostPath(path);
    if (Writes(access) && Jailed(host)) return nullptr;
    fd = ::open(host.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT && errno != ENOTDIR) return nullptr;
      std::string raw = host;
      host = TranslateBoardPath(path, &lookup, false, errno == ENOENT ? ENOENT : 0);
      if (lookup.last == HostLookup::Absent) {
        errno = lookup.error;
        return nullptr;
      }
      if (host == raw) {
        errno = ENOENT;
        return nullptr;
      }
      if (Writes(access) && Jailed(host)) return nullptr;
      fd = ::open(host.c_str(), flags | O_CLOEXEC);
      if (fd < 0) return nullptr;
    }
    existed = true;
  } else {
    host = TranslateBoardPath(path, &lookup);
    if (Writes(access) && Jailed(host)) return nullptr;
    struct stat before;
    existed = shared::Recording() && ::stat(host.c_str(), &before) == 0;
    fd = ::open(host.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
  }
  if (flags & O_CREAT) {
    // A name this open may have made.  Through a link the file may have
    // been made wherever the link leads.
    if (lookup.last == HostLookup::Present && S_ISLNK(lookup.st.st_mode))
      ForgetListings();
    else if (lookup.last != HostLookup::Present)
      NoteCreated(host);
  }

  struct stat st;
  if (fstat(fd, &st) != 0) std::memset(&st, 0, sizeof st);
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return nullptr;
  }
  if (share != Share::DenyNone) {
    int op = (share == Share::Exclusive || Writes(access)) ? LOCK_EX : LOCK_SH;
    if (flock(fd, op | LOCK_NB) != 0) {
      ::close(fd);
      errno = EACCES;  // what a sharing violation reports on the board's platform
      return nullptr;
    }
  }
  // Emptying happens only once the file is ours, never under another holder.
  if ((access == Access::Write || access == Access::WriteRead) && ftruncate(fd, 0) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return nullptr;
  }

  FILE *f = nullptr;
  if (mode == Mode::Text) {
    auto *cookie = new (std::nothrow) TextCookie;
    if (!cookie) {
      ::close(fd);
      errno = ENOMEM;
      return nullptr;
    }
    cookie->fd = fd;
    cookie_io_functions_t io{TextRead, TextWrite, TextSeek, TextClose};
    const char *cmode = access == Access::Read        ? "r"
                        : access == Access::ReadWrite ? "r+"
                        : access == Access::Write     ? "w"
                        : access == Access::WriteRead ? "w+"
                        : access == Access::CreateNew ? "w"
                                                      : "a";
    f = fopencookie(cookie, cmode, io);
    if (!f) {
      int e = errno;
      delete cookie;
      ::close(fd);
      errno = e;
      return nullptr;
    }
  } else {
    f = fdopen(fd, fmode);
    if (!f) {
      int e = errno;
      ::close(fd);
      errno = e;
      return nullptr;
    }
  }
  uint64_t file = static_cast<uint64_t>(st.st_ino);
  FileIdentity id;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.file = file;
  shared::RegisterStream(f, fd, Writes(access), id, path);
  // A buffer of the usual size given now spares the stream the status call
  // it would make to size its own.
  if (mode == Mode::Binary) SetStreamBuffer(f, BUFSIZ);
  if (shared::Recording() && Writes(access)) {
    bool emptied = access == Access::Write || access == Access::WriteRead || access == Access::CreateNew;
    shared::RecordLine("open\t" + std::to_string(file) + "\t" + host + "\t" + (existed ? "0" : "1") + "\t" +
                       (emptied ? "1" : "0"));
  }
  return f;
}

namespace {
// The system's sync of a descriptor, unless the tests turned syncs off.
bool SyncFd(int fd) { return !shared::SyncsOn() || fsync(fd) == 0; }
}  // namespace

int FlushFile(FILE *f) {
  if (shared::FaultHere("flush", shared::StreamPath(f))) return 0;
  if (fflush(f) != 0) return 0;
  int fd = StreamFd(f);
  if (fd < 0 || !SyncFd(fd)) return 0;
  if (shared::Recording()) shared::RecordLine("fsync\t" + std::to_string(shared::RegisteredFile(f)));
  return 1;
}

int64_t shared::StreamOffset(FILE *f) { return static_cast<int64_t>(ftello(f)); }

int64_t FileLength(FILE *f) {
  struct stat st;
  int fd = StreamFd(f);
  if (fd < 0 || fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int shared::TruncateFd(int fd, int64_t length) { return ftruncate(fd, static_cast<off_t>(length)) == 0 ? 1 : 0; }

int FileModifiedDos(FILE *f, uint32_t &dosDateTime) {
  struct stat st;
  int fd = StreamFd(f);
  if (fd < 0 || fstat(fd, &st) != 0) return 0;
  struct tm tm;
  time_t t = st.st_mtime;
  if (!localtime_r(&t, &tm)) return 0;
  dosDateTime = shared::DosDateTime(tm);
  return 1;
}

namespace {
void Record(const char *kind, const std::string &a, const std::string &b = std::string()) {
  if (shared::Recording()) shared::RecordLine(std::string(kind) + "\t" + a + (b.empty() ? "" : "\t" + b));
}

// renameat2 with flags; -1 with errno ENOSYS where neither the system nor
// the file system has the flag.
int RenameWithFlags(const std::string &from, const std::string &to, unsigned flags) {
#if defined(__linux__) && defined(SYS_renameat2)
  long r = syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags);
  if (r == 0) return 0;
  // Older kernels lack the call, file systems without the flag refuse it.
  if (errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) errno = ENOSYS;
  return -1;
#else
  (void)from;
  (void)to;
  (void)flags;
  errno = ENOSYS;
  return -1;
#endif
}

constexpr unsigned kRenameNoReplace = 1u << 0;  // RENAME_NOREPLACE
constexpr unsigned kRenameExchange = 1u << 1;   // RENAME_EXCHANGE
}  // namespace

int RenameFile(const std::string &from, const std::string &to) {
  if (!shared::CheckedPath(from) || !shared::CheckedPath(to) || shared::FaultHere("rename", from)) return 0;
  HostLookup lookupFrom, lookupTo;
  std::string hostFrom = TranslateBoardPath(from, &lookupFrom), hostTo = TranslateBoardPath(to, &lookupTo);
  if (Jailed(hostFrom) || Jailed(hostTo)) return 0;
  if (::rename(hostFrom.c_str(), hostTo.c_str()) != 0) return 0;
  NoteRenamed(hostFrom, lookupFrom, hostTo, lookupTo);
  Record("rename", hostFrom, hostTo);
  return 1;
}

int RenameFileNoReplace(const std::string &from, const std::string &to) {
  if (!shared::CheckedPath(from) || !shared::CheckedPath(to) || shared::FaultHere("rename", from)) return 0;
  HostLookup lookupFrom, lookupTo;
  std::string hostFrom = TranslateBoardPath(from, &lookupFrom), hostTo = TranslateBoardPath(to, &lookupTo);
  if (Jailed(hostFrom) || Jailed(hostTo)) return 0;
  if (RenameWithFlags(hostFrom, hostTo, kRenameNoReplace) == 0) {
    NoteRenamed(hostFrom, lookupFrom, hostTo, lookupTo);
    Record("rename", hostFrom, hostTo);
    return 1;
  }
  if (errno != ENOSYS) return 0;
  // Without the flag: a second name that cannot land on an existing one,
  // then the first name goes.  Between the two the file has both names.
  if (::link(hostFrom.c_str(), hostTo.c_str()) != 0) return 0;
  NoteCreated(hostTo);
  Record("link", hostFrom, hostTo);
  if (::unlink(hostFrom.c_str()) != 0) return 0;
  NoteRemoved(hostFrom);
  Record("delete", hostFrom);
  return 1;
}

int ExchangeFiles(const std::string &a, const std::string &b) {
  if (!shared::CheckedPath(a) || !shared::CheckedPath(b)) return 0;
  HostLookup lookupA, lookupB;
  std::string hostA = TranslateBoardPath(a, &lookupA), hostB = TranslateBoardPath(b, &lookupB);
  if (Jailed(hostA) || Jailed(hostB)) return 0;
  if (shared::FaultHere("exchange", a)) return 0;
  if (RenameWithFlags(hostA, hostB, kRenameExchange) != 0) return 0;
  // Both names stay; only what they name changes.
  if (!PlainFile(lookupA) || !PlainFile(lookupB)) ForgetDirectoryTexts();
  Record("exchange", hostA, hostB);
  return 1;
}

int SyncDirectory(const std::string &directory) {
  if (!shared::CheckedPath(directory) || shared::FaultHere("dirsync", directory)) return 0;
  std::string host = TranslateBoardPath(directory);
  if (host.empty()) host = ".";
  int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  bool ok = SyncFd(fd);
  int e = errno;
  ::close(fd);
  if (!ok) {
    errno = e;
    return 0;
  }
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  Record("dirsync", host);
  return 1;
}

int SyncTogether(const std::vector<std::string> &files, const std::vector<std::string> &directories,
                 std::string &failed) {
  struct Open {
    const std::string *board;
    std::string host;
    int fd;
    struct stat st;
  };
  std::vector<Open> opened;
  auto closeAll = [&] {
    for (Open &o : opened)
      if (o.fd >= 0) ::close(o.fd);
  };
  auto fail = [&](const std::string &path) {
    int e = errno;
    closeAll();
    failed = path;
    errno = e;
    return 0;
  };
  auto openOne = [](Open &o, bool dir) {
    o.fd = ::open(o.host.c_str(), O_RDONLY | O_CLOEXEC | (dir ? O_DIRECTORY : 0));
    if (o.fd < 0) return false;
    if (fstat(o.fd, &o.st) == 0) return true;
    int e = errno;
    ::close(o.fd);
    o.fd = -1;
    errno = e;
    return false;
  };
  for (const std::vector<std::string> *list : {&files, &directories}) {
    bool dirs = list == &directories;
    for (const std::string &path : *list) {
      if (!shared::CheckedPath(path) || shared::FaultHere(dirs ? "dirsync" : "flush", path)) return fail(path);
      HostLookup lookup;
      Open o{&path, TranslateBoardPath(path, &lookup), -1, {}};
      if (dirs && o.host.empty()) o.host = ".";
      // A plain file the lookup found is known by its status; anything else
      // is opened to be sure what it is.
      if (lookup.last == HostLookup::Absent) {
        errno = lookup.error;
        return fail(path);
      }
      if (!dirs && lookup.last == HostLookup::Present && S_ISREG(lookup.st.st_mode))
        o.st = lookup.st;
      else if (!openOne(o, dirs))
        return fail(path);
      opened.push_back(std::move(o));
    }
  }
  if (shared::SyncsOn()) {
#ifdef __linux__
    // One sync of each file system covers every file and name on it.
    std::vector<dev_t> done;
    for (Open &o : opened) {
      if (std::find(done.begin(), done.end(), o.st.st_dev) != done.end()) continue;
      if ((o.fd < 0 && !openOne(o, S_ISDIR(o.st.st_mode))) || syncfs(o.fd) != 0) return fail(*o.board);
      done.push_back(o.st.st_dev);
    }
#else
    for (Open &o : opened)
      if ((o.fd < 0 && !openOne(o, S_ISDIR(o.st.st_mode))) || fsync(o.fd) != 0) return fail(*o.board);
#endif
  }
  if (shared::Recording()) {
    for (Open &o : opened) {
      if (!S_ISDIR(o.st.st_mode)) {
        shared::RecordLine("fsync\t" + std::to_string(static_cast<uint64_t>(o.st.st_ino)));
        continue;
      }
      while (o.host.size() > 1 && o.host.back() == '/') o.host.pop_back();
      Record("dirsync", o.host);
    }
  }
  closeAll();
  return 1;
}

int IdentifyFile(const std::string &path, FileIdentity &id, int64_t *length) {
  if (!shared::CheckedPath(path)) return 0;
  HostLookup lookup;
  std::string host = TranslateBoardPath(path, &lookup);
  struct stat st;
  if (StatHost(host, lookup, st) != 0) return errno == ENOENT ? kNoSuchFile : 0;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.file = static_cast<uint64_t>(st.st_ino);
  if (length) *length = static_cast<int64_t>(st.st_size);
  return 1;
}

bool KnownAbsent(const std::string &path) {
  if (!shared::CheckedPath(path)) return false;
  std::string name, found;
  const Listing *names = ListingHolding(RawHostPath(path), name);
  return names && !Listed(*names, name, found);
}

int IdentifyStream(FILE *f, FileIdentity &id) {
  // A descriptor's file never changes: the identity found at the open holds.
  if (shared::RegisteredIdentity(f, id)) return 1;
  struct stat st;
  int fd = StreamFd(f);
  if (fd < 0 || fstat(fd, &st) != 0) {
    if (fd < 0) errno = EBADF;
    return 0;
  }
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.file = static_cast<uint64_t>(st.st_ino);
  return 1;
}

int AppendBytes(FILE *f, const void *data, size_t size, int64_t &at) {
  if (shared::FaultHere("append", shared::StreamPath(f))) return 0;
  int fd = StreamFd(f);
  if (fd < 0 || fflush(f) != 0) {
    if (fd < 0) errno = EBADF;
    return 0;
  }
  // One write to a descriptor opened with O_APPEND lands at the end as a
  // whole; the descriptor's offset then tells where it ended.
  const char *p = static_cast<const char *>(data);
  ssize_t n;
  do {
    n = ::write(fd, p, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return 0;
  if (static_cast<size_t>(n) != size) {
    errno = ENOSPC;
    return 0;
  }
  off_t end = ::lseek(fd, 0, SEEK_CUR);
  if (end < 0) return 0;
  at = static_cast<int64_t>(end) - static_cast<int64_t>(size);
  if (shared::Recording()) shared::RecordWrite(f, at, data, size);
  return 1;
}

// Runs of bytes in one gathered write at most.
#ifdef IOV_MAX
constexpr int kGatherMax = IOV_MAX < 1024 ? IOV_MAX : 1024;
#else
constexpr int kGatherMax = 16;
#endif

namespace {
// Writes the runs one after the other from offset `at` of the descriptor,
// resuming after short writes.  Returns 1, or 0 with errno set.
int WriteRunsAt(int fd, const ByteSpan *spans, size_t count, off_t at) {
  size_t next = 0, skip = 0;  // the first span not yet written whole, and its bytes written
  iovec pieces[kGatherMax];
  for (;;) {
    while (next < count && spans[next].size == skip) {
      ++next;
      skip = 0;
    }
    if (next == count) return 1;
    int n = 0;
    for (size_t i = next; i < count && n < kGatherMax; ++i, ++n) {
      size_t from = i == next ? skip : 0;
      pieces[n].iov_base = const_cast<char *>(static_cast<const char *>(spans[i].data) + from);
      pieces[n].iov_len = spans[i].size - from;
    }
    ssize_t wrote = ::pwritev(fd, pieces, n, at);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return 0;
    if (wrote == 0) {
      errno = ENOSPC;
      return 0;
    }
    at += wrote;
    for (size_t left = static_cast<size_t>(wrote); left > 0;) {
      size_t rest = spans[next].size - skip;
      if (left < rest) {
        skip += left;
        break;
      }
      left -= rest;
      ++next;
      skip = 0;
    }
  }
}

}  // namespace

// Before a cut, and before a stream is written past stdio.
int shared::FlushedFdOf(FILE *f) {
  int fd = StreamFd(f);
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  return std::fflush(f) == 0 ? fd : -1;
}

int WriteBytesAt(FILE *f, int64_t offset, const void *data, size_t size) {
  if (shared::FaultHere("write", shared::StreamPath(f))) return 0;
  if (offset < 0) {
    errno = EINVAL;
    return 0;
  }
  int fd = shared::FlushedFdOf(f);
  ByteSpan run{data, size};
  if (fd < 0 || !WriteRunsAt(fd, &run, 1, static_cast<off_t>(offset))) return 0;
  if (shared::Recording()) shared::RecordWrite(f, offset, data, size);
  return 1;
}

int WriteGathered(FILE *f, const ByteSpan *spans, size_t count) {
  if (count == 0) return 1;
  if (shared::FaultHere("write", shared::StreamPath(f))) return 0;
  int fd = shared::FlushedFdOf(f);
  if (fd < 0) return 0;
  off_t start = ::lseek(fd, 0, SEEK_CUR);
  if (start < 0 || !WriteRunsAt(fd, spans, count, start)) return 0;
  int64_t end = static_cast<int64_t>(start);
  for (size_t i = 0; i < count; ++i) {
    if (shared::Recording()) shared::RecordWrite(f, end, spans[i].data, spans[i].size);
    end += static_cast<int64_t>(spans[i].size);
  }
  // The stream goes on where the bytes ended, and knows it.
  return fseeko(f, static_cast<off_t>(end), SEEK_SET) == 0 ? 1 : 0;
}

int ReadBytesAt(FILE *f, int64_t offset, void *into, size_t size) {
  int fd = StreamFd(f);
  if (fd < 0 || offset < 0) {
    errno = fd < 0 ? EBADF : EINVAL;
    return 0;
  }
  // Bytes the stream still holds for writing are the file's first.
  if (__fpending(f) > 0 && std::fflush(f) != 0) return 0;
  char *p = static_cast<char *>(into);
  while (size > 0) {
    ssize_t got = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    p += got;
    size -= static_cast<size_t>(got);
    offset += got;
  }
  return 1;
}

int WriteScattered(FILE *f, const PlacedBytes *pieces, size_t count) {
  if (count == 0) return 1;
  if (shared::FaultHere("write", shared::StreamPath(f))) return 0;
  int fd = shared::FlushedFdOf(f);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return 0;
  // The stretch the pieces inside the file span, mapped whole: a store into
  // the mapping changes the file's cached bytes just as a write would, at
  // the cost of a page fault per page rather than a call per piece.
  int64_t lo = INT64_MAX, hi = -1;
  for (size_t i = 0; i < count; ++i) {
    const PlacedBytes &p = pieces[i];
    if (p.offset < 0) {
      errno = EINVAL;
      return 0;
    }
    if (p.size == 0 || p.offset > static_cast<int64_t>(st.st_size) - static_cast<int64_t>(p.size)) continue;
    lo = std::min(lo, p.offset);
    hi = std::max(hi, p.offset + static_cast<int64_t>(p.size));
  }
  uint8_t *map = nullptr;
  int64_t mapAt = 0, mapEnd = 0;
  if (count > 1 && hi > lo) {
    int64_t page = static_cast<int64_t>(sysconf(_SC_PAGESIZE));
    mapAt = page > 0 ? lo / page * page : 0;
    mapEnd = hi;
    void *m = mmap(nullptr, static_cast<size_t>(mapEnd - mapAt), PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                   static_cast<off_t>(mapAt));
    if (m != MAP_FAILED) map = static_cast<uint8_t *>(m);  // otherwise a call per piece
  }
  int ok = 1;
  for (size_t i = 0; i < count && ok; ++i) {
    const PlacedBytes &p = pieces[i];
    if (map && p.offset >= mapAt && p.offset + static_cast<int64_t>(p.size) <= mapEnd) {
      std::memcpy(map + (p.offset - mapAt), p.data, p.size);
    } else {
      ByteSpan run{p.data, p.size};
      ok = WriteRunsAt(fd, &run, 1, static_cast<off_t>(p.offset));
    }
    if (ok && shared::Recording()) shared::RecordWrite(f, p.offset, p.data, p.size);
  }
  if (map) {
    int e = errno;
    munmap(map, static_cast<size_t>(mapEnd - mapAt));
    errno = e;
  }
  return ok;
}

namespace {
// A file to delete, looked up; false (errno set) when it cannot be deleted.
bool PrepareDelete(const std::string &path, std::string &host, HostLookup &lookup) {
  if (!shared::CheckedPath(path) || shared::FaultHere("delete", path)) return false;
  host = TranslateBoardPath(path, &lookup);
  if (Jailed(host)) return false;
  if (lookup.last != HostLookup::Absent && lookup.last != HostLookup::Present &&
      lstat(host.c_str(), &lookup.st) == 0)
    lookup.last = HostLookup::Present;
  if (lookup.last == HostLookup::Present && S_ISDIR(lookup.st.st_mode)) {
    errno = EACCES;
    return false;
  }
  return true;
}

// What this process knows of the directory after the deletion.
void NoteDeleted(const std::string &host, const HostLookup &lookup) {
  NoteRemoved(host);
  if (!PlainFile(lookup)) ForgetDirectoryTexts();
  Record("delete", host);
}
}  // namespace

int DeleteFile(const std::string &path) {
  HostLookup lookup;
  std::string host;
  if (!PrepareDelete(path, host, lookup) || ::unlink(host.c_str()) != 0) return 0;
  NoteDeleted(host, lookup);
  return 1;
}

int DeleteFiles(const std::vector<std::string> &paths, int *errors) {
  // Looked up and noted in order on this thread; only the system's
  // deletions overlap.
  std::vector<std::string> hosts(paths.size());
  std::vector<HostLookup> lookups(paths.size());
  for (size_t i = 0; i < paths.size(); ++i)
    errors[i] = PrepareDelete(paths[i], hosts[i], lookups[i]) ? 0 : (errno ? errno : EIO);
  shared::InParallel(paths.size(), [&](size_t i) {
    if (errors[i] == 0 && ::unlink(hosts[i].c_str()) != 0) errors[i] = errno ? errno : EIO;
  });
  int all = 1;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (errors[i] != 0)
      all = 0;
    else
      NoteDeleted(hosts[i], lookups[i]);
  }
  return all;
}

int RemoveDirectory(const std::string &path) {
  if (!shared::CheckedPath(path) || shared::FaultHere("rmdir", path)) return 0;
  std::string host = TranslateBoardPath(path);
  if (Jailed(host)) return 0;
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  // The directory's own listing goes with it: another may get its identity.
  struct stat st;
  bool known = ListingsHeld() && lstat(host.c_str(), &st) == 0;
  if (::rmdir(host.c_str()) != 0) return 0;
  if (known) Cache().listings.erase(IdOf(st));
  NoteRemoved(host);
  ForgetDirectoryTexts();
  Record("rmdir", host);
  return 1;
}

int MakeDirectory(const std::string &path) {
  if (!shared::CheckedPath(path) || shared::FaultHere("mkdir", path)) return 0;
  std::string host = TranslateBoardPath(path);
  if (Jailed(host)) return 0;
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  if (::mkdir(host.c_str(), 0777) != 0) return 0;
  NoteCreated(host);
  ForgetDirectoryTexts();
  // A directory removed by someone else may have left its identity to
  // this one: a listing under it is not this directory's.
  struct stat st;
  if (ListingsHeld() && ::stat(host.c_str(), &st) == 0) Cache().listings.erase(IdOf(st));
  Record("mkdir", host);
  return 1;
}

namespace {
int RangeLock(FILE *f, int64_t offset, int64_t length, short type) {
  int fd = StreamFd(f);
  if (fd < 0) {
    errno = EBADF;
    return 0;
  }
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
#ifdef F_OFD_SETLK
  int cmd = F_OFD_SETLK;
#else
  int cmd = F_SETLK;
#endif
  return fcntl(fd, cmd, &fl) == 0 ? 1 : 0;
}
}  // namespace

int LockRange(FILE *f, int64_t offset, int64_t length) { return RangeLock(f, offset, length, F_WRLCK); }
int UnlockRange(FILE *f, int64_t offset, int64_t length) { return RangeLock(f, offset, length, F_UNLCK); }

ListingScope::ListingScope() { ++Cache().scopes; }

ListingScope::~ListingScope() {
  if (--Cache().scopes == 0) ForgetListings();
}

void SleepSeconds(unsigned seconds) {
  struct timespec ts{static_cast<time_t>(seconds), 0};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void SleepMilliseconds(unsigned milliseconds) {
  struct timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

LocalTime GetLocalTime() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return shared::ToLocalTime(tm);
}

std::string CurrentDirectory() {
  std::vector<char> buf(PATH_MAX + 1);
  if (!getcwd(buf.data(), buf.size())) return std::string();
  return std::string(buf.data());
}


// ---------------------------------------------------------------- search

namespace {

unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

bool WildMatch(const char *p, const char *s) {
  // Iterative * and ? matching, ignoring ASCII case.
  const char *star = nullptr, *resume = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      resume = s;
    } else if (*p == '?' || (*p && Upper(static_cast<unsigned char>(*p)) == Upper(static_cast<unsigned char>(*s)))) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  // A trailing ".*" also matches a name without extension, as on the board's platform.
  if (p[0] == '.' && p[1] == '*' && p[2] == '\0') return true;
  if (p[0] == '.' && p[1] == '\0') return true;
  return *p == '\0';
}

bool HasWildcards(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace

struct DirectorySearch::State {
  DIR *dir = nullptr;
  std::string pattern;
  unsigned attributes = 0;
  bool single = false;  // a pattern without wildcards: one entry at most, already returned
  ~State() {
    if (dir) closedir(dir);
  }
};

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() = default;

void DirectorySearch::Close() { state_.reset(); }

namespace {
bool Accept(const struct stat &st, unsigned attributes, FoundEntry &entry) {
  if (S_ISREG(st.st_mode)) {
    entry.isDirectory = false;
  } else if (S_ISDIR(st.st_mode) && (attributes & FindDirectories)) {
    entry.isDirectory = true;
  } else {
    return false;
  }
  entry.size = entry.isDirectory ? 0 : static_cast<int64_t>(st.st_size);
  entry.readOnly = (st.st_mode & S_IWUSR) == 0;
  return true;
}
}  // namespace

int DirectorySearch::First(const std::string &pattern, unsigned attributes, FoundEntry &entry) {
  state_.reset();
  if (pattern.size() > shared::kMaxBoardPath) {
    errno = ENAMETOOLONG;
    return 0;
  }
  size_t cut = pattern.find_last_of("\\/");
  std::string dirPart = cut == std::string::npos ? std::string() : pattern.substr(0, cut + 1);
  // "C:" alone names the drive's current directory.
  if (cut == std::string::npos && pattern.size() >= 2 && pattern[1] == ':') {
    dirPart = pattern.substr(0, 2);
    cut = 1;
  }
  std::string namePart = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (namePart.empty()) {
    errno = ENOENT;
    return 0;
  }
  auto state = std::make_unique<State>();
  state->pattern = namePart;
  state->attributes = attributes;

  if (!HasWildcards(namePart)) {
    if (namePart[0] == '.') {
      errno = ENOENT;
      return 0;
    }
    HostLookup lookup;
    std::string host = TranslateBoardPath(pattern, &lookup);
    struct stat st;
    if (StatHost(host, lookup, st) != 0) return 0;
    size_t slash = host.find_last_of('/');
    entry.name = slash == std::string::npos ? host : host.substr(slash + 1);
    if (entry.name.empty() || entry.name[0] == '.' || !Accept(st, attributes, entry)) {
      errno = ENOENT;
      return 0;
    }
    state->single = true;
    state_ = std::move(state);
    return 1;
  }

  std::string hostDir = dirPart.empty() ? std::string(".") : TranslateBoardPath(dirPart);
  if (hostDir.empty()) hostDir.push_back('.');
  state->dir = opendir(hostDir.c_str());
  if (!state->dir) return 0;
  state_ = std::move(state);
  if (Next(entry)) return 1;
  state_.reset();
  errno = ENOENT;
  return 0;
}

int DirectorySearch::Next(FoundEntry &entry) {
  if (!state_ || state_->single || !state_->dir) return 0;
  int dfd = dirfd(state_->dir);
  while (struct dirent *e = readdir(state_->dir)) {
    if (e->d_name[0] == '.') continue;  // hidden files, and "." and ".."
    if (!WildMatch(state_->pattern.c_str(), e->d_name)) continue;
    struct stat st;
    if (fstatat(dfd, e->d_name, &st, 0) != 0) continue;
    if (!Accept(st, state_->attributes, entry)) continue;
    entry.name = e->d_name;
    return 1;
  }
  return 0;
}

}  // namespace plat
