#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "link/protocol.h"

namespace isp {

// The firmware file and its content in memory: chosen and opened, read once
// on the first transfer, then kept for every later one until a new file is
// opened. Log lines go to the text it is given.
class FirmwareImage {
 public:
  FirmwareImage() = default;
  FirmwareImage(const FirmwareImage&) = delete;
  FirmwareImage& operator=(const FirmwareImage&) = delete;

  // A choice from the file dialog: the full path, or nothing when cancelled.
  void choose(const std::optional<std::string>& path, std::string& log);
  // True when the image can be sent, reading the open file if need be;
  // otherwise the reason has been appended to log.
  bool makeReady(std::string& log);
  // The whole image, once loaded.
  std::span<const std::uint8_t, wire::kImageSize> bytes() const { return m_image; }
  // Record k (0 to 512).
  std::span<const std::uint8_t, wire::kRecordSize> record(int k) const;
  // Closes a file that was opened and not read.
  void release();

  // False when the open file is known to be too short for a whole image
  // (a directory, or a regular file shorter than the image). Reads nothing.
  bool fileCanHoldImage() const;

  bool fileOpen() const { return m_bFileOpen; }
  // The errno of the last choice that could not be opened, and the words
  // for it, naming the part of the path at fault.
  int openError() const { return m_openError; }
  const std::string& openWhy() const { return m_openWhy; }
  bool imageLoaded() const { return m_bImageLoaded; }
  void reset() {
    release();
    m_bImageLoaded = false;
  }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::array<std::uint8_t, wire::kImageSize> m_image{};
  std::unique_ptr<std::FILE, FileCloser> m_pFile;
  bool m_bFileOpen = false;
  bool m_bImageLoaded = false;
  int m_openError = 0;
  std::string m_openWhy;
};

}  // namespace isp
