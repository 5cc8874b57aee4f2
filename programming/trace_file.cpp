#include "programming/trace_file.h"

#include <cstdio>
#include <cstdlib>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "programming/file_access.h"
#ifdef _WIN32
#include "text/utf16.h"
#endif

namespace isp {

std::unique_ptr<Trace> openTrace(const std::string& path, std::string* why) {
  std::shared_ptr<std::FILE> file(openFile(path, "ab", why), [](std::FILE* f) {
    if (f) std::fclose(f);
  });
  if (!file) return nullptr;
  // One write and a flush a line: a reader (tail -f) sees each whole, and a
  // crash loses none that came before. A line the disk could not take whole
  // is taken back, so that the file stays line by line.
  return std::make_unique<Trace>([file](std::string_view line) {
    std::FILE* f = file.get();
    std::fseek(f, 0, SEEK_END);
    const long before = std::ftell(f);
    if (std::fwrite(line.data(), 1, line.size(), f) == line.size() && std::fflush(f) == 0) return true;
    std::clearerr(f);
#ifndef _WIN32
    if (before >= 0 && ::ftruncate(::fileno(f), before) == 0) std::fseek(f, 0, SEEK_END);
#else
    if (before >= 0 && ::_chsize_s(::_fileno(f), before) == 0) std::fseek(f, 0, SEEK_END);
#endif
    return false;
  });
}

std::unique_ptr<Trace> environmentTrace(std::string* why) {
#ifdef _WIN32
  const wchar_t* value = ::_wgetenv(L"ISP_TRACE");
  const std::string path = value ? toUtf8(value) : std::string();
#else
  const char* value = std::getenv("ISP_TRACE");
  const std::string path = value ? value : "";
#endif
  if (path.empty()) return nullptr;
  auto t = openTrace(path, why);
  if (!t) *why = "ISP_TRACE=" + path + ": " + *why;
  return t;
}

}  // namespace isp
