#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace isp::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) std::abort();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
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
  pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (::poll(p, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t k = ::read(p[i].fd, buf, sizeof buf);
      if (k > 0) {
        (i == 0 ? out : err).append(buf, static_cast<std::size_t>(k));
      } else {
        ::close(p[i].fd);
        p[i].fd = -1;
        --open;
      }
    }
  }
  int st = 0;
  rusage ru{};
  while (::wait4(pid_, &st, 0, &ru) < 0) {
  }
  cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
               static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  maxRssKb = ru.ru_maxrss;
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return status_;
}

}  // namespace isp::test
