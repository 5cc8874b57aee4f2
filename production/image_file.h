#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "production/record.h"
#include "programming/firmware_image.h"

// A firmware file read once for a line of devices, the same way for every
// front end: the image every port sends, its facts for the record, and the
// file as it was when read, to notice it change on disk.
namespace isp::production {

struct ImageFile {
  FirmwareImage image;
  ImageFacts facts;
  bool opened = false;    // else image.openWhy() says why
  bool whole = false;     // the image is ready to send
  std::string openLines;  // the log's lines for opening it
  std::string readLines;  // the log's lines for reading it: "Файл считан", or why not
  std::uintmax_t fileSize = 0;
  std::filesystem::file_time_type fileTime{};

  // The file on disk is no longer the one read (or is gone).
  bool changedOnDisk() const;
};

std::unique_ptr<ImageFile> readImageFile(const std::string& path);

// A window's line on the file: "66690 байт, SHA-256 0123456789ab", with a
// word when the file is longer than an image, or why it cannot be programmed.
std::string factsWords(const ImageFile& file);

// A window's warning while its line runs on an image the file no longer holds.
std::string changedWords(const ImageFile& file);

}  // namespace isp::production
