#pragma once
#include <cstdio>
#include <string>

// Files by names held in UTF-8, on every system. Windows takes a narrow
// name in the ANSI code page, which cannot hold most names.
namespace isp {

// std::fopen of that name. On POSIX as openNamedFile opens it.
std::FILE* openFile(const std::string& utf8Path, const char* mode);

// Why a file could not be opened, in words: the system's, or those for the
// refusals of openNamedFile.
std::string openFailure(int err);

#ifndef _WIN32
// open(2) for a file the user named, run perhaps as root: it never waits (a
// FIFO with nobody at the other end), never opens a device (ENODEV: an open
// alone moves a serial port's lines), and never follows a link that another
// user put in a folder everybody may write, such as /tmp (ELOOP), where the
// system does not refuse that itself. -1 with errno set.
int openNamedFile(const std::string& path, int flags, unsigned mode = 0666);
#endif

// The last part of the path, the name the log shows.
std::string fileName(const std::string& utf8Path);

}  // namespace isp
