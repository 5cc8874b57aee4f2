#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/clock.h"
#include "sim/simulator.h"

namespace isp::test {

// Time that moves only when told to.
class FakeClock final : public MonotonicClock {
 public:
  TimePoint now() override { return now_; }
  void advance(Duration d) { now_ += d; }
  long elapsedMs() const { return std::chrono::duration_cast<milliseconds>(now_ - TimePoint{}).count(); }

 private:
  TimePoint now_{};
};

// A folder of the test's own, removed with it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes a file here and returns its full path.
  std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

 private:
  std::filesystem::path path_;
};

// A file's whole content.
std::string contents(const std::filesystem::path& path);

// Whether `text` holds `part`; a failure shows the whole text.
::testing::AssertionResult holds(const std::string& text, const std::string& part);

// Asks `done` every 10 ms until it holds, for at most `limit`; whether it held.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

// Bytes that differ from record to record, so that a swapped or shifted
// record shows.
std::vector<std::uint8_t> sampleImage(std::size_t size = 66690, unsigned seed = 1);

// The nice value of a test's stand-in: its replies well within the link's
// time-out however busy the machine, where the system allows.
constexpr int kStandInNice = -10;

// The stand-in on a new pseudo-terminal, running on its own thread at
// kStandInNice; log hears what it says (with verbose, a line for every frame).
std::unique_ptr<sim::Simulator> startSimulator(sim::SimulatorOptions options = {}, sim::Simulator::Log log = {});

}  // namespace isp::test
