#include "gui/qt/app_icon.h"

static void initResources() { Q_INIT_RESOURCE(isp_programmer); }

namespace isp::ui {

QIcon appIcon() {
  initResources();
  QIcon icon;
  for (int size : {16, 32, 48})
    icon.addFile(QStringLiteral(":/icons/isp-programmer-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace isp::ui
