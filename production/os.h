#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "serial/clock.h"
#include "serial/serial_port.h"

// What the programs of the production line need from the operating system;
// one file per system.
namespace isp::production {

// The command line in UTF-8; standard output and error set up to show it.
std::vector<std::string> startProgram(int argc, char** argv);
// The command line in UTF-8 alone, for a window: on Windows from the
// system's wide command line (argv is in the ANSI code page, which cannot
// hold every name), else argv.
std::vector<std::string> commandLine(int argc, char** argv);

// The serial ports: COM1 to COM20 by the system's table, a device path as it is.
std::unique_ptr<SerialPlatform> serialPlatform();

// From now on the user's interrupt (Ctrl-C and its kin) asks every transfer
// to stop, like the Stop button, through the token returned.
std::stop_token installStopHandlers();
// 0 until an interrupt asked for a stop; then its signal's number. On
// Windows, the one a console event stands for: SIGINT for Ctrl-C, SIGBREAK
// for Ctrl-Break, and SIGHUP's 1 for the console closed.
int stopSignal();

// This machine's name, for the production record.
std::string hostName();

// Why a file of the line's could not be had or written: the path at fault
// and the system's error behind it, and the English words isp-flash says;
// a window says the same in its own words from the facts.
struct FileError {
  std::string path{};
  int code = 0;  // errno; GetLastError() on Windows; 0 for a refusal of our own
  SystemCause cause = SystemCause::None;
  std::string english{};  // "<path>: No space left on device"
  explicit operator bool() const { return cause != SystemCause::None; }
};
// The system's error `code` at path, with its English words.
inline FileError fileError(const std::string& path, int code, const std::string& words) {
  return {.path = path,
          .code = code,
          .cause = code ? systemCause(code) : SystemCause::Other,
          .english = path + ": " + words};
}
inline FileError notARegularFile(const std::string& path) {
  return {.path = path, .cause = SystemCause::NotARegularFile, .english = path + ": not a regular file"};
}
inline FileError notYours(const std::string& path, const std::string& owner) {
  return {.path = path,
          .cause = SystemCause::NotYours,
          .english = path + ": belongs to " + owner + ", not to you; it is left as it was"};
}

// The production record's file, opened for the whole run: a regular file
// that is only appended to, where every line is whole or not there at all.
class RecordFile {
 public:
  // Nothing, with the reason in *error, when path cannot hold the record:
  // it cannot be created or written, or is no regular file.
  // sync makes a written line durable: fsync(2) (FlushFileBuffers on
  // Windows), unless a test puts its own in its place.
  static std::unique_ptr<RecordFile> open(const std::string& path, FileError* error,
                                          std::function<int(int fd)> sync = {});
  virtual ~RecordFile() = default;
  // Appends the line (with its "\n") and waits until it is on disk. A line
  // that cannot be written whole is taken back, and one that another writer
  // left without its end is ended first. False, with the reason, on failure.
  virtual bool append(const std::string& line, FileError* error) = 0;
  // The file the last line went into and the offset it ends at: the record
  // on disk up to there, for whoever sends it on.
  struct End {
    std::string path{};
    std::uint64_t offset = 0;
  };
  virtual End end() const = 0;
};
// What tells one device from another, whatever name it was given: a COM
// name, a path, a link to it.
std::string deviceIdentity(const std::string& node);
// What tells one file from another, whatever name or link it is reached
// by, told without opening it; a file not there yet by the whole path it
// would be created at, through every link on the way, a dangling one too.
std::string fileIdentity(const std::string& path);
// A file that is there, by its volume (a device number) and its index on
// that volume (an inode): one index on two volumes is two files.
inline std::string fileIdentity(std::uint64_t volume, std::uint64_t index) {
  return "file " + std::to_string(volume) + ":" + std::to_string(index);
}
// The path made absolute, for a record read far from where it was written.
std::string absolutePath(const std::string& path);
// Why the user running the program could change the file at path: it, a
// folder on its way or a folder holding a link on its way is theirs, or
// they may write it (as owner, through a group, as everyone, through an
// ACL entry). Root, who may change anything, takes a file only root can
// change: root's, on a path of root's folders nobody else may write.
// Nothing when it is locked against the user; else the words, naming the part.
std::string changeableByUs(const std::string& path);
// Writes bytes as the whole of the file at path, a file of the user's own
// that others may read (0644): created if need be, and never written over
// when it is another user's (NotYours) or no regular file. Nothing when
// written and on disk.
FileError writeOwnFile(const std::string& path, const std::string& bytes);
// A small file of secrets (a password): its bytes, or nothing, with why
// naming the path, when it cannot be read or others may read it (its
// group, everyone, an ACL entry; on Windows any account but the user, the
// system and the administrators), as ssh refuses such a key.
std::optional<std::string> readSecretFile(const std::string& path, std::string* why);
// The file at path made to hold bytes and nothing else, whole or not at
// all: written beside it under another name, synced, and renamed over it.
FileError writeWhole(const std::string& path, const std::string& bytes);
// Makes the missing folders above a report's file, for this user alone;
// nothing when done, else why not.
FileError makeReportFolder(const std::string& reportPath);

}  // namespace isp::production
