#include "gui/qt/main_app.h"

#include <QApplication>

#include "gui/qt/app_icon.h"
#include "gui/qt/main_dialog.h"
#include "programming/trace_file.h"
#include "resources/isp_version.h"
#include "serial/posix/serial_posix.h"

namespace isp::ui {

int CMainApp::run(const char* programName) {
  int argc = 1;
  char* argv[] = {const_cast<char*>(programName), nullptr};
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("isp-programmer"));
  QApplication::setApplicationVersion(QStringLiteral(ISP_VERSION_FULL));
  QApplication::setWindowIcon(appIcon());
  InitInstance();
  return 0;
}

bool CMainApp::InitInstance() {
  // ISP_TRACE=FILE: every byte on the wire, for whoever must find out why.
  std::string why;
  const std::unique_ptr<Trace> trace = environmentTrace(&why);
  if (!why.empty()) qWarning("isp-programmer: %s", why.c_str());
  const TraceInstalled traced(trace.get());
  PosixSerialPlatform platform;
  Link link(platform);
  CMainDialog dialog(link);
  dialog.DoModal();
  return false;
}

}  // namespace isp::ui
