// Runs a program as a child process and collects its standard output.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

namespace vt {

RunResult Run(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
              const std::map<std::string, std::string> &env) {
  RunResult result;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    for (const auto &[name, value] : env) {
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(exe.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) result.out.append(buf, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
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
