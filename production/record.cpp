#include "production/record.h"

#include <nlohmann/json.hpp>

#include "production/os.h"
#include "production/timestamp.h"
#include "programming/sha256.h"
#include "resources/isp_version.h"

namespace isp::production {

ImageFacts imageFacts(const std::string& path, const FirmwareImage& image) {
  return {absolutePath(path), image.bytes().size(), sha256Hex(image.bytes())};
}

std::string reportLine(const JobResult& job, const ImageFacts* image, int intervalMs, const std::string& host,
                       const SetUpBy& setUp) {
  nlohmann::ordered_json j;
  j["start"] = timestamp(job.started, Zone::Utc);
  j["end"] = timestamp(job.ended, Zone::Utc);
  j["port"] = job.port;
  j["node"] = job.node;
  j["adapter"] = job.adapter;  // USB ids, maker, product and serial where the system knows them
  j["device"] = job.device;
  if (image) {
    j["image"] = {{"path", image->path}, {"size", image->size}, {"sha256", image->sha256}};
    j["interval_ms"] = intervalMs;
  }
  j["result"] = resultName(job);
  if (job.failedRecord >= 0) j["failure"] = {{"code", job.code}, {"record", job.failedRecord}};
  // Milliseconds, as the stamps: 39.406, not 39.40612437.
  const auto ms = std::chrono::round<std::chrono::milliseconds>(job.ended - job.started).count();
  j["duration_s"] = static_cast<double>(ms) / 1000.0;
  j["version"] = ISP_VERSION;
  j["host"] = host;
  if (!setUp.line.empty()) j["line"] = setUp.line, j["line_sha256"] = setUp.sha256;
  // Bytes that are not UTF-8 (a device's name, say) are replaced, not fatal.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ProductionRecord::append(const JobResult& job, const ImageFacts* image, int intervalMs, FileError* error) {
  const std::string line = reportLine(job, image, intervalMs, hostName(), setUp_) + "\n";
  std::lock_guard lock(mu_);
  if (file_->append(line, error)) return true;
  missing_ = true;
  return false;
}

FileError appendLine(ProductionRecord* record, const JobResult& job, const ImageFacts* image, int intervalMs,
                     const std::function<void(const std::string&)>& note) {
  FileError error;
  if (record && !record->append(job, image, intervalMs, &error)) note("the report: " + error.english);
  return error;
}

}  // namespace isp::production
