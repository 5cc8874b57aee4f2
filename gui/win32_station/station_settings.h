#pragma once
#include <optional>
#include <string>
#include <vector>

#include "production/interval.h"

// What a station starts with: the line's settings, from the command line or
// from the last run, kept per user in the registry.
namespace isp::win32 {

struct StationSettings {
  std::string file;                // UTF-8, as every string here
  std::vector<std::string> ports;  // COMn names or device paths, or "all"
  std::string report;              // the report's file
  int intervalMs = production::kDefaultIntervalMs;
};

// The last run's settings under HKEY_CURRENT_USER; defaults where there are
// none, and where what is there is not what this program wrote.
StationSettings rememberedSettings();
// Kept for the next run: the report's folder, not its file (each day has a
// file of its own). Nothing, or why not.
std::string remember(const StationSettings& settings);

// Where the report goes unless told otherwise: one file a day under
// %LOCALAPPDATA%\isp-programmer\reports.
std::string defaultReport();
// The report's file for today in `folder`.
std::string reportIn(const std::string& folder);
// The folder a path is in.
std::string folderOf(const std::string& path);

}  // namespace isp::win32
