#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "production/os.h"
#include "programming/file_access.h"
#include "serial/posix/serial_posix.h"
#include "serial/posix/unique_fd.h"

namespace isp::production {

namespace {

// The signal that asked us to stop, 0 while none has.
std::atomic<int> g_stop{0};

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) {
  // A line that outgrows a file size limit (the log's, the report's) fails
  // with EFBIG, to be said and taken back, instead of ending the program.
  signal(SIGXFSZ, SIG_IGN);
  return commandLine(argc, argv);
}

std::vector<std::string> commandLine(int argc, char** argv) { return {argv, argv + argc}; }

std::unique_ptr<SerialPlatform> serialPlatform() {
  return std::make_unique<PosixSerialPlatform>(PortMap::linuxDefault());
}

std::stop_token installStopHandlers() {
  // The interrupts are taken by a thread of their own, which asks for the
  // stop; every other thread, this one included, blocks them from now on
  // (threads started later inherit that).
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  // Never destroyed: the thread may still be asked to stop while the
  // program's statics are being torn down.
  static std::stop_source& source = *new std::stop_source;
  std::thread([stops] {
    int sig = 0;
    while (sigwait(&stops, &sig) != 0) {
    }
    g_stop = sig;
    source.request_stop();
    // Later interrupts are taken here too, and ignored: the first one stops.
    for (;;) sigwait(&stops, &sig);
  }).detach();
  // A reader of standard output that goes away must not end the transfer:
  // writes to it fail quietly and the device is programmed to the end.
  signal(SIGPIPE, SIG_IGN);
  return source.get_token();
}

int stopSignal() { return g_stop; }

std::string hostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

namespace {

// The record's file opened for appending: read as well where we may, to see
// how its last line ends. openNamedFile refuses devices and never waits; a
// FIFO or a folder is no record either.
struct Opened {
  UniqueFd fd;
  bool readable = true;
};

std::optional<Opened> openRecord(const std::string& path, FileError* error) {
  struct stat st {};
  std::string why;
  Opened o{UniqueFd(openNamedFile(path, O_RDWR | O_APPEND | O_CREAT, 0644, &why))};
  if (!o.fd && errno == EACCES) o = {UniqueFd(openNamedFile(path, O_WRONLY | O_APPEND | O_CREAT, 0644, &why)), false};
  if (!o.fd) {
    *error = fileError(path, errno, why);
    return std::nullopt;
  }
  if (::fstat(o.fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = notARegularFile(path);
    return std::nullopt;
  }
  return o;
}

class PosixRecordFile final : public RecordFile {
 public:
  PosixRecordFile(std::string path, Opened file, std::function<int(int)> sync)
      : path_(std::move(path)), file_(std::move(file)), sync_(sync ? std::move(sync) : ::fsync) {}

  bool append(const std::string& line, FileError* error) override {
    // Rotated or removed while a station runs for days: the line goes to the
    // file now at the path, not to one nobody will read.
    struct stat atPath {
    }, mine{};
    if (::stat(path_.c_str(), &atPath) != 0 || ::fstat(file_.fd.get(), &mine) != 0 || atPath.st_ino != mine.st_ino ||
        atPath.st_dev != mine.st_dev) {
      std::optional<Opened> fresh = openRecord(path_, error);
      if (!fresh) return false;
      file_ = std::move(*fresh);
    }
    const int fd = file_.fd.get();
    const Exclusive held(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return failed(errno, error);
    char last = '\n';
    const bool unended = file_.readable && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
    const std::string text = (unended ? "\n" : "") + line;
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t k = ::write(fd, text.data() + done, text.size() - done);
      if (k > 0)
        done += static_cast<std::size_t>(k);
      else if (k == 0 || errno != EINTR)
        return cutBack(done, k == 0 ? EIO : errno, error);
    }
    if (sync_(fd) != 0) return cutBack(done, errno, error);
    const off_t at = ::lseek(fd, 0, SEEK_CUR);  // appending: the end of this line
    end_ = {path_, at > 0 ? static_cast<std::uint64_t>(at) : 0};
    return true;
  }
  End end() const override { return end_; }

 private:
  // Other runs appending to the same record wait their turn, for a while:
  // somebody holding the lock for ever must not cost a line.
  struct Exclusive {
    explicit Exclusive(int fd) : fd(fd) {
      for (int tries = 0; tries < 50 && !locked; ++tries) {
        locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked) ::usleep(10'000);
      }
    }
    ~Exclusive() {
      if (locked) ::flock(fd, LOCK_UN);
    }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;
    int fd;
    bool locked = false;
  };

  // Takes back the `done` bytes of a line that could not be written whole,
  // so that the file parses line by line again and the next line is not
  // glued to a torn one. Only when they are still the file's end: whatever
  // another writer appended after them is not ours to cut.
  bool cutBack(std::size_t done, int err, FileError* error) {
    const int fd = file_.fd.get();
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    struct stat st {};
    const off_t start = end - static_cast<off_t>(done);
    if (done > 0 && end >= 0 && ::fstat(fd, &st) == 0 && st.st_size == end) {
      while (::ftruncate(fd, start) != 0 && errno == EINTR) {
      }
      ::fsync(fd);
    }
    return failed(err, error);
  }
  bool failed(int err, FileError* error) const {
    *error = fileError(path_, err, std::strerror(err));
    return false;
  }

  std::string path_;
  Opened file_;
  std::function<int(int)> sync_;
  End end_{};
};

}  // namespace

std::unique_ptr<RecordFile> RecordFile::open(const std::string& path, FileError* error, std::function<int(int)> sync) {
  // A line that outgrows a file size limit fails with EFBIG, to be taken
  // back like any other, instead of ending the program (the window too).
  signal(SIGXFSZ, SIG_IGN);
  std::optional<Opened> file = openRecord(path, error);
  if (!file) return nullptr;
  return std::make_unique<PosixRecordFile>(path, std::move(*file), std::move(sync));
}

std::string deviceIdentity(const std::string& node) {
  // A character device is its number, which every node and link for it shares.
  struct stat st {};
  if (::stat(node.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
    return "device " + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  return absolutePath(node);
}

std::string fileIdentity(const std::string& path) {
  // Looked at, not opened: a FIFO or a device is not touched.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return fileIdentity(st.st_dev, st.st_ino);
  // Not there yet: where an open would create it. The folders' links are
  // resolved as they stand; a dangling link at the end is read and followed
  // as the open would follow it, again while its target is one, as many
  // times as the system would (40) and no more.
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path name = fs::absolute(path, ec);
  if (ec) return absolutePath(path);
  for (int hops = 0; hops <= 40; ++hops) {
    name = fs::weakly_canonical(name, ec);
    if (ec) return absolutePath(path);
    const fs::path to = fs::read_symlink(name, ec);
    if (ec) break;  // not a link: the name itself would be made
    name = to.is_absolute() ? to : name.parent_path() / to;
  }
  return name.string();
}

std::string absolutePath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  std::free(real);
  return out;
}

namespace {

// The parts of an absolute path, each as the whole path up to it.
std::vector<std::string> partsOf(const std::filesystem::path& whole) {
  std::vector<std::string> parts;
  std::filesystem::path at;
  for (const auto& part : whole) parts.push_back((at /= part).string());
  return parts;
}

}  // namespace

std::string changeableByUs(const std::string& path) {
  const uid_t us = ::geteuid();
  std::error_code ec;
  std::vector<std::string> parts = partsOf(std::filesystem::absolute(path, ec).lexically_normal());
  // Through every link, what the file is: its own folders too.
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    for (const std::string& p : partsOf(real)) parts.push_back(p);
    std::free(real);
  }
  for (const std::string& part : parts) {
    struct stat st {};
    if (::lstat(part.c_str(), &st) != 0) return part + ": " + std::strerror(errno);
    if (S_ISLNK(st.st_mode)) continue;  // a link is changed through its folder, checked as a part
    if (us == 0 && st.st_uid != 0)
      return part + ": belongs to user " + std::to_string(st.st_uid) + ", who may change it";
    if (us != 0 && st.st_uid == us) return part + ": is yours, and you may change it";
    // In a sticky folder (/tmp) whoever may write it cannot replace another's
    // entries: what is on the way there is checked as the next part.
    if (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) continue;
    if (us == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)))
      return part + ": others may write it (its group, everyone or an ACL entry)";
    if (us != 0 && ::faccessat(AT_FDCWD, part.c_str(), W_OK, AT_EACCESS) == 0)
      return part + ": you may write it (through its group, as everyone or an ACL entry)";
  }
  return {};
}

FileError writeOwnFile(const std::string& path, const std::string& bytes) {
  std::string why;
  const UniqueFd fd(openNamedFile(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644, &why));
  if (!fd) {
    FileError e = fileError(path, errno, {});
    e.english = path + ": " + why;  // it names the part of the path at fault
    return e;
  }
  const int f = fd.get();
  const auto failed = [&](int err) { return fileError(path, err, std::strerror(err)); };
  struct stat st {};
  if (::fstat(f, &st) != 0) return failed(errno);
  if (!S_ISREG(st.st_mode)) return notARegularFile(path);
  // Another's file: an operator's line is not overwritten by whoever may write its folder.
  if (st.st_uid != ::geteuid()) return notYours(path, "user " + std::to_string(st.st_uid));
  if (::ftruncate(f, 0) != 0 || ::fchmod(f, 0644) != 0) return failed(errno);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t k = ::write(f, bytes.data() + done, bytes.size() - done);
    if (k > 0)
      done += static_cast<std::size_t>(k);
    else if (k == 0 || errno != EINTR)
      return failed(k == 0 ? EIO : errno);
  }
  if (::fsync(f) != 0) return failed(errno);
  return {};
}

std::optional<std::string> readSecretFile(const std::string& path, std::string* why) {
  const UniqueFd fd(openNamedFile(path, O_RDONLY | O_CLOEXEC, 0, why));
  if (!fd) return *why = path + ": " + *why, std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return *why = path + ": " + std::strerror(errno), std::nullopt;
  if (!S_ISREG(st.st_mode)) return *why = path + ": not a regular file", std::nullopt;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  if (st.st_mode & (S_IRWXG | S_IRWXO))
    return *why = path + ": others may read it (mode " + mode + "); make it 0600, as ssh wants a key", std::nullopt;
  if (st.st_uid != ::geteuid() && st.st_uid != 0)
    return *why = path + ": belongs to user " + std::to_string(st.st_uid) + ", not to you", std::nullopt;
  // ACL entries show in the group's bits of the mode: refused above.
  std::string bytes(4096, '\0');
  ssize_t n;
  while ((n = ::read(fd.get(), bytes.data(), bytes.size())) < 0 && errno == EINTR) {
  }
  if (n < 0) return *why = path + ": " + std::strerror(errno), std::nullopt;
  bytes.resize(static_cast<std::size_t>(n));
  return bytes;
}

FileError writeWhole(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".new";
  std::string why;
  const UniqueFd fd(openNamedFile(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644, &why));
  if (!fd) {
    FileError e = fileError(temporary, errno, {});
    e.english = temporary + ": " + why;
    return e;
  }
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t k = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (k > 0)
      done += static_cast<std::size_t>(k);
    else if (k == 0 || errno != EINTR)
      return fileError(temporary, k == 0 ? EIO : errno, std::strerror(k == 0 ? EIO : errno));
  }
  if (::fsync(fd.get()) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0)
    return fileError(path, errno, std::strerror(errno));
  // The rename itself made durable: the folder synced.
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return {};
}

FileError makeReportFolder(const std::string& reportPath) {
  std::error_code ec;
  const std::filesystem::path whole = std::filesystem::absolute(reportPath, ec);
  const std::string folder = (ec ? std::filesystem::path(reportPath) : whole).parent_path().string();
  int err = 0;
  const std::string why = makePrivateFolder(folder, &err);
  if (why.empty()) return {};
  FileError e = fileError(folder, err, {});
  e.english = why;  // it names the part of the path at fault
  return e;
}

}  // namespace isp::production
