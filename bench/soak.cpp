// Many whole transfers through isp-flash --interval 0 against the stand-in,
// each with one fault drawn from a seed: the kinds in a random order, each
// once in every nine runs, at a random record with a random error code.
// Each outcome is checked: the exit status, the last log lines and the
// explanation on standard error fit the fault, a success wrote exactly the
// file, a failure names the record where it failed. Prints a table and
// exits non-zero on any wrong outcome.
//
//   soak [--runs N] [--seed S]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "programs/command_line.h"
#include "sim/simulator.h"
#include "sim/stand_in.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace {

using isp::sim::DeviceOptions;

enum Fault { None, Silence, NotReady, ErrorCode, BadChecksum, Late, Partial, Oversize, HangUp, kFaults };
const char* const kNames[kFaults] = {"none", "silence", "not ready", "error code", "bad checksum",
                                     "late", "partial", "oversize",  "hang-up"};

struct Expected {
  int status;
  std::string tail;  // the last log lines
  std::string said;  // part of the explanation on standard error
};

// Sets the fault up on the device and says what isp-flash must report.
Expected inject(Fault f, int k, int code, DeviceOptions& d) {
  const std::string failed = ", блок " + std::to_string(k) + "\nПрограммирование не завершено\n";
  const std::string record = "record " + std::to_string(k) + " was not taken: ";
  const Expected damaged = {1, "Ошибка 257" + failed, record + "the reply was damaged"};
  const Expected noReply = {1, "Ошибка 256" + failed, record + "no reply"};
  switch (f) {
    case None: return {0, "Программирование устройства начато\nПрограммирование завершено\n", ""};
    case Silence: d.silent = true; return {3, "Устройство не обнаружено\n", ""};
    case NotReady: d.notReady = true; return {3, "Устройство APP SIM-1 не готово к программированию\n", ""};
    case ErrorCode:
      d.errorAt = k;
      d.errorCode = code;
      return {1, "Ошибка " + std::to_string(code) + failed,
              record + "the device refused it with its own error code " + std::to_string(code)};
    case BadChecksum: d.badChecksumAt = k; return damaged;
    case Late: d.delayAt = k; return noReply;  // 400 ms: past the line time and 150 ms
    case Partial: d.partialAt = k; return damaged;
    case Oversize: d.oversizeAt = k; return damaged;
    // The stand-in closes its pty, whose node goes with it: an unplug.
    default: d.hangupAt = k; return {1, "Ошибка 256" + failed, ": the adapter was unplugged"};
  }
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 300;
  unsigned seed = std::random_device{}();
  CLI::App app{"Transfers of isp-flash against the stand-in, each with one fault drawn at random.", "soak"};
  app.add_option("--runs", runs, "transfers to run")->capture_default_str()->check(CLI::Range(1, 1'000'000));
  app.add_option("--seed", seed, "seed of the faults (default: a random one)");
  if (const auto exit = isp::parseCommandLine(app, argc, argv)) return *exit;
  std::printf("soak: %d runs, seed %u\n", runs, seed);
  std::mt19937 random(seed);

  isp::test::TempDir dir;
  const auto image = isp::test::sampleImage();
  const std::string firmware = dir.write("fw.isp", image);
  std::map<Fault, std::pair<int, int>> tally;  // runs, wrong
  int wrong = 0;
  std::vector<Fault> order;
  for (int f = 0; f < kFaults; ++f) order.push_back(static_cast<Fault>(f));
  for (int run = 0; run < runs; ++run) {
    if (run % kFaults == 0) std::shuffle(order.begin(), order.end(), random);
    const Fault fault = order[static_cast<std::size_t>(run % kFaults)];
    const int k = static_cast<int>(random() % isp::wire::kRecords);
    const int code = 1 + static_cast<int>(random() % 255);
    isp::sim::SimulatorOptions o{.nice = isp::test::kStandInNice};
    const Expected want = inject(fault, k, code, o.device);
    const auto sim = isp::startStandIn("soak", o);
    const isp::test::Finished flash =
        isp::test::runProgram({ISP_FLASH_PATH, "--port", sim->path(), "--file", firmware, "--interval", "0"});
    const int status = flash.status;
    sim->stop();
    std::string why;
    if (status != want.status)
      why = "exit " + std::to_string(status) + ", not " + std::to_string(want.status);
    else if (!flash.out.ends_with(want.tail))
      why = "the log ends otherwise";
    else if (flash.err.find(want.said) == std::string::npos)
      why = "standard error says otherwise: " + flash.err;
    else if (status == 0 && sim->image() != image)
      why = "success, but the device holds another image";
    ++tally[fault].first;
    if (!why.empty()) {
      ++tally[fault].second;
      ++wrong;
      std::printf("WRONG run %d: %s at record %d (code %d): %s\n%s", run, kNames[fault], k, code, why.c_str(),
                  flash.out.c_str());
    }
  }
  std::printf("\n%-14s %6s %12s %6s\n", "fault", "runs", "as expected", "wrong");
  for (const auto& [fault, t] : tally)
    std::printf("%-14s %6d %12d %6d\n", kNames[fault], t.first, t.first - t.second, t.second);
  std::printf("%-14s %6d %12d %6d   (seed %u)\n", "all", runs, runs - wrong, wrong, seed);
  return wrong == 0 ? 0 : 1;
}
