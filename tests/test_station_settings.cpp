// A station window's rules without a window: the settings it keeps from
// one run to the next and what cannot be used, its command line over them,
// and the control that starts, draws, stops and ends the line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "production/station_command_line.h"
#include "production/station_control.h"
#include "production/station_settings.h"
#include "programming/sha256.h"
#include "serial/posix/serial_posix.h"
#include "tests/support/fixtures.h"
#include "tests/support/station_screen.h"

namespace isp::test {
namespace {

using production::Setting;

// A station's settings in one line, each problem by the setting it is of.
std::string summary(const production::KeptSettings& s) {
  std::string text = "file=" + s.file + " ports=";
  for (const std::string& p : s.ports) text += p + ",";
  text += " folder=" + s.report.folder + " report=" + s.report.file + " ms=" + std::to_string(s.intervalMs);
  text += " problems=" + std::string(s.problems.empty() ? "none" : "");
  for (const auto& [setting, words] : s.problems) text += "PRI"[static_cast<int>(setting)];
  return text;
}

// Each kept value as its storage gives it, as text: what the window starts
// with, and the problem it shows (one part of its words here) when the
// value cannot be used; that value then stands at its default.
TEST(StationSettings, KeptValuesAndWhatCannotBeUsed) {
  using Ports = std::vector<std::string>;
  const std::tuple<production::KeptValues, std::string, std::string> cases[] = {
      {{}, "ports= folder= report= ms=250 problems=none", ""},
      {{.ports = Ports{"com5", "5", "/dev/ttyUSB0", "all", ""}, .interval = "0010"},
       "ports=COM5,/dev/ttyUSB0,all, folder= report= ms=10 problems=none",
       ""},
      {{.ports = Ports{"COM5", "COM21", "x\ty", "ALL"}},
       "ports=COM5, folder= report= ms=250 problems=P",
       "«COM21», «x\\x09y», «ALL»"},
      {{.reportFolder = "/srv/line"}, "ports= folder=/srv/line report= ms=250 problems=none", ""},
      {{.reportFolder = "", .reportFile = "/srv/line.jsonl"},
       "ports= folder= report=/srv/line.jsonl ms=250 problems=none",
       ""},
      {{.reportFile = "line.jsonl"}, "ports= folder= report= ms=250 problems=R", "«line.jsonl»"},
      {{.reportFolder = "/srv", .reportFile = "/srv/a.jsonl"}, "ports= folder= report= ms=250 problems=R", "и папка"},
      {{.interval = "60000"}, "ports= folder= report= ms=60000 problems=none", ""},
      {{.interval = "abc"}, "ports= folder= report= ms=250 problems=I", "«abc»"},
      {{.interval = "99999"}, "ports= folder= report= ms=250 problems=I", "«99999»"},
      {{.interval = "0x10"}, "ports= folder= report= ms=250 problems=I", "от 0 до 60000 мс"},
  };
  for (const auto& [kept, settings, problem] : cases) {
    const production::KeptSettings s = production::readKept(kept);
    const std::string words = production::problemWords(s.problems);
    EXPECT_EQ(summary(s), "file= " + settings);
    EXPECT_TRUE(holds(words, problem));
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

// Both windows' command line over what was kept: a value given replaces
// the kept one and its problem; a wrong one ends the program with 2 before
// anything is touched, repeating what was given escaped.
TEST(StationSettings, TheCommandLineOverWhatWasKept) {
  using Args = std::vector<std::string>;
  const struct {
    Args args;
    std::string after;  // the settings after it, or the status and a part of the words
  } cases[] = {
      {{}, "file=kept ports=COM7, folder=/srv report= ms=250 problems=PRI"},
      {{"--file", "f", "--port", "5,/dev/ttyUSB0", "--start"},
       "file=f ports=COM5,/dev/ttyUSB0, folder=/srv report= ms=250 problems=RI start whole"},
      {{"--port=all", "--interval=0", "--report", "r.jsonl"},
       "file=kept ports=all, folder= report=r.jsonl ms=0 problems=none"},
      {{"--interval", "60001"}, "2: isp-station: --interval takes milliseconds from 0 to 60000"},
      {{"--interval", "0x10"}, "2: isp-station: --interval takes"},
      {{"--port", "COM21"}, "2: isp-station: --port takes"},
      {{"--port", "\x1b[2J"}, "\\x1b[2J"},
      {{"--file"}, "2: isp-station: --file needs a value"},
      {{"--start=yes"}, "2: isp-station: --start takes no value"},
      {{"--all"}, "2: isp-station: unknown option --all\n\nisp-station [--file FILE]"},
      {{"--help"}, "--interval MS  мс между блоками, 0-60000 (по умолчанию 250)"},
      {{"--line", "l.json", "--interval", "0"}, "2: isp-station: --interval excludes --line"},
      {{"--line", "/nowhere/l.json"}, "2: isp-station: line file /nowhere/l.json: "},
  };
  for (const auto& c : cases) {
    production::KeptSettings s{.file = "kept", .ports = {"COM7"}, .report = {.folder = "/srv"}};
    s.problems = {{Setting::Ports, "p"}, {Setting::Report, "r"}, {Setting::Interval, "i"}};
    Args args{"isp-station"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const production::StationCommandLine line = production::readStationCommandLine(args, s);
    const std::string got = line.exit ? std::to_string(*line.exit) + ": " + line.message
                                      : summary(s) + (line.start ? " start" : "") + (line.wholeSetUp ? " whole" : "");
    EXPECT_TRUE(holds(got, c.after));
    EXPECT_EQ(got.find('\x1b'), std::string::npos) << got;
  }
}

// What a window keeps is what it reads at the next run, its paths whole.
TEST(StationSettings, KeptAndReadBack) {
  struct Map final : production::SettingsStore {
    std::map<std::string, std::vector<std::string>> values;
    std::optional<std::string> text(const char* k) override {
      return values.count(k) ? std::optional(values[k].at(0)) : std::nullopt;
    }
    std::optional<std::vector<std::string>> list(const char* k) override {
      return values.count(k) ? std::optional(values[k]) : std::nullopt;
    }
    void set(const char* k, const std::string& t) override { values[k] = {t}; }
    void set(const char* k, const std::vector<std::string>& l) override { values[k] = l; }
  } store;
  EXPECT_EQ(production::readKept(store).intervalMs, 250);  // a first run
  production::keep(
      store, {.file = "/fw.isp", .ports = {"COM5", "/dev/ttyUSB0"}, .report = {.file = "r.jsonl"}, .intervalMs = 40});
  EXPECT_EQ(summary(production::readKept(store)), "file=/fw.isp ports=COM5,/dev/ttyUSB0, folder= report=" +
                                                      (std::filesystem::current_path() / "r.jsonl").string() +
                                                      " ms=40 problems=none");
}

// A line from its set-up to the program's end. A kept value that cannot be
// used holds the line until it is changed. "all" is every port there is
// and each that appears later: chosen while the set-up shows, its tile
// shown while the line runs; kept as "all" until the operator chooses.
// News is drawn at most once a frame; the window goes with the status it
// was asked for, once the line has ended. The firmware file replaced on
// disk while the line runs is said, and read anew at the next start.
TEST(StationControl, ALineFromItsSetUpToTheEnd) {
  TempDir dir;
  FakeClock clock;
  Screen screen;
  const auto node = [&](int n) { return (dir.path() / ("tty" + std::to_string(n))).string(); };
  production::StationControl control(
      screen,
      {.file = dir.write("fw.isp", sampleImage()),
       .ports = {"all"},
       .report = {.file = node(0)},
       .problems = {{Setting::Interval, "kept interval"}}},
      {.platform = [&] { return std::make_unique<PosixSerialPlatform>(PortMap().set(9, node(9)).set(10, node(10))); },
       .clock = &clock});
  EXPECT_TRUE(control.settings().ports.empty());
  dir.write("tty9", {});
  clock.advance(production::kPortsPeriod);
  control.tick();
  EXPECT_EQ(control.settings().ports, std::vector<std::string>{"COM9"});
  EXPECT_EQ(control.kept().ports, std::vector<std::string>{"all"});
  EXPECT_FALSE(control.start());
  EXPECT_TRUE(screen.saw("alarm Сохранённые настройки не подходят"));
  control.typeInterval("250");  // as the field already shows: no change
  control.typeInterval("6000x");
  EXPECT_TRUE(screen.saw("kept Интервал между блоками: от 0 до 60000 мс"));
  control.typeInterval("0");
  ASSERT_TRUE(control.start()) << screen.told.back();
  const std::string first = screen.firmware;
  dir.write("fw.isp", sampleImage(66700, 2));
  control.tick();
  EXPECT_TRUE(screen.saw("changed "));
  control.woken();
  EXPECT_EQ(screen.told.back(), "draw in 40");
  const auto until = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
      std::this_thread::sleep_for(milliseconds(10));
      clock.advance(production::kFramePeriod);
      control.woken();
    }
    return done();
  };
  const auto shown = [&] {
    std::string names;
    for (const production::Tile& t : control.view()->tiles()) names += t.shown ? t.port + " " : "";
    return names;
  };
  const production::Tile& ten = control.view()->tiles().at(9);  // after COM9, the table in order
  ASSERT_EQ(ten.port, "COM10");
  EXPECT_TRUE(until([&] { return ten.kind == production::TileKind::NoAdapter; }));
  EXPECT_EQ(shown(), "COM9 ");
  dir.write("tty10", {});
  EXPECT_TRUE(until([&] { return shown() == "COM9 COM10 "; })) << shown();
  control.stopAndQuit(143);
  for (int i = 0; i < 500 && !screen.lineEnded; ++i) std::this_thread::sleep_for(milliseconds(10));
  control.ended();
  EXPECT_FALSE(control.running());
  EXPECT_EQ(screen.told.back(), "end 143");
  EXPECT_TRUE(screen.saw("status Станция остановлена"));
  control.choosePort("COM9", false);
  EXPECT_EQ(control.kept().ports, std::vector<std::string>{"COM10"});
  ASSERT_TRUE(control.start());
  EXPECT_NE(screen.firmware, first);
}

// The engineer saves the set-up as a line; run from it, the set-up is the
// line's and nothing changes it, every report line names the line, and
// only the firmware the line was set up with is programmed.
TEST(StationControl, ALineItsEngineerSetUpAndItsOperatorsRun) {
  TempDir dir;
  Screen screen;
  const std::string d = (dir.path() / "D").string(), lineFile = (dir.path() / "Линия 3.json").string();
  const auto image = sampleImage();
  {
    production::StationControl engineer(
        screen, {.file = dir.write("fw.isp", image), .ports = {d}, .report = {.folder = dir.path()}, .intervalMs = 0},
        {});
    ASSERT_TRUE(engineer.saveLine(lineFile)) << screen.told.back();
    if (::geteuid() == 0) {  // another user's file is theirs to keep
      const std::string theirs = dir.write("theirs.json", {'{', '}'});
      ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
      EXPECT_FALSE(engineer.saveLine(theirs));
      EXPECT_TRUE(holds(screen.told.back(), "alarm Линия не сохранена: " + theirs + ": ")) << screen.told.back();
      EXPECT_EQ(contents(theirs), "{}");
    }
  }
  production::KeptSettings ignored{.file = "other.isp", .intervalMs = 500};
  production::StationCommandLine args =
      production::readStationCommandLine({"isp-station", "--line", lineFile}, ignored);
  ASSERT_TRUE(args.line) << args.message;
  EXPECT_EQ(args.line->name, "Линия 3");
  EXPECT_EQ(args.line->sha256, sha256Hex(image));
  EXPECT_EQ(args.line->ports, std::vector<std::string>{d});
  EXPECT_EQ(args.line->report, (dir.path() / "Линия 3.jsonl").string());

  bool kept = false;
  production::StationControl line(screen, ignored, {.line = std::move(args.line)});
  line.onStarted = [&](const production::KeptSettings&) { kept = true; };
  line.typeInterval("7");
  line.choosePort("COM5", true);
  line.chooseFile(dir.write("other.isp", sampleImage(66700, 2)));
  EXPECT_EQ(summary(line.settings()), "file=" + dir.path().string() + "/fw.isp ports=" + d +
                                          ", folder= report=" + line.line()->report + " ms=0 problems=none");
  auto device = startSimulator({.linkPath = d});
  ASSERT_TRUE(line.start()) << screen.told.back();
  for (int i = 0; i < 1000 && device->image() != image; ++i) std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(device->image(), image);
  // Replaced while the line runs: said, and refused at the next start.
  dir.write("fw.isp", sampleImage(66690, 3));
  line.tick();
  EXPECT_TRUE(screen.saw("changed Файл программы изменён на диске"));
  line.stopNow();
  line.ended();
  EXPECT_FALSE(line.start());
  EXPECT_EQ(screen.told.back(), "alarm Файл программы " + dir.path().string() + "/fw.isp имеет SHA-256 " +
                                    sha256Hex(sampleImage(66690, 3)) + ", а линия " + lineFile +
                                    " настроена на SHA-256 " + sha256Hex(image) + "; ничего не запрограммировано");
  EXPECT_FALSE(kept);
  const std::string report = contents(line.line()->report), set = contents(lineFile);
  const std::string setSum = sha256Hex({reinterpret_cast<const std::uint8_t*>(set.data()), set.size()});
  EXPECT_TRUE(holds(report, "\"line\":\"Линия 3\",\"line_sha256\":\"" + setSum + "\"")) << report;
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1);
}

}  // namespace
}  // namespace isp::test
