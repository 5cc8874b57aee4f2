// The settings a station window keeps from one run to the next, judged
// without a window: what each kept value gives, and what cannot be used.
#include <gtest/gtest.h>

#include "production/station_settings.h"

namespace isp::test {
namespace {

using production::Setting;

// Each kept value as its storage gives it, as text: what the window starts
// with, and the problem it shows (one word of it here) when the value
// cannot be used; that value then stands at its default.
TEST(StationSettings, KeptValuesAndWhatCannotBeUsed) {
  using Ports = std::vector<std::string>;
  const struct {
    production::KeptValues kept;
    Ports ports;
    std::string folder, file;
    int intervalMs;
    std::map<Setting, std::string> problems;  // a part of each problem's words
  } cases[] = {
      {{}, {}, "", "", 250, {}},
      {{.ports = Ports{"com5", "5", "/dev/ttyUSB0", "all", ""}, .interval = "0010"},
       {"COM5", "/dev/ttyUSB0", "all"},
       "",
       "",
       10,
       {}},
      {{.ports = Ports{"COM5", "COM21", "x\ty"}}, {"COM5"}, "", "", 250, {{Setting::Ports, "«COM21», «x\\x09y»"}}},
      {{.reportFolder = "/srv/line"}, {}, "/srv/line", "", 250, {}},
      {{.reportFolder = "", .reportFile = "/srv/line.jsonl"}, {}, "", "/srv/line.jsonl", 250, {}},
      {{.reportFile = "line.jsonl"}, {}, "", "", 250, {{Setting::Report, "«line.jsonl»"}}},
      {{.reportFolder = "/srv", .reportFile = "/srv/a.jsonl"}, {}, "", "", 250, {{Setting::Report, "и папка"}}},
      {{.interval = "60000"}, {}, "", "", 60000, {}},
      {{.interval = "abc"}, {}, "", "", 250, {{Setting::Interval, "«abc»"}}},
      {{.interval = "99999"}, {}, "", "", 250, {{Setting::Interval, "«99999»"}}},
      {{.interval = "0x10"}, {}, "", "", 250, {{Setting::Interval, "от 0 до 60000 мс"}}},
  };
  int i = 0;
  for (const auto& c : cases) {
    const production::KeptSettings s = production::readKept(c.kept);
    EXPECT_EQ(s.ports, c.ports) << i;
    EXPECT_EQ(s.report.folder, c.folder) << i;
    EXPECT_EQ(s.report.file, c.file) << i;
    EXPECT_EQ(s.intervalMs, c.intervalMs) << i;
    EXPECT_EQ(s.problems.size(), c.problems.size()) << i;
    for (const auto& [setting, part] : c.problems)
      EXPECT_NE(s.problems.count(setting) ? s.problems.at(setting).find(part) : std::string::npos, std::string::npos)
          << i << ": " << production::problemWords(s.problems);
    ++i;
  }
}

// A place kept from the last run is held within the screen as it is now.
TEST(StationSettings, APlaceOnTheScreen) {
  using P = production::Place;
  const P screen{0, 30, 1280, 994};
  const struct {
    P kept, now;
  } cases[] = {
      {{100, 100, 800, 600}, {100, 100, 800, 600}},  // inside: as kept
      {{1900, -50, 800, 600}, {480, 30, 800, 600}},  // off a screen now gone: moved in
      {{-10, 0, 2560, 1440}, {0, 30, 1280, 994}},    // larger than the screen: its size
      {{100, 100, 0, 600}, {0, 30, 1280, 994}},      // no size: the whole free area
  };
  for (const auto& c : cases) {
    const P p = production::keptWithin(c.kept, screen);
    EXPECT_EQ((std::tuple{p.x, p.y, p.width, p.height}), (std::tuple{c.now.x, c.now.y, c.now.width, c.now.height}))
        << c.kept.x << "," << c.kept.y;
  }
}

}  // namespace
}  // namespace isp::test
