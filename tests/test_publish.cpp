// The record published to a real broker (mosquitto on a loopback port of
// the test's own): every line once, in order, with its id; what waits while
// the broker is away goes first when it is back; nothing lost when it
// restarts mid-run; the secrets and TLS; the station's status and last will.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "production/publisher.h"
#include "production/record.h"
#include "production/station_control.h"
#include "tests/support/broker.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"
#include "tests/support/station_screen.h"

namespace isp::test {
namespace {

using namespace std::chrono_literals;
using production::BrokerState;
using production::Publisher;

// A record kept as a station keeps it, each line told to the publisher.
class Record {
 public:
  explicit Record(std::string path) : path_(std::move(path)) {
    production::FileError e;
    record_ = std::make_unique<production::ProductionRecord>(production::RecordFile::open(path_, &e),
                                                             production::SetUpBy{.station = "bench-1"});
  }
  void publishTo(Publisher* p) {
    record_->onRecorded = [p](const production::RecordFile::End& end, const std::string& line) {
      p->recorded(end, line);
    };
  }
  void add(int n, Outcome::Kind result = Outcome::Completed) {
    for (int i = 0; i < n; ++i) {
      production::FileError e;
      ASSERT_TRUE(record_->append({.port = "COM5", .device = "SIM-1", .result = result}, nullptr, 0, &e));
    }
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    const std::string text = contents(path_);
    for (std::size_t from = 0, nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
      out.push_back(text.substr(from, nl - from));
    return out;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<production::ProductionRecord> record_;
};

// Every state the publisher told.
struct States {
  std::mutex mu;
  std::vector<BrokerState> seen;
  std::function<void(const BrokerState&)> keep() {
    return [this](const BrokerState& s) {
      std::lock_guard lock(mu);
      seen.push_back(s);
    };
  }
  bool saw(const std::function<bool(const BrokerState&)>& like) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard lock(mu);
        for (const BrokerState& s : seen)
          if (like(s)) return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
};

std::unique_ptr<Publisher> publish(const std::string& url, const std::string& record, States& states,
                                   const std::string& ca = {}, const std::string& auth = {}) {
  std::string why;
  auto p = Publisher::start({.url = url, .caFile = ca, .authFile = auth, .station = "bench-1"}, {record}, states.keep(),
                            &why);
  EXPECT_TRUE(p) << why;
  return p;
}

std::vector<std::string> payloadsOn(const std::vector<Message>& got, const std::string& topic) {
  std::vector<std::string> out;
  for (const Message& m : got)
    if (m.topic == topic) out.push_back(m.payload);
  return out;
}

std::string idOf(const std::string& line) { return nlohmann::json::parse(line).value("id", ""); }

std::uint64_t sentOffset(const std::string& record) {
  return nlohmann::json::parse(contents(production::sentFileOf(record)))["offset"].get<std::uint64_t>();
}

// Lines published as they are recorded, an earlier run's never published
// ones first; the broker away: the lines wait, said with their number, and
// go first when it is back.
TEST(Publish, EveryLineOnceInOrderAndWhatWaitsGoesFirst) {
  TestBroker broker;
  Subscriber quality(broker.port(), "isp/#");
  TempDir dir;
  Record record((dir.path() / "r.jsonl").string());
  record.add(2);  // a run that did not publish
  States states;
  {
    auto p = publish(broker.url(), record.path(), states);
    record.publishTo(p.get());
    record.add(2);
    record.add(1, Outcome::NotCompleted);
    EXPECT_EQ(p->finish(10s), 0u);
  }
  const auto stopped = [](const std::vector<Message>& got) {
    const auto status = payloadsOn(got, "isp/bench-1/status");
    return payloadsOn(got, "isp/bench-1/record").size() >= 5 && !status.empty() &&
           holds(status.back(), R"("state":"stopped","completed":2,"failed":1,"stopped":0)");
  };
  ASSERT_TRUE(quality.waitFor(stopped)) << payloadsOn(quality.messages(), "isp/bench-1/status").back();
  const std::vector<std::string> published = payloadsOn(quality.messages(), "isp/bench-1/record");
  EXPECT_EQ(published, record.lines());
  std::set<std::string> ids;
  for (const std::string& line : published) ids.insert(idOf(line));
  EXPECT_EQ(ids.size(), 5u);
  EXPECT_EQ(sentOffset(record.path()), contents(record.path()).size());

  broker.stop();
  {
    auto p = publish(broker.url(), record.path(), states);
    record.publishTo(p.get());
    record.add(2);
    EXPECT_TRUE(states.saw([](const BrokerState& s) { return !s.reachable && s.queued == 2 && !s.why.empty(); }));
    EXPECT_EQ(p->finish(100ms), 2u);
  }
  broker.start();
  Subscriber after(broker.port(), "isp/+/record");
  {
    auto p = publish(broker.url(), record.path(), states);
    record.publishTo(p.get());
    record.add(1);
    EXPECT_EQ(p->finish(10s), 0u);
  }
  ASSERT_TRUE(after.waitFor([](const std::vector<Message>& got) { return got.size() >= 3; }));
  const std::vector<std::string> lines = record.lines();
  EXPECT_EQ(after.messages().size(), 3u);
  EXPECT_EQ(payloadsOn(after.messages(), "isp/bench-1/record"), std::vector<std::string>(lines.end() - 3, lines.end()));
}

// A broker stopped mid-run and started again with its persistence: every
// line of the record reaches a persistent subscriber; a line that came
// twice came with its own id and bytes.
TEST(Publish, NothingLostWhenTheBrokerRestarts) {
  TestBroker broker({.persistent = true});
  Subscriber quality(broker.port(), "isp/+/record", "quality");
  TempDir dir;
  Record record((dir.path() / "r.jsonl").string());
  States states;
  auto p = publish(broker.url(), record.path(), states);
  record.publishTo(p.get());
  for (int i = 0; i < 60; ++i) {
    record.add(1);
    std::this_thread::sleep_for(10ms);
    if (i == 20) broker.stop();
    if (i == 40) broker.start();
  }
  EXPECT_EQ(p->finish(20s), 0u);
  const std::vector<std::string> lines = record.lines();
  const std::set<std::string> all(lines.begin(), lines.end());
  ASSERT_TRUE(quality.waitFor([&](const std::vector<Message>& got) {
    std::set<std::string> seen;
    for (const Message& m : got) seen.insert(m.payload);
    return seen == all;
  })) << quality.messages().size()
      << " messages for " << lines.size() << " lines";
  for (const Message& m : quality.messages()) EXPECT_TRUE(all.count(m.payload)) << m.payload;
  EXPECT_TRUE(states.saw([](const BrokerState& s) { return !s.reachable; }));
}

// Credentials only from a file nobody else may read; TLS with a private
// authority; each wrong one keeps the lines waiting, with why.
TEST(Publish, SecretsAndTls) {
  TestBroker broker({.tls = true, .user = "line3", .password = "s3cret"});
  TempDir dir;
  const std::string right = dir.write("right", {}), wrong = dir.write("wrong", {});
  std::ofstream(right) << "line3\ns3cret\n";
  std::ofstream(wrong) << "line3\nguess\n";
  ::chmod(right.c_str(), 0644);
  std::string why;
  EXPECT_FALSE(Publisher::start({.url = broker.url(), .authFile = right, .station = "bench-1"}, {}, {}, &why));
  EXPECT_TRUE(holds(why, right + ": others may read it (mode 0644)")) << why;
  ::chmod(right.c_str(), 0600);
  ::chmod(wrong.c_str(), 0600);
  const std::string plain = "mqtt://127.0.0.1:" + std::to_string(broker.port());
  const struct {
    std::string url, ca, auth;
    bool arrives;
    std::string why;  // said while the line waits
  } cases[] = {
      {broker.url(), broker.caFile(), right, true, ""},
      {broker.url(), broker.caFile(), wrong, false, "not authorised"},
      {broker.url(), "", right, false, ""},  // the system's authorities do not know ours
      {plain, "", right, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + " " + c.ca + " " + c.auth);
    Record record((dir.path() / "r.jsonl").string());
    States states;
    auto p = publish(c.url, record.path(), states, c.ca, c.auth);
    record.publishTo(p.get());
    record.add(1);
    EXPECT_EQ(p->finish(c.arrives ? 10s : 1s), c.arrives ? 0u : 1u);
    if (!c.why.empty()) {
      EXPECT_TRUE(states.saw([&](const BrokerState& s) { return holds(s.why, c.why); }));
    }
    std::filesystem::remove(record.path());
    std::filesystem::remove(production::sentFileOf(record.path()));
  }
}

// isp-flash's status retained while the station runs, and the broker's
// last will when it vanishes.
TEST(Publish, TheStationsStatusAndLastWill) {
  TestBroker broker;
  Subscriber status(broker.port(), "isp/+/status");
  TempDir dir;
  const std::string fw = dir.write("fw.isp", sampleImage()), report = (dir.path() / "r.jsonl").string();
  const std::vector<std::string> base = {ISP_FLASH_PATH, "--port", (dir.path() / "absent").string(), "--file", fw};
  std::vector<std::string> station = base;
  station.insert(station.end(),
                 {"--station", "--report", report, "--publish", broker.url(), "--station-name", "line-7"});
  const auto last = [&](const char* state) {
    return status.waitFor([&](const std::vector<Message>& got) {
      const auto said = payloadsOn(got, "isp/line-7/status");
      return !said.empty() && holds(said.back(), std::string("\"state\":\"") + state + "\"");
    });
  };
  runProgram(station, [&](pid_t pid) {
    EXPECT_TRUE(last("running"));
    ::kill(pid, SIGKILL);
  });
  EXPECT_TRUE(last("offline"));
  runProgram(station, [&](pid_t pid) {
    EXPECT_TRUE(last("running"));
    ::kill(pid, SIGTERM);
  });
  EXPECT_TRUE(last("stopped"));
  // Retained: a subscriber that comes later is told at once.
  Subscriber later(broker.port(), "isp/line-7/status");
  EXPECT_TRUE(later.waitFor([](const std::vector<Message>& got) { return !got.empty() && got.back().retained; }));
}

// A station window is told how the publishing stands: the broker away with
// the lines that wait, then every line sent once it is back.
TEST(Publish, AWindowSaysHowThePublishingStands) {
  TestBroker broker;
  broker.stop();
  TempDir dir;
  Screen screen;
  const std::string d = (dir.path() / "D").string();
  production::StationControl control(screen,
                                     {.file = dir.write("fw.isp", sampleImage()),
                                      .ports = {d},
                                      .report = {.file = (dir.path() / "r.jsonl").string()},
                                      .intervalMs = 0,
                                      .publish = {.url = broker.url(), .station = "bench-1"}},
                                     {});
  auto device = startSimulator({.linkPath = d});
  ASSERT_TRUE(control.start()) << screen.told.back();
  const auto until = [&](const std::string& words) {
    for (int i = 0; i < 1500 && !screen.saw(words); ++i) {
      std::this_thread::sleep_for(10ms);
      control.woken();
    }
    return screen.saw(words);
  };
  EXPECT_TRUE(until("broker Брокер недоступен, строк в очереди: 1"));
  broker.start();
  EXPECT_TRUE(until("broker Брокер: все строки отчёта переданы"));
  control.stopNow();
}

}  // namespace
}  // namespace isp::test
