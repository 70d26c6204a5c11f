// Runs a program as a child process and collects its standard output.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_support.h"

extern char **environ;

namespace vt {
namespace {

// What the child reports through the report pipe when it cannot become the
// program: the step that failed and its errno.
struct StartFailure {
  int step = 0;  // 1 changing directory, 2 executing
  int error = 0;
};

// The process's environment with the requested changes, as NAME=VALUE texts.
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string> &changes) {
  std::vector<std::string> entries;
  for (char **e = environ; *e; ++e) {
    std::string entry(*e);
    if (!changes.count(entry.substr(0, entry.find('=')))) entries.push_back(entry);
  }
  for (const auto &[name, value] : changes)
    if (!value.empty()) entries.push_back(name + "=" + value);
  return entries;
}

}  // namespace

RunResult Run(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
              const std::map<std::string, std::string> &env) {
  RunResult result;
  // Everything the child needs is made before the fork: a test may run
  // programs from two threads, and a forked child may only make async-safe
  // calls.
  std::vector<std::string> environment = ChildEnvironment(env);
  std::vector<char *> envp, argv;
  for (std::string &e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  argv.push_back(const_cast<char *>(exe.c_str()));
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  // Both pipes are closed on exec, so no other child started meanwhile keeps
  // an end open; the report pipe then reads its end exactly when the
  // program started.
  int output[2], report[2];
  if (pipe2(output, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
  } else if (pipe2(report, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    close(output[0]);
    close(output[1]);
  }
  if (!result.error.empty()) {
    ADD_FAILURE() << "could not start " << exe << ": " << result.error;
    return result;
  }

  pid_t pid = -1;
  // A refused fork (no process slot or memory for a moment) is tried again.
  for (int attempt = 1; attempt <= 5; ++attempt) {
    pid = fork();
    if (pid >= 0 || (errno != EAGAIN && errno != ENOMEM)) break;
    usleep(100000u * attempt);
  }
  if (pid == 0) {
    StartFailure failure;
    dup2(output[1], 1);
    int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devnull >= 0) dup2(devnull, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
      failure = {1, errno};
    } else {
      execve(exe.c_str(), argv.data(), envp.data());
      failure = {2, errno};
    }
    ssize_t written = write(report[1], &failure, sizeof failure);
    (void)written;
    _exit(127);
  }
  int forkError = errno;
  close(output[1]);
  close(report[1]);
  if (pid < 0) {
    close(output[0]);
    close(report[0]);
    result.error = std::string("fork: ") + std::strerror(forkError);
    ADD_FAILURE() << "could not start " << exe << ": " << result.error;
    return result;
  }

  char buf[4096];
  ssize_t n;
  while ((n = read(output[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) result.out.append(buf, static_cast<size_t>(n));
  close(output[0]);
  StartFailure failure;
  while ((n = read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (n == static_cast<ssize_t>(sizeof failure)) {
    result.error = std::string(failure.step == 1 ? "changing to " + cwd : "executing") + ": " +
                   std::strerror(failure.error);
    ADD_FAILURE() << "could not start " << exe << ": " << result.error;
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void SetEnv(const std::string &name, const std::string &value) { setenv(name.c_str(), value.c_str(), 1); }

void UnsetEnv(const std::string &name) { unsetenv(name.c_str()); }

bool AppendToFile(const std::string &path, const std::string &bytes, uint64_t &at) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t n = write(fd, bytes.data(), bytes.size());
  off_t end = lseek(fd, 0, SEEK_CUR);
  close(fd);
  if (n != ssize_t(bytes.size()) || end < 0) return false;
  at = uint64_t(end) - bytes.size();
  return true;
}

bool HostIsPosix() { return true; }

CapturedStdout::CapturedStdout(const std::string &file) : file_(file) {
  std::fflush(stdout);
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return;
  saved_ = dup(1);
  dup2(fd, 1);
  close(fd);
}

CapturedStdout::~CapturedStdout() {
  std::fflush(stdout);
  if (saved_ < 0) return;
  dup2(saved_, 1);
  close(saved_);
}

std::string CapturedStdout::Text() {
  std::fflush(stdout);
  return ReadFile(file_);
}

}  // namespace vt
