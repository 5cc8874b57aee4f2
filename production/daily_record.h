#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "production/os.h"

// A line's record kept one file a day in a folder: each line goes into the
// file named for the local date it is written on, so a shift that runs past
// midnight splits there, whenever the line was started.
namespace isp::production {

class DailyRecordFile final : public RecordFile {
 public:
  using Now = std::function<std::chrono::system_clock::time_point()>;
  // Nothing, with why in *error, when today's file cannot be had.
  static std::unique_ptr<DailyRecordFile> open(const std::string& folder, FileError* error,
                                               Now now = std::chrono::system_clock::now);
  bool append(const std::string& line, FileError* error) override;
  End end() const override { return file_ ? file_->end() : End{}; }

 private:
  DailyRecordFile(std::string folder, Now now) : folder_(std::move(folder)), now_(std::move(now)) {}
  // The file of the day it is now, opened when the day changed; false, with why, when it cannot be.
  bool today(FileError* error);

  std::string folder_;
  Now now_;
  std::string day_;  // the path of the file open now
  std::unique_ptr<RecordFile> file_;
};

}  // namespace isp::production
