#include "production/station_settings.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "production/line_setup.h"
#include "production/station_words.h"
#include "programming/messages.h"
#include "text/decimal.h"
#include "text/utf8_path.h"

namespace isp::production {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// A path that means the same whatever the folder a program starts in.
bool whole(const std::string& path) {
#ifdef _WIN32
  const auto slash = [&](std::size_t i) { return path.size() > i && (path[i] == '\\' || path[i] == '/'); };
  return (path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && slash(2)) ||
         (slash(0) && slash(1));
#else
  return path.starts_with('/');
#endif
}

std::string quoted(const std::string& text) { return "«" + msg::escapeControls(text) + "»"; }

}  // namespace

std::string dayFileIn(const std::string& folder, std::chrono::system_clock::time_point now) {
  const bool ends = !folder.empty() && (folder.back() == kSeparator || folder.back() == '/');
  return folder + (ends ? "" : std::string(1, kSeparator)) + dailyReportName(now);
}

std::string problemWords(const SettingProblems& problems) {
  std::string text;
  for (const auto& [setting, words] : problems) text += (text.empty() ? "" : "\n") + words;
  return text;
}

KeptSettings readKept(const KeptValues& kept) {
  KeptSettings s;
  s.file = kept.file.value_or("");
  std::string badPorts;
  for (const std::string& given : kept.ports.value_or(std::vector<std::string>{})) {
    const std::string name = namesEveryPort(given) ? given : stationPortName(given);
    if (name.empty() && !given.empty())
      badPorts += (badPorts.empty() ? "" : ", ") + quoted(given);
    else if (!name.empty() && std::find(s.ports.begin(), s.ports.end(), name) == s.ports.end())
      s.ports.push_back(name);
  }
  if (!badPorts.empty())
    s.problems[Setting::Ports] = std::string(words::kKeptPorts) + badPorts + std::string(words::kKeptPortsWhy);

  const std::string folder = kept.reportFolder.value_or(""), file = kept.reportFile.value_or("");
  const std::string& path = file.empty() ? folder : file;
  if (!folder.empty() && !file.empty())
    s.problems[Setting::Report] = words::kKeptReportBoth;
  else if (!path.empty() && !whole(path))
    s.problems[Setting::Report] = std::string(words::kKeptReport) + quoted(path) + std::string(words::kKeptReportWhy);
  else
    s.report = {folder, file};

  if (kept.interval) {
    if (const auto ms = parseDecimal(*kept.interval, 0, kMaxIntervalMs))
      s.intervalMs = static_cast<int>(*ms);
    else
      s.problems[Setting::Interval] = std::string(words::kKeptInterval) + quoted(*kept.interval) +
                                      std::string(words::kKeptIntervalWhy) + std::to_string(kMaxIntervalMs) +
                                      std::string(words::kMs) + std::string(words::kKeptIntervalEnd);
  }
  s.publish = {kept.publish.value_or(""), kept.publishCa.value_or(""), kept.publishAuth.value_or(""),
               kept.stationName.value_or("")};
  return s;
}

KeptSettings readKept(SettingsStore& store) {
  return readKept({store.text("file"), store.list("ports"), store.text("reportFolder"), store.text("reportFile"),
                   store.text("interval"), store.text("publish"), store.text("publishCa"), store.text("publishAuth"),
                   store.text("stationName")});
}

void keep(SettingsStore& store, const KeptSettings& s) {
  // Made whole without looking: the report file may not be there yet.
  const auto whole = [](const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p =
        path.empty() ? std::filesystem::path() : std::filesystem::absolute(utf8Path(path), ec);
    return ec ? path : utf8Of(p);
  };
  store.set("file", s.file);
  store.set("ports", s.ports);
  store.set("reportFolder", whole(s.report.folder));
  store.set("reportFile", whole(s.report.file));
  store.set("interval", std::to_string(s.intervalMs));
  store.set("publish", s.publish.url);
  store.set("publishCa", whole(s.publish.caFile));
  store.set("publishAuth", whole(s.publish.authFile));
  store.set("stationName", s.publish.station);
}

Place keptWithin(Place kept, const Place& screen) {
  if (kept.width <= 0 || kept.height <= 0) return screen;
  kept.width = std::min(kept.width, screen.width);
  kept.height = std::min(kept.height, screen.height);
  kept.x = std::clamp(kept.x, screen.x, screen.x + screen.width - kept.width);
  kept.y = std::clamp(kept.y, screen.y, screen.y + screen.height - kept.height);
  return kept;
}

}  // namespace isp::production
