#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "serial/serial_port.h"
#include "text/escape.h"

// Every text the programming side shows, exactly as the user sees it (UTF-8).
namespace isp::msg {

inline constexpr std::string_view kEol = "\r\n";

inline constexpr std::string_view kPortLine = "Последовательный порт ";
inline constexpr std::string_view kNoPorts = "Последовательные порты не обнаружены";
inline constexpr std::string_view kDevice = "Устройство ";
inline constexpr std::string_view kInProgrammingMode = " в режиме программирования";
inline constexpr std::string_view kNotReadyForProgramming = " не готово к программированию";
inline constexpr std::string_view kError = "Ошибка ";

inline constexpr std::string_view kFileChosen = "Выбран файл ";
inline constexpr std::string_view kFileOpened = "Файл открыт";
inline constexpr std::string_view kFileNotOpened = "Файл не открыт";
inline constexpr std::string_view kNoFirmwareFile = "Файл программы не открыт";
inline constexpr std::string_view kFileReadError = "Ошибка чтения файла";
inline constexpr std::string_view kFileRead = "Файл считан";

inline constexpr std::string_view kProgrammingStarted = "Программирование устройства начато";
inline constexpr std::string_view kProgrammingCompleted = "Программирование завершено";
inline constexpr std::string_view kProgrammingNotCompleted = "Программирование не завершено";
inline constexpr std::string_view kTransferStopped = "Передача остановлена";

inline constexpr std::string_view kFileFilterIsp = "Файл программы (*.isp)";
inline constexpr std::string_view kFileFilterAll = "Все файлы (*.*)";

// The line for a failed exchange's result code, without the line end:
// named codes get their words, any other code "Ошибка <code>".
std::string resultText(std::int32_t code);

// "Ошибка 256, блок 100": the line, without its end, for record `block`
// that the exchange ended with `code`; the one way every front end says it.
std::string recordError(std::int32_t code, int block);

// Why record `block` was not taken, in plain words for the command line's
// standard error: the same codes as resultText, with what the port says
// when it was the port that failed.
std::string recordFailure(int block, std::int32_t code, const PortStatus& port);

// Device text arrives in code page 1251; the log is UTF-8.
std::string fromCp1251(std::string_view bytes);

// Device text made safe for a terminal or a line-based file (text/escape.h).
using ::isp::escapeControls;

}  // namespace isp::msg
