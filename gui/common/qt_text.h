#pragma once
#include <QString>
#include <string_view>

// The small text helpers every Qt window of the project shares.
namespace isp::ui {

// The log's texts are UTF-8 with "\r\n" line ends; Qt's text widgets want "\n".
inline QString qtText(std::string_view utf8) {
  QString s = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

}  // namespace isp::ui
