#pragma once
#include <cstdio>
#include <string>

// Files by names held in UTF-8, on every system. Windows takes a narrow
// name in the ANSI code page, which cannot hold most names.
namespace isp {

// std::fopen of that name.
std::FILE* openFile(const std::string& utf8Path, const char* mode);

// The last part of the path, the name the log shows.
std::string fileName(const std::string& utf8Path);

}  // namespace isp
