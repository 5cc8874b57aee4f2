#pragma once
#include <optional>
#include <string>
#include <vector>

#include "production/interval.h"

// A line as its engineer sets it up once, for its operators to run: one
// JSON object in a file, read the same way by every program of the line.
//   {"name": "Линия 3", "firmware": "/srv/isp/fw-1.2.isp",
//    "sha256": "<64 hex digits>", "ports": ["COM5", "COM6"],
//    "interval_ms": 250, "report": "/var/lib/isp-programmer/line3.jsonl",
//    "publish": "mqtt://broker.factory:1883", "station_name": "line3-a"}
namespace isp::production {

struct LineFile {
  std::string path{};  // the line file, as given
  std::string name{};
  std::string firmware{};            // taken from the line file's folder when relative
  std::string sha256{};              // of the firmware's bytes: 64 hex digits, made lower case
  std::vector<std::string> ports{};  // as written: COMn, n, device paths, or "all" alone
  int intervalMs = kDefaultIntervalMs;
  std::string report{};  // taken from the line file's folder when relative
  // Where the record is published, and the station's name there; both
  // may be left out (not published; the host's name).
  std::string publish{}, stationName{};
  std::string fileSha256{};  // of the line file's bytes: which set-up programmed a board
};

// The line file read and checked. Nothing, with why in *why (naming the
// file and the key at fault), when it cannot be read or is no line: not
// JSON, no object, a key twice, a key unknown or missing, a value of the
// wrong kind.
std::optional<LineFile> readLineFile(const std::string& path, std::string* why);

// The line file's text for a set-up, its keys in the order above: what
// readLineFile reads back. Nothing when a name or path is not UTF-8 (JSON
// holds nothing else, and a path made another would be another file).
std::optional<std::string> lineFileText(const LineFile& line);

}  // namespace isp::production
