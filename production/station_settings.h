#pragma once
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "production/interval.h"
#include "production/publisher.h"

// A station window's settings as kept from one run to the next, the same
// rule in every window: each window reads its storage as text and writes it
// back; what is kept is judged here. A value that cannot be used is said,
// with why, and the line does not start until the operator corrects it.
namespace isp::production {

// The report: a folder with one file per local day, or one file the user named.
struct ReportPlace {
  std::string folder{};  // FOLDER/YYYY-MM-DD.jsonl; empty when the report is one file
  std::string file{};    // the one file, when there is no folder
};

// "FOLDER/2026-12-07.jsonl" (a backslash on Windows): the folder's file of the day.
std::string dayFileIn(const std::string& folder,
                      std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// What a kept value is for; a window drops a value's problem once the
// operator changes it, or the command line gives it anew.
enum class Setting { Ports, Report, Interval };
using SettingProblems = std::map<Setting, std::string>;

// All problems in words, one a line; empty when there is none.
std::string problemWords(const SettingProblems& problems);

// The values as the storage holds them, as text: nothing where a value is absent.
struct KeptValues {
  std::optional<std::string> file{};
  std::optional<std::vector<std::string>> ports{};
  std::optional<std::string> reportFolder{}, reportFile{}, interval{};
  std::optional<std::string> publish{}, publishCa{}, publishAuth{}, stationName{};
};

struct KeptSettings {
  std::string file{};
  std::vector<std::string> ports{};  // COMn names or device paths, each once; "all" as given
  ReportPlace report{};              // both empty: the window's default folder
  int intervalMs = kDefaultIntervalMs;
  PublishSetup publish{};      // no url: the record is not published
  SettingProblems problems{};  // what cannot be used, each with why; the value stands at its default
};

KeptSettings readKept(const KeptValues& kept);

// Where a window keeps its settings (a settings file, the registry), by
// key, as text: nothing where a value is absent.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> text(const char* key) = 0;
  virtual std::optional<std::vector<std::string>> list(const char* key) = 0;
  virtual void set(const char* key, const std::string& text) = 0;
  virtual void set(const char* key, const std::vector<std::string>& list) = 0;
};
KeptSettings readKept(SettingsStore& store);
// Every value written back, its paths whole, so that they mean the same at
// the next boot whatever folder the program starts in.
void keep(SettingsStore& store, const KeptSettings& settings);

// A window's place on the screen, in pixels.
struct Place {
  int x = 0, y = 0, width = 0, height = 0;
};

// A place kept from the last run, within the screen's free area now: no
// larger than it, moved inside it.
Place keptWithin(Place kept, const Place& screen);

}  // namespace isp::production
