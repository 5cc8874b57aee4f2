// isp-station: a production line's window on the station core. The line's
// settings come from the command line, else from the last run; --start
// begins at once, so that a station can start with them when it boots.
#include <QApplication>
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
#include "production/station_command_line.h"
#include "production/station_settings.h"
#include "production/station_words.h"
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

  std::vector<std::string> args;
  for (const QString& a : QApplication::arguments()) args.push_back(a.toStdString());
  isp::production::KeptSettings s;
  // Read once for its refusals, help and version, before any file is
  // touched; read again below over the kept settings.
  if (const auto early = isp::production::readStationCommandLine(args, s); early.exit) {
    if (*early.exit == 0) return written(QString::fromStdString(early.message));
    std::fputs(early.message.c_str(), stderr);
    return *early.exit;
  }

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
  s = isp::production::readKept({kept("file"), keptPorts, kept("reportFolder"), kept("reportFile"), kept("interval")});
  const isp::production::StationCommandLine line = isp::production::readStationCommandLine(args, s);
  isp::station::StationWindow window(s);
  window.control().onStarted = [&](const isp::production::KeptSettings& now) {
    const isp::production::KeptValues v = isp::production::keptValues(now);
    for (const auto& [key, value] : {std::pair{"file", v.file},
                                     {"reportFolder", v.reportFolder},
                                     {"reportFile", v.reportFile},
                                     {"interval", v.interval}})
      keep(QLatin1String(key), QString::fromStdString(value.value_or("")));
    QStringList ports;
    for (const std::string& p : *v.ports) ports << QString::fromStdString(p);
    keep(QStringLiteral("ports"), ports);
    keepPrivate();
  };
  g_window = &window;
  // A lost display ends the program from inside the toolkit, with exit():
  // the line is stopped and its report lines written even then. Registered
  // late, so that it runs before the toolkit's own statics are torn down.
  std::atexit([] {
    if (g_window) g_window->control().stopNow();
  });
  // SIGTERM at shutdown, SIGHUP at logout, Ctrl-C: a Stop, then the end
  // with 128 + the signal once every line is written. A session's end comes
  // as one of these, or as the display gone.
  const std::stop_callback onSignal(outside, [&window] {
    QMetaObject::invokeMethod(
        &window, [&window] { window.control().stopAndQuit(isp::production::stopStatus()); }, Qt::QueuedConnection);
  });
  window.placeOnScreen(value(QStringLiteral("geometry")).toByteArray());
  window.show();
  const bool ownSetUp = notOurs.empty() || line.wholeSetUp;
  if (!notOurs.empty())
    window.say(QString::fromStdString(
        std::string(isp::production::words::kSettingsNotOurs) + isp::msg::escapeControls(settingsFile) +
        (line.start && !ownSetUp ? std::string(isp::production::words::kStartWaits) : std::string())));
  if (line.start && ownSetUp) QTimer::singleShot(0, &window, [&window] { window.start(); });
  const int status = QApplication::exec();
  window.control().stopNow();
  keep(QStringLiteral("geometry"), window.saveGeometry());
  keepPrivate();
  g_window = nullptr;
  // A signal that came while the window closed still names the end.
  return isp::production::stopStatus() ? isp::production::stopStatus() : status;
}
