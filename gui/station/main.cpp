// isp-station: a production line's window on the station core. The line's
// settings come from the command line, else from the last run, or in
// operator mode from the engineer's line file alone; --start begins at
// once, so that a station can start with them when it boots.
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
#include "production/stop_signal.h"
#include "programming/file_access.h"
#include "programming/messages.h"
#include "programming/trace_file.h"
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
// The settings file. It names the line's firmware: the user's alone,
// whatever the umask, and kept only in a folder of the user's own (or
// root's), walked as every file is. Elsewhere (root with another user's
// XDG_CONFIG_HOME, as sudo -E keeps it) nothing is read or written.
class Store final : public isp::production::SettingsStore {
 public:
  explicit Store(const QString& path) : path_(path.toStdString()) {
    notOurs_ = isp::makePrivateFolder(QFileInfo(path).absolutePath().toStdString());
    if (notOurs_.empty()) notOurs_ = isp::makePrivateFile(path_);
    if (!notOurs_.empty()) {
      say("the settings are not used: " + notOurs_);
      return;
    }
    file_.emplace(path, QSettings::IniFormat);
    file_->remove(QStringLiteral("report"));  // a day's file, kept by an earlier version
  }
  bool ours() const { return file_.has_value(); }
  const std::string& path() const { return path_; }
  QVariant value(const char* key) const { return file_ ? file_->value(QLatin1String(key)) : QVariant(); }
  void keep(const char* key, const QVariant& v) {
    if (file_) file_->setValue(QLatin1String(key), v);
  }
  void sync() {
    if (!file_) return;
    file_->sync();
    if (const std::string why = isp::makePrivateFile(path_); !why.empty()) say("the settings: " + why);
  }
  std::optional<std::string> text(const char* key) override {
    const QVariant v = value(key);
    return v.isValid() ? std::optional(v.toString().toStdString()) : std::nullopt;
  }
  std::optional<std::vector<std::string>> list(const char* key) override {
    if (!value(key).isValid()) return std::nullopt;
    std::vector<std::string> out;
    for (const QString& item : value(key).toStringList()) out.push_back(item.toStdString());
    return out;
  }
  void set(const char* key, const std::string& text) override { keep(key, QString::fromStdString(text)); }
  void set(const char* key, const std::vector<std::string>& list) override {
    QStringList items;
    for (const std::string& item : list) items << QString::fromStdString(item);
    keep(key, items);
  }

 private:
  std::string path_, notOurs_;
  std::optional<QSettings> file_;
};

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
  // Read once for its refusals, help and version and the line file, before
  // any other file is touched; read again below over the kept settings.
  isp::production::StationCommandLine line = isp::production::readStationCommandLine(args, s);
  if (line.exit) {
    if (*line.exit == 0) return written(QString::fromStdString(line.message));
    std::fputs(line.message.c_str(), stderr);
    return *line.exit;
  }

  // The last run's settings, unless the command line gives others. Each
  // value is judged by the production layer: one that cannot be used is
  // shown in the set-up, and the line waits until it is corrected. Without
  // settings of the user's own, --start waits for a whole set-up.
  Store store(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
              QStringLiteral("/isp-programmer/isp-station.conf"));
  // Operator mode keeps nothing of the set-up: it is the line file's.
  if (!line.line) {
    s = isp::production::readKept(store);
    line = isp::production::readStationCommandLine(args, s);
  }
  // ISP_TRACE=FILE: every byte on the wire, for whoever must find out why.
  std::string traceWhy;
  const std::unique_ptr<isp::Trace> trace = isp::environmentTrace(&traceWhy);
  if (!traceWhy.empty()) say(traceWhy);
  const isp::TraceInstalled traced(trace.get());
  isp::station::StationWindow window(s, {.line = std::move(line.line)});
  window.control().onStarted = [&store](const isp::production::KeptSettings& now) {
    isp::production::keep(store, now);
    store.sync();
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
        &window, [&window] { window.control().stopAndQuit(isp::production::signalExitStatus()); },
        Qt::QueuedConnection);
  });
  window.placeOnScreen(store.value("geometry").toByteArray());
  window.show();
  const bool ownSetUp = store.ours() || line.wholeSetUp;
  if (!store.ours())
    window.say(QString::fromStdString(
        std::string(isp::production::words::kSettingsNotOurs) + isp::msg::escapeControls(store.path()) +
        (line.start && !ownSetUp ? std::string(isp::production::words::kStartWaits) : std::string())));
  if (line.start && ownSetUp) QTimer::singleShot(0, &window, [&window] { window.start(); });
  const int status = QApplication::exec();
  window.control().stopNow();
  store.keep("geometry", window.saveGeometry());
  store.sync();
  g_window = nullptr;
  // A signal that came while the window closed still names the end.
  return isp::production::signalExitStatus() ? isp::production::signalExitStatus() : status;
}
