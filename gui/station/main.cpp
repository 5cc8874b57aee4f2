// isp-station: a production line's window on the station core. The line's
// settings come from the command line, else from the last run; --start
// begins at once, so that a station can start with them when it boots.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stop_token>

#include "gui/station/port_list.h"
#include "gui/station/station_window.h"
#include "production/interval.h"
#include "production/os.h"
#include "production/station_settings.h"
#include "production/station_words.h"
#include "production/stop_signal.h"
#include "programming/file_access.h"
#include "programming/messages.h"
#include "resources/isp_version.h"

namespace {
// The window whose line must end before the program does.
isp::station::StationWindow* g_window = nullptr;

// A line on standard error, a value repeated from the command line escaped.
void say(const std::string& line) { qCritical("isp-station: %s", isp::msg::escapeControls(line).c_str()); }

// Help or the version on standard output, written to its end or said not to be.
int written(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) ==
          static_cast<std::size_t>(bytes.size()) &&
      std::fflush(stdout) == 0)
    return 0;
  say(std::string("standard output: ") + std::strerror(errno ? errno : EIO));
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts, so that every thread leaves SIGTERM, SIGHUP and
  // SIGINT to the one that turns them into a stop.
  const std::stop_token outside = isp::production::installStopHandlers();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("isp-station"));
  QApplication::setOrganizationName(QStringLiteral("isp-programmer"));
  QApplication::setApplicationVersion(QStringLiteral(ISP_VERSION_FULL));
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/icons/isp-station-%1.png").arg(size));
  QApplication::setWindowIcon(icon);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Станция программирования: каждое устройство на выбранных портах "
                     "программируется один раз, как только его подключат."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption file(QStringLiteral("file"), QStringLiteral("файл программы"), QStringLiteral("FILE"));
  const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("порты через запятую, или all"),
                                QStringLiteral("LIST"));
  const QCommandLineOption report(QStringLiteral("report"), QStringLiteral("файл отчёта"), QStringLiteral("FILE"));
  const QCommandLineOption interval(QStringLiteral("interval"), QStringLiteral("мс между блоками, 0-60000"),
                                    QStringLiteral("MS"));
  const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("начать сразу"));
  parser.addOptions({file, port, report, interval, start});
  // Not process(): it would print the value it could not take as it came,
  // and its help without telling whether standard output took it.
  if (!parser.parse(QApplication::arguments())) {
    say(parser.errorText().toStdString());
    return 2;
  }
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) return written(parser.helpText());
  if (parser.isSet(version))
    return written(QApplication::applicationName() + QLatin1Char(' ') + QApplication::applicationVersion() +
                   QLatin1Char('\n'));

  // The last run's settings, unless the command line gives others: the
  // report's folder (a file a day in it) or the one file the user named.
  // The settings name the line's firmware: the user's alone, whatever the
  // umask, and kept only in a folder of the user's own (or root's), walked
  // as every file is. Elsewhere (root with another user's XDG_CONFIG_HOME,
  // as sudo -E keeps it) they are neither read nor written, said once; the
  // window goes on without them, and --start waits for a set-up of the
  // user's own.
  const QString settingsPath = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                               QStringLiteral("/isp-programmer/isp-station.conf");
  const std::string settingsFile = settingsPath.toStdString();
  std::string notOurs = isp::makePrivateFolder(QFileInfo(settingsPath).absolutePath().toStdString());
  if (notOurs.empty()) notOurs = isp::makePrivateFile(settingsFile);
  if (!notOurs.empty()) say("the settings are not used: " + notOurs);
  std::optional<QSettings> remembered;  // none where they are not the user's
  if (notOurs.empty()) remembered.emplace(settingsPath, QSettings::IniFormat);
  const auto value = [&](const QString& key) { return remembered ? remembered->value(key) : QVariant(); };
  const auto keep = [&](const QString& key, const QVariant& v) {
    if (remembered) remembered->setValue(key, v);
  };
  const auto keepPrivate = [&] {
    if (!remembered) return;
    remembered->sync();
    if (const std::string why = isp::makePrivateFile(settingsFile); !why.empty()) say("the settings: " + why);
  };
  if (remembered) remembered->remove(QStringLiteral("report"));  // a day's file, kept by an earlier version
  // Each value as text, judged by the production layer: one that cannot be
  // used is shown in the set-up, and the line waits until it is corrected.
  const auto kept = [&](const char* key) {
    const QVariant v = value(QLatin1String(key));
    return v.isValid() ? std::optional(v.toString().toStdString()) : std::nullopt;
  };
  std::optional<std::vector<std::string>> keptPorts;
  if (const QVariant v = value(QStringLiteral("ports")); v.isValid()) {
    keptPorts.emplace();
    for (const QString& p : v.toStringList()) keptPorts->push_back(p.toStdString());
  }
  const isp::production::KeptSettings k =
      isp::production::readKept({kept("file"), keptPorts, kept("reportFolder"), kept("reportFile"), kept("interval")});
  isp::station::StationSettings s{.file = QString::fromStdString(k.file),
                                  .report = QString::fromStdString(k.report.file),
                                  .intervalMs = k.intervalMs,
                                  .reportFolder = QString::fromStdString(k.report.folder),
                                  .problems = k.problems};
  for (const std::string& p : k.ports) s.ports << QString::fromStdString(p);
  if (parser.isSet(file)) s.file = parser.value(file);
  if (parser.isSet(port)) {
    std::string error;
    const std::vector<isp::PortTarget> targets = isp::portList(parser.value(port).toStdString(), &error);
    if (!error.empty()) {
      say(error);
      return 2;
    }
    s.ports.clear();
    s.problems.erase(isp::production::Setting::Ports);
    for (const isp::PortTarget& t : targets) s.ports << QString::fromStdString(t.name);
    if (targets.empty()) s.ports << QStringLiteral("all");
  }
  if (parser.isSet(report)) {
    s.report = parser.value(report);
    s.problems.erase(isp::production::Setting::Report);
  }
  if (parser.isSet(interval)) {
    std::string error;
    const auto ms = isp::production::parseInterval(parser.value(interval).toStdString(), &error);
    if (!ms) {
      say(error);
      return 2;
    }
    s.intervalMs = *ms;
    s.problems.erase(isp::production::Setting::Interval);
  }
  isp::station::StationWindow window(s);
  window.onStarted = [&keep, &keepPrivate](const isp::station::StationSettings& now) {
    keep(QStringLiteral("file"), now.file);
    keep(QStringLiteral("ports"), now.ports);
    // One of the two, whole: a path that means the same at the next boot.
    keep(QStringLiteral("reportFolder"),
         now.reportFolder.isEmpty() ? QString() : QDir(now.reportFolder).absolutePath());
    keep(QStringLiteral("reportFile"), now.report.isEmpty() ? QString() : QFileInfo(now.report).absoluteFilePath());
    keep(QStringLiteral("interval"), now.intervalMs);
    keepPrivate();
  };
  g_window = &window;
  // A lost display ends the program from inside the toolkit, with exit():
  // the line is stopped and its report lines written even then. Registered
  // late, so that it runs before the toolkit's own statics are torn down.
  std::atexit([] {
    if (g_window) g_window->stopNow();
  });
  // SIGTERM at shutdown, SIGHUP at logout, Ctrl-C: a Stop, then the end
  // with 128 + the signal once every line is written. A session's end comes
  // as one of these, or as the display gone.
  const std::stop_callback onSignal(outside, [&window] {
    QMetaObject::invokeMethod(
        &window, [&window] { window.stopAndQuit(isp::production::signalExitStatus()); }, Qt::QueuedConnection);
  });
  window.placeOnScreen(value(QStringLiteral("geometry")).toByteArray());
  window.show();
  const bool ownSetUp = notOurs.empty() || (parser.isSet(file) && parser.isSet(port));
  if (!notOurs.empty())
    window.say(QString::fromStdString(
        std::string(isp::production::words::kSettingsNotOurs) + isp::msg::escapeControls(settingsFile) +
        (parser.isSet(start) && !ownSetUp ? std::string(isp::production::words::kStartWaits) : std::string())));
  if (parser.isSet(start) && ownSetUp) QTimer::singleShot(0, &window, &isp::station::StationWindow::start);
  const int status = QApplication::exec();
  window.stopNow();
  keep(QStringLiteral("geometry"), window.saveGeometry());
  keepPrivate();
  g_window = nullptr;
  // A signal that came while the window closed still names the end.
  return isp::production::signalExitStatus() ? isp::production::signalExitStatus() : status;
}
