// The station window's event loop under load, and at rest. With 16 ports
// programming at once (16 isp-sim processes plugged in after the start), how
// late a timer that should fire every 10 ms is, at worst and at the 99th
// percentile; with 16 ports watched and no device, the share of one core the
// whole process uses. A benchmark: it prints figures and asserts nothing.
//
//   station_bench [--interval MS] [--busy-seconds S] [--idle-seconds S] [--competing]

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "gui/station/station_window.h"
#include "production/interval.h"
#include "programs/command_line.h"
#include "programs/machine.h"

namespace {

isp::production::KeptSettings line(const std::filesystem::path& dir, const std::string& firmware, int intervalMs) {
  isp::production::KeptSettings s{
      .file = firmware, .report = {.file = (dir / "r.jsonl").string()}, .intervalMs = intervalMs};
  for (int i = 0; i < 16; ++i) s.ports.push_back((dir / ("tty" + std::to_string(i))).string());
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  int intervalMs = 0, idleSeconds = 10, busySeconds = 300;
  bool competing = false;
  CLI::App cli{"The station window's event loop with 16 ports programming, and its CPU at rest.", "station_bench"};
  cli.add_option("--interval", intervalMs, "between records")
      ->capture_default_str()
      ->check(CLI::Range(0, isp::kMaxIntervalMs));
  cli.add_option("--idle-seconds", idleSeconds, "how long to watch 16 empty ports")->capture_default_str();
  cli.add_option("--busy-seconds", busySeconds, "at most this long with 16 ports programming")->capture_default_str();
  cli.add_flag("--competing", competing, "the stand-ins at the station's priority, not at nice 19");
  if (const auto exit = isp::parseCommandLine(cli, argc, argv)) return *exit;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qargc = 1;
  QApplication app(qargc, argv);
  isp::printMachine();

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("isp-station-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string firmware = (dir / "fw.isp").string();
  std::vector<char> image(66690, '\x5A');
  std::ofstream(firmware, std::ios::binary).write(image.data(), static_cast<long>(image.size()));

  {  // 16 ports programming
    isp::station::StationWindow window(line(dir, firmware, intervalMs));
    window.show();
    window.start();
    std::vector<std::unique_ptr<QProcess>> devices;
    for (const std::string& name : line(dir, firmware, intervalMs).ports) {
      const QString port = QString::fromStdString(name);
      devices.push_back(std::make_unique<QProcess>());
      // On a line the devices are hardware: here they only take the cores the
      // station leaves, unless asked to compete for them.
      QStringList args = {QStringLiteral(ISP_SIM_PATH), QStringLiteral("--link"), port,
                          QStringLiteral("--exit-when-complete")};
      if (!competing) args = QStringList{QStringLiteral("-n"), QStringLiteral("19")} + args;
      devices.back()->start(competing ? args.takeFirst() : QStringLiteral("nice"), args);
    }
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 due = 10;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      late.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6 - static_cast<double>(due));
      due = clock.elapsed() + 10;
    });
    tick.start(10);
    const auto done = [&] {
      return std::all_of(devices.begin(), devices.end(),
                         [](const auto& p) { return p->state() == QProcess::NotRunning; });
    };
    const bool finished = QTest::qWaitFor(done, busySeconds * 1000);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    tick.stop();
    std::sort(late.begin(), late.end());
    std::printf(
        "16 ports programming (--interval %d%s), %.1f s%s: timer every 10 ms late by at most %.1f ms, "
        "99th percentile %.1f ms, median %.1f ms (%zu ticks)\n",
        intervalMs, competing ? ", stand-ins competing" : "", seconds,
        finished ? ", all 16 done" : ", still programming", late.back(), late[late.size() * 99 / 100],
        late[late.size() / 2], late.size());
    window.stop();
    (void)QTest::qWaitFor([&] { return !window.running(); }, 10000);
    for (auto& d : devices) {  // still programming when the time ran out: none outlives the bench
      d->terminate();
      d->waitForFinished();
    }
  }
  // 16 ports watched and polled at the station's pace: no adapter; an
  // adapter with nothing answering (every poll waits out the reply's
  // time-out); a device on each that was programmed and stays, answering
  // every poll.
  const std::pair<const char*, QStringList> rests[] = {
      {"no device", {}},
      {"nothing answering", {QStringLiteral("--silent")}},
      {"16 programmed devices answering every poll", {QStringLiteral("--ident"), QStringLiteral("ISP REST")}},
  };
  for (const auto& [what, simArgs] : rests) {
    std::filesystem::remove_all(dir / "r.jsonl");
    const isp::production::KeptSettings s = line(dir, firmware, intervalMs);
    isp::station::StationWindow window(s);
    window.show();
    window.start();
    std::vector<std::unique_ptr<QProcess>> devices;
    for (const std::string& name : std::string(what) == "no device" ? std::vector<std::string>() : s.ports) {
      const QString port = QString::fromStdString(name);
      devices.push_back(std::make_unique<QProcess>());
      devices.back()->start(QStringLiteral("nice"),
                            QStringList{QStringLiteral("-n"), QStringLiteral("19"), QStringLiteral(ISP_SIM_PATH),
                                        QStringLiteral("--link"), port} +
                                simArgs);
    }
    // Settled: every device that answers has been programmed.
    const auto lines = [&] {
      std::ifstream in(dir / "r.jsonl");
      return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
    };
    const bool answering = simArgs.contains(QStringLiteral("--ident"));
    (void)QTest::qWaitFor([&] { return !answering || lines() == 16; }, 120000);
    QTest::qWait(1000);
    const double cpu0 = isp::processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    // An event loop that sleeps until the time is up: QTest::qWait would
    // wake this thread every 10 ms and count its own polling as the station's.
    QEventLoop rest;
    QTimer::singleShot(idleSeconds * 1000, &rest, &QEventLoop::quit);
    rest.exec();
    const double used = isp::processCpuSeconds() - cpu0, wall = static_cast<double>(clock.elapsed()) / 1000.0;
    std::printf("16 ports watched, %s, %.1f s: %.3f s of CPU, %.2f %% of one core\n", what, wall, used,
                100.0 * used / wall);
    window.stop();
    (void)QTest::qWaitFor([&] { return !window.running(); }, 10000);
    for (auto& d : devices) {
      d->terminate();
      d->waitForFinished();
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
