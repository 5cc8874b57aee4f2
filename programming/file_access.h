#pragma once
#include <cstdio>
#include <string>

// Files by names held in UTF-8, on every system. Windows takes a narrow
// name in the ANSI code page, which cannot hold most names.
namespace isp {

// std::fopen of that name. On POSIX as openNamedFile opens it; a file it
// creates is 0644 whatever the umask. *why, when given, the words for a
// failure.
std::FILE* openFile(const std::string& utf8Path, const char* mode, std::string* why = nullptr);

// Why a file could not be opened, in words: the system's, or those for the
// refusals of openNamedFile.
std::string openFailure(int err);

#ifndef _WIN32
// Makes the missing folders of a path the program keeps its own files in,
// 0700 whatever the umask (none for others to change); nothing when done,
// else why not, naming the path, with the errno value in *err when given.
std::string makePrivateFolder(const std::string& utf8Path, int* err = nullptr);
// A file the program keeps for its user alone (written by a toolkit that
// heeds the umask): 0600, in a folder of 0700, when it is there. Nothing,
// or why not.
std::string makePrivateFile(const std::string& utf8Path);

// open(2) for a file the user named, run perhaps as root: it never waits (a
// FIFO with nobody at the other end), never opens a device (ENODEV: an open
// alone moves a serial port's lines), and walks the path as
// serial/posix/path_walk.h tells: no link followed that another user put in
// a folder others may write (ELOOP), no file written where another user may
// swap it (EACCES). A file it creates gets mode whatever the umask. -1 with
// errno set, and *why, when given, the words naming the part at fault.
int openNamedFile(const std::string& path, int flags, unsigned mode = 0644, std::string* why = nullptr);
#endif

// The last part of the path, the name the log shows.
std::string fileName(const std::string& utf8Path);

}  // namespace isp
