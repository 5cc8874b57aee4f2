#pragma once
#include <cstddef>
#include <mutex>
#include <string>

#include "port_job.h"

// The production record: one JSON object a line for every device attempted,
// appended whole and flushed to disk when its device ends, so that a crash
// or a power cut keeps every finished line. The file is only appended to.
namespace isp::cli {

struct ImageFacts {
  std::string path;  // as absolute as the system can make it
  std::size_t size = 0;
  std::string sha256;
};

// The line for one device, without its line end; no image for an identification.
std::string reportLine(const JobResult& job, const ImageFacts* image, int intervalMs, const std::string& host);

class ProductionRecord {
 public:
  explicit ProductionRecord(std::string path) : path_(std::move(path)) {}
  // False, with the reason in *error, when the line could not be made durable.
  bool append(const JobResult& job, const ImageFacts* image, int intervalMs, std::string* error);

 private:
  std::mutex mu_;
  std::string path_;
};

}  // namespace isp::cli
