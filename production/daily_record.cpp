#include "production/daily_record.h"

#include "production/station_settings.h"

namespace isp::production {

std::unique_ptr<DailyRecordFile> DailyRecordFile::open(const std::string& folder, FileError* error, Now now) {
  std::unique_ptr<DailyRecordFile> daily(new DailyRecordFile(folder, std::move(now)));
  if (!daily->today(error)) return nullptr;
  return daily;
}

bool DailyRecordFile::today(FileError* error) {
  const std::string day = dayFileIn(folder_, now_());
  if (day == day_) return true;
  // Yesterday's file stays open until today's is had: a line that cannot
  // go into today's file is missing, and said so, never put into another day's.
  std::unique_ptr<RecordFile> file = RecordFile::open(day, error);
  if (!file) return false;
  file_ = std::move(file);
  day_ = day;
  return true;
}

bool DailyRecordFile::append(const std::string& line, FileError* error) {
  return today(error) && file_->append(line, error);
}

}  // namespace isp::production
