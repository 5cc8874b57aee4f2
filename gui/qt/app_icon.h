#pragma once
#include <QIcon>

namespace isp::ui {

// The program's icon at 16, 32 and 48 px.
QIcon appIcon();

}  // namespace isp::ui
