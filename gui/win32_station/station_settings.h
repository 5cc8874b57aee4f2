#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "production/interval.h"
#include "production/station_settings.h"

// What a station starts with: the line's settings, from the command line or
// from the last run, kept per user in the registry.
namespace isp::win32 {

struct StationSettings {
  std::string file{};                // UTF-8, as every string here
  std::vector<std::string> ports{};  // COMn names or device paths, or "all"
  std::string report{};              // the one report file; empty: a file per day in reportFolder
  int intervalMs = production::kDefaultIntervalMs;
  std::string reportFolder{};  // empty with no report: the default folder
  // Kept values that cannot be used: shown, and no start until corrected.
  production::SettingProblems problems = {};
};

// The last run's settings under HKEY_CURRENT_USER, each value read as text
// and judged by the production layer: defaults where there are none.
StationSettings rememberedSettings();
// Kept for the next run: the report's folder or its one file, as a whole
// path. Nothing, or why not.
std::string remember(const StationSettings& settings);

// The window's place when it last closed, if it was kept.
std::optional<WINDOWPLACEMENT> rememberedPlacement();
void rememberPlacement(const WINDOWPLACEMENT& placement);

// Where the report goes unless told otherwise: one file a day in
// %LOCALAPPDATA%\isp-programmer\reports.
std::string defaultReportFolder();

}  // namespace isp::win32
