// The station in process: each device programmed once as it comes, a board
// swapped on a jig always programmed, and why a waiting port waits.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

#include "link/result_codes.h"
#include "production/line_run.h"
#include "production/station.h"
#include "programming/sha256.h"
#include "serial/posix/serial_posix.h"
#include "sim/device.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_port.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;

// What a station tells its observer of each port, in short: one letter a
// state (Waiting, Identifying, Programming, Completed, Failed, Gone), a
// run of Programming as one letter; any record count out of order as '!'.
// Each wait's reason and words are kept too; `also` hears every state, on
// the port's own thread, as it is told.
struct StateLetters final : production::StationObserver {
  void changed(const production::PortState& s) override {
    if (also) also(s);
    std::lock_guard lock(mu);
    std::string& seen = byPort[s.port];
    if (s.kind == production::PortState::Programming && s.records <= records[s.port]) seen += '!';
    records[s.port] = s.kind == production::PortState::Programming ? s.records : 0;
    const bool completed = s.kind == production::PortState::Ended && s.outcome == Outcome::Completed;
    if (s.kind != production::PortState::Programming || !seen.ends_with('P')) seen += completed ? 'C' : "WIPFG"[s.kind];
    if (s.kind == production::PortState::Waiting) waits[s.port].push_back(s);
  }
  std::string of(const std::string& port) {
    std::lock_guard lock(mu);
    return byPort[port];
  }
  std::function<void(const production::PortState&)> also;
  std::mutex mu;
  std::map<std::string, std::string> byPort;
  std::map<std::string, int> records;
  std::map<std::string, std::vector<production::PortState>> waits;
};

// What a station says of what it does, line by line; its notes are not
// this test's subject.
struct LinesSeen final : production::StationLines {
  void line(const std::string& text) override {
    std::lock_guard lock(mu);
    lines += text + "\n";
  }
  void note(const std::string&) override {}
  std::mutex mu;
  std::string lines;
};

// A station on ports of the test's own: links that the stand-ins put in
// place and take away, as adapters come and go.
class Station : public testing::Test {
 protected:
  Station() {
    std::string lines;
    loaded_.choose(file_, lines);
    EXPECT_TRUE(loaded_.makeReady(lines));
  }
  ~Station() override { stopStation(); }

  std::string at(const char* name) const { return (dir_.path() / name).string(); }
  void startStation(std::vector<PortTarget> ports, milliseconds poll,
                    decltype(production::StationSetup::platformFor) platformFor = production::platformFor) {
    production::StationSetup setup{.ports = std::move(ports), .platformFor = std::move(platformFor)};
    setup.stop = stop_.get_token();
    setup.period = 0ms;
    setup.poll = setup.look = poll;
    setup.stay = std::min(poll, production::kStayPeriod);
    setup.observer = &states_;
    setup.lines = &lines_;
    station_ = std::make_unique<production::Station>(std::move(setup), loaded_, facts_, nullptr);
    watching_ = std::thread([this] { results_ = station_->run(); });
  }
  // Stops the station; the lines it said.
  std::string stopStation() {
    if (!watching_.joinable()) return {};
    stop_.request_stop();
    watching_.join();
    return lines_.lines;
  }
  // A device plugged in, once the station has programmed it: its last reply
  // read, not only its image in place (an unplug then would take the reply with it).
  std::unique_ptr<sim::Simulator> plugIn(const std::string& at, const std::string& name = "ISP SIM-1") {
    auto device = startSimulator({.device = {.identText = name}, .linkPath = at});
    EXPECT_TRUE(waitFor([&] { return device->image() == image_ && states_.of(at).ends_with('C'); })) << at;
    return device;
  }

  TempDir dir_;
  const std::vector<std::uint8_t> image_ = sampleImage();
  const std::string file_ = dir_.write("fw.isp", image_);
  FirmwareImage loaded_;
  LinesSeen lines_;
  const production::ImageFacts facts_{file_, image_.size(), sha256Hex(image_)};
  std::stop_source stop_;
  StateLetters states_;
  std::unique_ptr<production::Station> station_;
  std::vector<production::JobResult> results_;
  std::thread watching_;
};

// A device is programmed once as it comes, and again once its adapter was
// unplugged and plugged in again; one that stays is left alone.
TEST_F(Station, EachDeviceOnceAsItComes) {
  const std::string a = at("ttyA");
  startStation({{a, 0}}, 20ms);
  auto first = plugIn(a);
  first.reset();  // unplugged
  first = plugIn(a, "ISP SIM-2");
  std::this_thread::sleep_for(300ms);  // answering all along: not programmed again
  const std::string out = stopStation();
  ASSERT_EQ(results_.size(), 2u);
  for (const auto& r : results_) EXPECT_EQ(r.result, Outcome::Completed) << r.port;
  EXPECT_TRUE(holds(out, "\n" + a + " SIM-2 completed in "));
  EXPECT_TRUE(holds(out, "  (2 completed, 0 failed)\n"));
  // Unplugged and plugged in again between two polls, the port may not be
  // seen waiting in between.
  EXPECT_TRUE(std::regex_match(states_.of(a), std::regex("W?IPCGW?IPC"))) << states_.of(a);
}

// A device is identified once a turn: the poll that finds it is the
// transfer's identification, so the tile, the station's line and the
// record name the one answer, even from a device that would answer the
// next question otherwise; and the port, by the name the user gave it.
TEST_F(Station, OneIdentificationPerTurn) {
  const std::string a = at("ttyOnce");
  std::atomic<bool> renamed = false;
  sim::Simulator* device = nullptr;
  auto jig = startSimulator({.device = {.identText = "ISP SIM-A"}, .linkPath = a, .verbose = true},
                            [&](const std::string& line) {
                              if (line == "frame" && device && !renamed.exchange(true))
                                device->arm({.identText = "ISP SIM-B"});
                            });
  device = jig.get();
  startStation({{"5", 5}}, 20ms, [&](const PortTarget&) -> std::unique_ptr<SerialPlatform> {
    return std::make_unique<PosixSerialPlatform>(PortMap().set(5, a));
  });
  ASSERT_TRUE(waitFor([&] { return states_.of("5").find('C') != std::string::npos; })) << states_.of("5");
  const std::string out = stopStation();
  ASSERT_FALSE(results_.empty());
  EXPECT_EQ(std::pair(results_[0].port, results_[0].device), std::pair(std::string("5"), std::string("SIM-A")));
  EXPECT_TRUE(std::regex_search(out, std::regex("(^|\n)5 SIM-A completed in "))) << out;
}

// Noise is asked again: a single damaged, late or missing poll reply from
// a board that stays costs no transfer, while a board off its jig for 0.3 s,
// however the gap falls between polls, is taken for a new one even under
// the same name, and one that gives another name at once is too.
TEST_F(Station, NoiseIsAskedAgainAShortSwapIsNot) {
  const std::string noisy = at("ttyNoisy"), swapped = at("ttySwapped"), renamed = at("ttyRenamed");
  startStation({{noisy, 0}, {swapped, 0}, {renamed, 0}}, production::kPollPeriod);
  auto noise = plugIn(noisy);
  auto jig = plugIn(swapped);
  auto other = plugIn(renamed);
  const sim::DeviceOptions glitches[] = {
      {.badChecksumAt = sim::kAtIdentify},
      {.delayAt = sim::kAtIdentify, .delay = 200ms},
      {.partialAt = sim::kAtIdentify},
  };
  constexpr int kSwaps = 4;
  for (int k = 0; k < kSwaps; ++k) {
    // A glitch about every seventh poll, the swaps at phases that drift against the polls.
    for (int g = 0; g < 2; ++g) {
      noise->arm(glitches[(k + g) % std::size(glitches)]);
      std::this_thread::sleep_for(7 * production::kStayPeriod);
    }
    jig->arm({.silent = true});
    other->arm({.identText = "ISP SIM-" + std::to_string(k + 2)});
    std::this_thread::sleep_for(300ms);
    jig->arm({});
    std::this_thread::sleep_for(std::chrono::milliseconds(37 * k));
    for (const std::string& port : {swapped, renamed})
      ASSERT_TRUE(waitFor([&] {
        const std::string seen = states_.of(port);
        return std::count(seen.begin(), seen.end(), 'C') == k + 2;
      })) << "swap "
          << k << ": " << states_.of(port);
  }
  stopStation();
  EXPECT_TRUE(std::regex_match(states_.of(noisy), std::regex("W?IPC")))
      << "a glitch taken for a new board: " << states_.of(noisy);
}

// A device that stops answering for good in the middle of its transfer
// proves nothing of what answers next: a board that answers the next poll
// under the same name is programmed, not taken for the one that failed.
TEST_F(Station, ATransferWhoseDeviceWentSilentIsNotDone) {
  const std::string s = at("ttyS");
  auto jig = startSimulator({.linkPath = s});
  bool silenced = false;
  states_.also = [&](const production::PortState& state) {
    if (state.kind == production::PortState::Programming && state.records >= 20 && !std::exchange(silenced, true))
      jig->arm({.silent = true});
    if (state.kind == production::PortState::Ended) jig->arm({});  // the next board, the same name
  };
  startStation({{s, 0}}, 20ms);
  const std::regex programmedAgain("W?IPFG?IPC");
  const bool again = waitFor([&] { return std::regex_match(states_.of(s), programmedAgain); }, 10s);
  std::this_thread::sleep_for(200ms);  // ten polls more, answered: not programmed a third time
  const std::string out = stopStation();
  EXPECT_TRUE(again) << out;
  EXPECT_TRUE(std::regex_match(states_.of(s), programmedAgain)) << states_.of(s);
  ASSERT_EQ(results_.size(), 2u);
  EXPECT_EQ(std::pair(results_[0].result, results_[0].code), std::pair(Outcome::NotCompleted, rc::kNoReply));
  EXPECT_EQ(jig->image(), image_);
}

// Why a port waits, each reason told once (not every poll) to the observer
// and as a line of its own, until something else happens.
TEST_F(Station, AWaitingPortSaysWhy) {
  using R = production::WaitReason;
  const std::string file = dir_.write("plainFile", {1, 2, 3});
  auto silent = startSimulator({.device = {.silent = true}});
  auto notReady = startSimulator({.device = {.notReady = true}});
  auto damaged = startSimulator({.device = {.badChecksumAt = sim::kAtIdentify}});
  auto held = startSimulator();
  const std::string lockDir = dir_.path().string();
  const OpenResult holder =
      PosixSerialPlatform(PortMap().set(1, held->path()), "/sys", lockDir).open(PortTarget::com(1));
  ASSERT_TRUE(holder.port);
  // A device that hung up while its node stays: the line is there, nothing answers.
  const std::string hungUp = at("ttyHungUp");
  // The port, why it waits, part of what the system or device said, and the
  // station's words for it ("{}": all of what was said).
  const std::tuple<std::string, R, std::string, std::string> cases[] = {
      {at("ttyNone"), R::NoAdapter, " does not exist", "no adapter ({})"},
      {file, R::CannotOpen, file + " is not a serial port", "the port cannot be opened: {}"},
      {held->path(), R::Held, "in use by another program (PID " + std::to_string(::getpid()) + ")",
       "held by another program: {}"},
      {notReady->path(), R::NotInProgrammingMode, "APP SIM-1",
       "a device answers but is not in programming mode: \"APP SIM-1\""},
      {damaged->path(), R::DamagedReplies, "", "the device's replies are damaged (code 257)"},
      {silent->path(), R::NoAnswer, "", "nothing answers"},
      {hungUp, R::NoAnswer, "", "nothing answers"},
  };
  std::vector<PortTarget> ports;
  for (const auto& [port, reason, detail, words] : cases) ports.push_back({port, 0});
  startStation(ports, 20ms, [&](const PortTarget& t) -> std::unique_ptr<SerialPlatform> {
    if (t.name != hungUp) return std::make_unique<PosixSerialPlatform>(PortMap(), "/sys", lockDir);
    auto line = std::make_unique<ScriptedPlatform>();
    line->presentPorts = {0};
    line->disconnectOnRead = true;
    return line;
  });
  const bool programmed = waitFor([&] { return states_.of(damaged->path()).ends_with('C'); });
  std::this_thread::sleep_for(200ms);  // ten polls more
  const std::string out = stopStation();
  EXPECT_TRUE(programmed) << out;
  for (const auto& [port, reason, detail, words] : cases) {
    SCOPED_TRACE(port);
    const std::vector<production::PortState>& waits = states_.waits[port];
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].reason, reason);
    EXPECT_TRUE(holds(waits[0].detail, detail));
    EXPECT_EQ(waits[0].status.holder, reason == R::Held ? ::getpid() : 0) << "the facts a window words";
    std::string line = port + " waiting: " + words + "\n";
    if (const std::size_t said = line.find("{}"); said != std::string::npos) line.replace(said, 2, waits[0].detail);
    EXPECT_TRUE(holds(out, line));
    EXPECT_EQ(out.find(line), out.rfind(line)) << "said more than once: " << line;
  }
  EXPECT_EQ(states_.waits[damaged->path()][0].code, rc::kBadReply);
  EXPECT_EQ(results_.size(), 1u) << "only the damaged reply's device, once its replies were whole";
}

// A window's line refuses to start, in the window's words, before any
// device is touched: no image, one that cannot be programmed, no port, one
// device under two names, the firmware file as the report (by a link).
TEST(LineRun, RefusedBeforeAnyDevice) {
  TempDir dir;
  const std::string link = (dir.path() / "nullLink").string(), r = (dir.path() / "r.jsonl").string();
  std::filesystem::create_symlink("/dev/null", link);
  const std::string firmware = dir.write("fw.isp", sampleImage()), toFirmware = (dir.path() / "fw.jsonl").string();
  std::filesystem::create_symlink(firmware, toFirmware);
  using Image = std::shared_ptr<const production::ImageFile>;
  const Image whole = production::readImageFile(firmware),
              shortFile = production::readImageFile(dir.write("short.isp", {1}));
  const std::tuple<Image, std::vector<production::PortEntry>, std::string, std::string> cases[] = {
      {nullptr, {{"/dev/null"}}, r, "Нет файла программы"},
      {shortFile, {{"/dev/null"}}, r, "Файл не подходит: в нём нет 66690 байт"},
      {whole, {}, r, "Не выбран ни один порт"},
      {whole, {{"/dev/null"}, {link}}, r, "Одно устройство выбрано под двумя именами: /dev/null и " + link},
      {whole, {{"/dev/null"}}, toFirmware, "Файл отчёта — это файл программы: " + toFirmware},
  };
  for (const auto& [image, ports, report, says] : cases) {
    std::string why;
    EXPECT_FALSE(production::LineRun::start({.ports = ports, .report = report}, image, &why));
    EXPECT_EQ(why, says);
  }
  EXPECT_EQ(std::filesystem::file_size(firmware), sampleImage().size());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "r.jsonl"));
}

}  // namespace
}  // namespace isp::test
