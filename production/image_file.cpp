#include "production/image_file.h"

#include "production/station_words.h"
#include "programming/file_access.h"
#include "programming/messages.h"

namespace isp::production {

std::unique_ptr<ImageFile> readImageFile(const std::string& path) {
  auto f = std::make_unique<ImageFile>();
  f->image.choose(path, f->openLines);
  f->opened = f->image.fileOpen();
  const bool fits = f->opened && f->image.fileCanHoldImage();
  f->whole = fits && f->image.makeReady(f->readLines);  // makeReady logs its own read error
  if (f->opened && !fits) (f->readLines += msg::kFileReadError) += msg::kEol;
  if (!f->whole) return f;
  f->facts = imageFacts(path, f->image);
  std::error_code ec;
  f->fileSize = std::filesystem::file_size(path, ec);
  f->fileTime = std::filesystem::last_write_time(path, ec);
  return f;
}

bool ImageFile::changedOnDisk() const {
  std::error_code size, time;
  const auto bytes = std::filesystem::file_size(facts.path, size);
  const auto when = std::filesystem::last_write_time(facts.path, time);
  return size || time || bytes != fileSize || when != fileTime;
}

std::string factsWords(const ImageFile& f) {
  if (!f.opened) return std::string(words::kNotOpened) + openFailure(f.image.openError());
  if (!f.whole) return std::string(words::kTooShort) + std::to_string(wire::kImageSize) + std::string(words::kBytesEnd);
  std::string text = std::to_string(f.facts.size) + std::string(words::kBytes) + f.facts.sha256.substr(0, 12);
  if (f.fileSize > f.facts.size)
    text += std::string(words::kLongerThanImage) + std::to_string(f.fileSize) + std::string(words::kOnlyFirst) +
            std::to_string(f.facts.size);
  return text;
}

std::string changedWords(const ImageFile& f) {
  return std::string(words::kFileChanged) + f.facts.sha256.substr(0, 12) + std::string(words::kFileChangedEnd);
}

}  // namespace isp::production
