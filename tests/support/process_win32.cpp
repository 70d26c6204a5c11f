// Runs a program as a child process on Windows and collects its standard
// output.
//
// A console program's standard output is in text mode there, so every line
// feed it prints reaches the pipe as CR LF.  The collected output gets one
// CR before each LF removed, which undoes exactly that translation: the
// tests then compare the same texts on both hosts, including the lone
// carriage returns of progress lines.
#include <windows.h>
#undef DeleteFile
#undef RemoveDirectory

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "test_support.h"

namespace vt {
namespace {

// One argument quoted so that the runtime's command-line parser gives it
// back unchanged: backslashes are literal unless they precede a quote.
std::string QuoteArgument(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

// The paths of the built programs are the build machine's paths.  When
// that machine is a POSIX host whose tests run under Wine, its root is
// drive Z:, so "/work/x.exe" is reached as "Z:\work\x.exe".
std::string WindowsProgramPath(const std::string &exe) {
  if (exe.empty() || exe[0] != '/') return exe;
  std::string path = "Z:" + exe;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string UpperName(const std::string &entry) {
  std::string name = entry.substr(0, entry.find('=', entry.empty() || entry[0] != '=' ? 0 : 1));
  for (char &c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return name;
}

// The parent's environment with the requested changes, as the block that
// CreateProcess wants: NAME=VALUE texts, sorted by name ignoring case, each
// ended by a zero byte, and one more zero byte at the end.  Names are
// compared ignoring case, as Windows does.
std::string EnvironmentBlock(const std::map<std::string, std::string> &changes) {
  std::vector<std::string> entries;
  if (char *env = GetEnvironmentStringsA()) {
    for (const char *p = env; *p; p += std::strlen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsA(env);
  }
  for (const auto &[name, value] : changes) {
    std::string key = UpperName(name + "=");
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string &e) { return UpperName(e) == key; }),
                  entries.end());
    if (!value.empty()) entries.push_back(name + "=" + value);
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::string &a, const std::string &b) { return UpperName(a) < UpperName(b); });
  std::string block;
  for (const std::string &e : entries) {
    block += e;
    block += '\0';
  }
  block += '\0';
  return block;
}

struct HandleOwner {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~HandleOwner() { Reset(); }
  void Reset() {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
};

// The system's text for an error number, without its line end.
std::string ErrorText(DWORD error) {
  char *text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  return "error " + std::to_string(error) + (out.empty() ? "" : " (" + out + ")");
}

// Errors that starting the same program again cannot mend: it, or the
// directory to run it in, is missing or no program.  Anything else (short
// of memory or handles, a new process that the emulator could not bring up
// under load) may pass a moment later.
bool FinalStartError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_PARAMETER:
      return true;
    default:
      return false;
  }
}

constexpr int kStartAttempts = 5;

// A child inherits every inheritable handle of this process, also those a
// second thread has just made for its own child: the handles for a child are
// inheritable only while this lock is held, from their making until they are
// closed after the start, so each child holds exactly its own pipe end.
std::mutex StartLock;

}  // namespace

RunResult Run(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
              const std::map<std::string, std::string> &env) {
  RunResult result;
  std::string program = WindowsProgramPath(exe);
  std::string commandLine = QuoteArgument(program);
  for (const std::string &a : args) commandLine += " " + QuoteArgument(a);
  std::vector<char> commandBuffer(commandLine.begin(), commandLine.end());
  commandBuffer.push_back('\0');
  std::string block = EnvironmentBlock(env);

  HandleOwner readEnd, processHandle, threadHandle;
  {
    std::lock_guard<std::mutex> lock(StartLock);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HandleOwner writeEnd, input, errors;
    if (!CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0)) {
      result.error = "CreatePipe failed: " + ErrorText(GetLastError());
    } else {
      SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);
      input.h =
          CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
      HANDLE parentErrors = GetStdHandle(STD_ERROR_HANDLE);
      if (parentErrors && parentErrors != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), parentErrors, GetCurrentProcess(), &errors.h, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);

      STARTUPINFOA startup;
      std::memset(&startup, 0, sizeof startup);
      startup.cb = sizeof startup;
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = input.h;
      startup.hStdOutput = writeEnd.h;
      startup.hStdError = errors.h != INVALID_HANDLE_VALUE ? errors.h : writeEnd.h;
      PROCESS_INFORMATION process;
      for (int attempt = 1;; ++attempt) {
        std::memset(&process, 0, sizeof process);
        if (CreateProcessA(program.c_str(), commandBuffer.data(), nullptr, nullptr, TRUE, 0, block.data(),
                           cwd.empty() ? nullptr : cwd.c_str(), &startup, &process)) {
          processHandle.h = process.hProcess;
          threadHandle.h = process.hThread;
          // A start that passed only when tried again is shown in the log.
          if (attempt > 1) std::fprintf(stderr, "started %s at attempt %d after %s\n", program.c_str(), attempt,
                                        result.error.c_str());
          break;
        }
        DWORD error = GetLastError();
        result.error = "CreateProcess failed " + std::to_string(attempt) + " time(s), last with " + ErrorText(error);
        if (FinalStartError(error) || attempt == kStartAttempts) break;
        Sleep(100 * attempt);
      }
    }
    // Leaving the block closes our copies of the child's handles: only the
    // child may hold the pipe's write end, or reading never ends.
  }
  if (processHandle.h == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "could not start " << program << ": " << result.error;
    return result;
  }
  result.error.clear();

  std::string raw;
  char buf[4096];
  DWORD n = 0;
  while (::ReadFile(readEnd.h, buf, sizeof buf, &n, nullptr) && n > 0) raw.append(buf, n);
  WaitForSingleObject(processHandle.h, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(processHandle.h, &code);
  result.status = static_cast<int>(code);

  result.out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    result.out += raw[i];
  }
  return result;
}

void SetEnv(const std::string &name, const std::string &value) { _putenv_s(name.c_str(), value.c_str()); }

// An empty value removes the variable on Windows.
void UnsetEnv(const std::string &name) { _putenv_s(name.c_str(), ""); }

// The runtime's append mode seeks to the end before the write; sorrel's own
// appends deny others the right to write, so the two never interleave.
bool AppendToFile(const std::string &path, const std::string &bytes, uint64_t &at) {
  int fd = _sopen(path.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (fd < 0) return false;
  __int64 end = _lseeki64(fd, 0, SEEK_END);
  int n = _write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
  _close(fd);
  if (end < 0 || n != int(bytes.size())) return false;
  at = uint64_t(end);
  return true;
}

bool HostIsPosix() { return false; }

CapturedStdout::CapturedStdout(const std::string &file) : file_(file) {
  std::fflush(stdout);
  int fd = _open(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return;
  saved_ = _dup(_fileno(stdout));
  _dup2(fd, _fileno(stdout));
  _close(fd);
}

CapturedStdout::~CapturedStdout() {
  std::fflush(stdout);
  if (saved_ < 0) return;
  _dup2(saved_, _fileno(stdout));
  _close(saved_);
}

// The output is a text stream: lines end in CR LF in the file.
std::string CapturedStdout::Text() {
  std::fflush(stdout);
  std::string text = ReadFile(file_), out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

}  // namespace vt
