#include "programming/trace_file.h"

#include <cstdio>
#include <cstdlib>

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
  // crash loses none that came before.
  return std::make_unique<Trace>([file](std::string_view line) {
    return std::fwrite(line.data(), 1, line.size(), file.get()) == line.size() && std::fflush(file.get()) == 0;
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
