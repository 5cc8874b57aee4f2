#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "production/station_settings.h"

// A station window's settings kept per user in the registry.
namespace isp::win32 {

// The last run's settings under HKEY_CURRENT_USER, each value read as text
// and judged by the production layer: defaults where there are none.
production::KeptSettings rememberedSettings();
// Kept for the next run. Nothing, or why not.
std::string remember(const production::KeptSettings& settings);

// The window's place when it last closed, if it was kept.
std::optional<WINDOWPLACEMENT> rememberedPlacement();
void rememberPlacement(const WINDOWPLACEMENT& placement);

// Where the report goes unless told otherwise: one file a day in
// %LOCALAPPDATA%\isp-programmer\reports.
std::string defaultReportFolder();

}  // namespace isp::win32
