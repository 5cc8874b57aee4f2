#pragma once
#include <QIcon>
#include <QString>
#include <string_view>

namespace isp::ui {

// The log's texts are UTF-8 with "\r\n" line ends; Qt's text widgets want "\n".
inline QString qtText(std::string_view utf8) {
  QString s = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

// The program's icon at 16, 32 and 48 px.
QIcon appIcon();

}  // namespace isp::ui
