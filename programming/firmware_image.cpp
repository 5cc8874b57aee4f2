#include "programming/firmware_image.h"

#include <sys/stat.h>

#include <cerrno>

#include "programming/file_access.h"
#include "programming/messages.h"

namespace isp {

namespace {
void line(std::string& log, std::string_view text) {
  log += text;
  log += msg::kEol;
}
}  // namespace

void FirmwareImage::release() {
  m_pFile.reset();
  m_bFileOpen = false;
}

void FirmwareImage::choose(const std::optional<std::string>& path, std::string& log) {
  release();
  if (!path) return;
  log += msg::kFileChosen;
  line(log, fileName(*path));
  // Opened by its full path: the chosen folder is not our current directory.
  std::FILE* f = openFile(*path, "rb", &m_openWhy);
  m_openError = f ? 0 : errno;
  if (!f) {
    line(log, msg::kFileNotOpened);
    return;
  }
  line(log, msg::kFileOpened);
  m_pFile.reset(f);
  m_bFileOpen = true;
  m_bImageLoaded = false;
}

bool FirmwareImage::makeReady(std::string& log) {
  if (m_bImageLoaded) return true;
  if (!m_bFileOpen) {
    line(log, msg::kNoFirmwareFile);
    return false;
  }
  for (std::size_t i = 0; i < wire::kImageSize; ++i) {
    const int c = std::fgetc(m_pFile.get());
    if (c == EOF) {
      // The stream stays at its end: every later try fails the same way
      // until another file is chosen.
      line(log, msg::kFileReadError);
      return false;
    }
    m_image[i] = static_cast<std::uint8_t>(c);
  }
  release();
  line(log, msg::kFileRead);
  m_bImageLoaded = true;
  return true;
}

bool FirmwareImage::fileCanHoldImage() const {
  struct stat st {};
  if (!m_pFile || ::fstat(fileno(m_pFile.get()), &st) != 0) return true;  // the read will tell
  if (S_ISDIR(st.st_mode)) return false;
  return !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) >= wire::kImageSize;
}

std::span<const std::uint8_t, wire::kRecordSize> FirmwareImage::record(int k) const {
  return std::span<const std::uint8_t, wire::kRecordSize>(
      m_image.data() + static_cast<std::size_t>(k) * wire::kRecordSize, wire::kRecordSize);
}

}  // namespace isp
