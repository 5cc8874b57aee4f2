#include "programming/about_text.h"

#include <array>

namespace isp {

namespace {
// The wiring lines keep their exact spacing: two spaces, or a tab, before
// the hyphen, two spaces after it.
constexpr std::array<std::string_view, 12> kHelpPieces = {
    "Программа предназначена для записи внутренней программы (\"прошивки\") устройства.\r\n\r\n",
    "Подключение устройства к компьютеру производится через последовательный порт.\r\n\r\n",
    "Контакты разъемов последовательного порта устройства и компьютера следует\r\n",
    "соединить следующим образом:\r\n",
    "Устройство - Компьютер\r\n",
    "2  -  3\r\n",
    "3\t-  2\r\n",
    "5\t-  5\r\n\r\n",
    "Перед выполнением программирования устройства требуется перевести его в\r\n",
    "особый режим в соответствии с инструкцией.\r\n\r\n",
    "ВНИМАНИЕ! Устройство будет находиться в неработоспособном состоянии\r\n",
    "после выполнения сброса и до успешного окончания записи внутренней программы.\r\n\r\n",
};
}  // namespace

std::string aboutHelpText() {
  std::string text;
  for (std::string_view piece : kHelpPieces) text += piece;
  return text;
}

}  // namespace isp
