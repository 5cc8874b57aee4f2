#include "production/line_file.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "production/publisher.h"
#include "programming/file_access.h"
#include "programming/sha256.h"
#include "serial/port_target.h"
#include "text/escape.h"
#include "text/utf8_path.h"

namespace isp::production {

namespace {

// An engineer's line is a few hundred bytes: a larger file is no line.
constexpr std::size_t kMostBytes = 64 * 1024;

using Json = nlohmann::json;

// A sum as sha256sum writes it, or in capitals as Windows' tools do.
bool isHex64(std::string& s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A path in the file means the same wherever the program starts: a
// relative one is taken from the line file's folder.
std::string fromFolderOf(const std::string& lineFile, const std::string& path) {
  const std::filesystem::path p = utf8Path(path);
  if (p.is_absolute()) return path;
  return utf8Of((utf8Path(lineFile).parent_path() / p).lexically_normal());
}

}  // namespace

std::optional<LineFile> readLineFile(const std::string& path, std::string* why) {
  const std::string at = "line file " + escapeControls(path) + ": ";
  const auto refuse = [&](const std::string& words) { return *why = at + words, std::nullopt; };
  std::string opened;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(openFile(path, "rb", &opened), std::fclose);
  if (!file) return refuse(opened);
  std::string bytes(kMostBytes + 1, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
  if (std::ferror(file.get())) return refuse("cannot be read");
  if (bytes.size() > kMostBytes) return refuse("larger than " + std::to_string(kMostBytes) + " bytes");

  // Keys of the object itself, each once: a second "sha256" must not
  // quietly stand for the first.
  std::set<std::string> keys;
  std::string twice;
  const Json json = Json::parse(
      bytes,
      [&](int depth, Json::parse_event_t event, Json& key) {
        if (event == Json::parse_event_t::key && depth == 1 && !keys.insert(key.get<std::string>()).second)
          twice = key.get<std::string>();
        return true;
      },
      false);
  if (json.is_discarded()) return refuse("not JSON");
  if (!json.is_object()) return refuse("not a JSON object");
  if (!twice.empty()) return refuse("\"" + escapeControls(twice) + "\" is given twice");

  static const std::set<std::string> known = {"name",   "firmware", "sha256",       "ports",
                                              "report", "publish",  "station_name", "interval_ms"};
  for (const auto& [key, value] : json.items())
    if (!known.count(key)) return refuse("unknown key \"" + escapeControls(key) + "\"");
  for (const char* key : {"name", "firmware", "sha256", "ports", "report"})
    if (!json.contains(key)) return refuse("\"" + std::string(key) + "\" is missing");

  LineFile line{.path = path};
  const auto text = [&](const char* key, std::string& out) {
    const Json& v = json.at(key);
    if (!v.is_string() || v.get<std::string>().empty()) return false;
    return out = v.get<std::string>(), true;
  };
  if (!text("name", line.name)) return refuse("\"name\" must be a text, not empty");
  if (!text("firmware", line.firmware)) return refuse("\"firmware\" must be a path");
  if (!text("report", line.report)) return refuse("\"report\" must be a path");
  if (!text("sha256", line.sha256) || !isHex64(line.sha256)) return refuse("\"sha256\" must be 64 hex digits");
  const Json& ports = json.at("ports");
  if (!ports.is_array() || ports.empty()) return refuse("\"ports\" must be a list of port names");
  for (const Json& p : ports) {
    std::string error;
    const bool every = p.is_string() && p.get<std::string>() == kEveryPort;
    if (!p.is_string() || (!every && (portList(p.get<std::string>(), &error), !error.empty())) ||
        p.get<std::string>().find(',') != std::string::npos || (every && ports.size() > 1))
      return refuse("\"ports\" must be a list of port names (COM5, 5, a device path) or [\"all\"]: " +
                    escapeControls(p.dump()));
    line.ports.push_back(p.get<std::string>());
  }
  std::string error;
  if (json.contains("interval_ms")) {
    const Json& ms = json.at("interval_ms");
    if (!ms.is_number_integer() || ms.get<long long>() < 0 || ms.get<long long>() > kMaxIntervalMs)
      return refuse("\"interval_ms\" must be a whole number from 0 to " + std::to_string(kMaxIntervalMs));
    line.intervalMs = static_cast<int>(ms.get<long long>());
  }
  if (json.contains("publish") && (!text("publish", line.publish) || !parseBroker(line.publish, &error)))
    return refuse("\"publish\" must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
  if (json.contains("station_name") &&
      (!text("station_name", line.stationName) || !goodStationName(line.stationName, &error)))
    return refuse("\"station_name\": " + error);
  line.firmware = fromFolderOf(path, line.firmware);
  line.report = fromFolderOf(path, line.report);
  line.fileSha256 = sha256Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  return line;
}

std::optional<std::string> lineFileText(const LineFile& line) {
  nlohmann::ordered_json json;
  json["name"] = line.name;
  json["firmware"] = line.firmware;
  json["sha256"] = line.sha256;
  json["ports"] = line.ports;
  json["interval_ms"] = line.intervalMs;
  json["report"] = line.report;
  if (!line.publish.empty()) json["publish"] = line.publish;
  if (!line.stationName.empty()) json["station_name"] = line.stationName;
  // Names as they are (UTF-8), not as \u escapes: the engineer reads the file.
  std::string text = json.dump(2, ' ', false, Json::error_handler_t::ignore);
  if (text != json.dump(2, ' ', false, Json::error_handler_t::replace)) return std::nullopt;  // bytes were dropped
  return text + "\n";
}

}  // namespace isp::production
