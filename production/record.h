#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "production/os.h"
#include "production/port_job.h"

// The production record: one JSON object a line for every device attempted,
// appended whole and flushed to disk when its device ends, so that a crash
// or a power cut keeps every finished line. The file is only appended to,
// and opened before any device is touched.
namespace isp::production {

struct ImageFacts {
  std::string path;  // as absolute as the system can make it
  std::size_t size = 0;
  std::string sha256;
};

// The facts of an image loaded from path.
ImageFacts imageFacts(const std::string& path, const FirmwareImage& image);

// The line file a run was set up by, named in each of its lines: which
// set-up programmed a board. Empty outside operator mode. And the name the
// station publishes its record under, when it does.
struct SetUpBy {
  std::string line{};     // its name
  std::string sha256{};   // of the line file's bytes
  std::string station{};  // empty: the record is not published
};

// A line's own name, told apart from every other line's anywhere: 128
// random bits as a UUID (version 4), by which whoever reads the record
// from a broker drops a line that came twice.
std::string newRecordId();

// The line for one device, without its line end; no image for an identification.
std::string reportLine(const JobResult& job, const ImageFacts* image, int intervalMs, const std::string& host,
                       const SetUpBy& setUp = {}, const std::string& id = {});

class ProductionRecord {
 public:
  explicit ProductionRecord(std::unique_ptr<RecordFile> file, SetUpBy setUp = {})
      : file_(std::move(file)), setUp_(std::move(setUp)) {}
  // False, with the reason in *error, when the line could not be made durable.
  bool append(const JobResult& job, const ImageFacts* image, int intervalMs, FileError* error);
  // A device's line is not in the record: the run must not end as if all were well.
  bool lineMissing() const { return missing_; }
  // Told of each line once it is on disk, with where it ends; set before
  // the first line.
  std::function<void(const RecordFile::End& end, const std::string& line)> onRecorded;

 private:
  std::mutex mu_;
  std::unique_ptr<RecordFile> file_;
  SetUpBy setUp_;
  std::atomic<bool> missing_ = false;
};

// A device's line appended to the record, when one is kept: the one way
// every program records a job. Nothing when it is there; else why not,
// said first to note in isp-flash's words ("the report: <path>: <why>").
FileError appendLine(ProductionRecord* record, const JobResult& job, const ImageFacts* image, int intervalMs,
                     const std::function<void(const std::string&)>& note);

}  // namespace isp::production
