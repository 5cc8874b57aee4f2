#include "production/record.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>

#include "production/adapter_json.h"
#include "production/os.h"
#include "production/timestamp.h"
#include "programming/sha256.h"
#include "resources/isp_version.h"

namespace isp::production {

ImageFacts imageFacts(const std::string& path, const FirmwareImage& image) {
  return {absolutePath(path), image.bytes().size(), sha256Hex(image.bytes())};
}

std::string newRecordId() {
  static thread_local std::random_device random;
  std::uint8_t b[16];
  for (std::size_t i = 0; i < sizeof b; i += 4) {
    const std::uint32_t r = random();
    for (std::size_t k = 0; k < 4; ++k) b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0f) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3f) | 0x80);  // the RFC's variant
  char text[37];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

std::string reportLine(const JobResult& job, const ImageFacts* image, int intervalMs, const std::string& host,
                       const SetUpBy& setUp, const std::string& id) {
  nlohmann::ordered_json j;
  if (!id.empty()) j["id"] = id;
  j["start"] = timestamp(job.started, Zone::Utc);
  j["end"] = timestamp(job.ended, Zone::Utc);
  j["port"] = job.port;
  j["node"] = job.node;
  j["adapter"] = adapterObject(job.adapter);
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
  if (!setUp.station.empty()) j["station"] = setUp.station;
  if (!setUp.line.empty()) j["line"] = setUp.line, j["line_sha256"] = setUp.sha256;
  // Bytes that are not UTF-8 (a device's name, say) are replaced, not fatal.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ProductionRecord::append(const JobResult& job, const ImageFacts* image, int intervalMs, FileError* error) {
  const std::string line = reportLine(job, image, intervalMs, hostName(), setUp_, newRecordId()) + "\n";
  std::lock_guard lock(mu_);
  if (file_->append(line, error)) {
    if (onRecorded) onRecorded(file_->end(), line);
    return true;
  }
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
