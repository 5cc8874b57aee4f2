#include "tests/support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace isp::test {

namespace {
std::string drain(std::FILE* f) {
  std::string text;
  char buf[4096];
  std::rewind(f);
  for (std::size_t k; (k = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, k);
  std::fclose(f);
  return text;
}
}  // namespace

Finished runProgram(const std::vector<std::string>& argv, const std::function<void(pid_t)>& during) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (!out || !err) throw std::system_error(errno, std::generic_category(), "tmpfile");
  posix_spawn_file_actions_t io;
  ::posix_spawn_file_actions_init(&io);
  ::posix_spawn_file_actions_addopen(&io, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&io, ::fileno(out), 1);
  ::posix_spawn_file_actions_adddup2(&io, ::fileno(err), 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const bool ran = ::posix_spawn(&pid, args[0], &io, nullptr, args.data(), environ) == 0;
  ::posix_spawn_file_actions_destroy(&io);

  int st = 0;
  rusage ru{};
  if (ran && during) during(pid);
  while (ran && ::wait4(pid, &st, 0, &ru) < 0 && errno == EINTR) {
  }
  const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  const int status = !ran ? 127 : WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return {status, drain(out), drain(err), cpu, ru.ru_maxrss};
}

std::string asAnotherUser(const std::function<std::string()>& run) {
  int words[2];
  if (::pipe(words) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
    const std::string said = run();
    ::_exit(::write(words[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 91);
  }
  ::close(words[1]);
  std::string said;
  char text[512];
  for (ssize_t n; (n = ::read(words[0], text, sizeof text)) > 0;) said.append(text, static_cast<std::size_t>(n));
  ::close(words[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return status == 0 ? said : "exit status " + std::to_string(status);
}

}  // namespace isp::test
