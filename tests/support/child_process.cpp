#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace isp::test {

namespace {
// Standard output and error go to unnamed files, read once the child is done:
// no pipe can fill up and stall it.
int scratchFile() {
  char name[] = "/tmp/isp-child-XXXXXX";
  const int fd = ::mkostemp(name, O_CLOEXEC);
  ::unlink(name);
  return fd;
}

std::string readAll(int fd) {
  std::string text;
  char buf[4096];
  ssize_t k;
  ::lseek(fd, 0, SEEK_SET);
  while ((k = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(k));
  ::close(fd);
  return text;
}
}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) : outFd_(scratchFile()), errFd_(scratchFile()) {
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(outFd_, 1);
    ::dup2(errFd_, 2);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (status_ < 0 && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    finish();
  }
}

void ChildProcess::signal(int sig) const { ::kill(pid_, sig); }

int ChildProcess::finish() {
  if (status_ >= 0) return status_;
  int st = 0;
  rusage ru{};
  while (::wait4(pid_, &st, 0, &ru) < 0) {
  }
  cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
               static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  maxRssKb = ru.ru_maxrss;
  out = readAll(outFd_);
  err = readAll(errFd_);
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return status_;
}

}  // namespace isp::test
