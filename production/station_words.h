#pragma once
#include <string_view>

// The station windows' own words, in UTF-8: the Qt window and the Win32 one
// say the same things the same way. What a tile or a report row says is
// made by the view of the line (line_view.h).
namespace isp::production::words {

inline constexpr std::string_view kTitle = "Станция программирования";
inline constexpr std::string_view kAbout =
    "Станция программирования: каждое устройство на выбранных портах программируется один раз, как только его "
    "подключат.";

// The set-up.
inline constexpr std::string_view kFile = "Файл программы";
inline constexpr std::string_view kChooseFile = "Файл…";
inline constexpr std::string_view kFileFilter = "Файл программы (*.isp)";
inline constexpr std::string_view kAllFiles = "Все файлы";
inline constexpr std::string_view kPorts = "Порты";
inline constexpr std::string_view kNoAdapter = "   (нет адаптера)";
inline constexpr std::string_view kReport = "Отчёт";
inline constexpr std::string_view kChooseFolder = "Папка…";
inline constexpr std::string_view kReportFolder = "Папка отчётов";
inline constexpr std::string_view kInterval = "Интервал";
inline constexpr std::string_view kIntervalName = "Интервал между блоками";
inline constexpr std::string_view kMs = " мс";
inline constexpr std::string_view kStart = "&Начать (F5)";
inline constexpr std::string_view kStop = "&Остановить (Shift+F5)";

// The firmware file's facts: "%1 байт, SHA-256 %2" and the rest, in parts.
inline constexpr std::string_view kBytes = " байт, SHA-256 ";
inline constexpr std::string_view kLongerThanImage = "; файл длиннее образа (";
inline constexpr std::string_view kOnlyFirst = " байт): передаются только первые ";
inline constexpr std::string_view kTooShort = "Файл не подходит: в нём нет ";
inline constexpr std::string_view kBytesEnd = " байт";
inline constexpr std::string_view kNotOpened = "Файл не открыт: ";
inline constexpr std::string_view kFileChanged =
    "Файл программы изменён на диске; программируется образ, загруженный при запуске (SHA-256 ";
inline constexpr std::string_view kFileChangedEnd = "). Новый файл будет прочитан при следующем запуске.";

// What the settings kept from the last run hold that cannot be used.
inline constexpr std::string_view kKeptPorts = "Сохранённые порты не подходят: ";
inline constexpr std::string_view kKeptPortsWhy = " (нужен COM1–COM20 или путь к устройству); отметьте порты заново";
inline constexpr std::string_view kKeptReport = "Сохранённый отчёт не подходит: ";
inline constexpr std::string_view kKeptReportWhy = " (нужен полный путь); выберите отчёт заново";
inline constexpr std::string_view kKeptReportBoth =
    "В сохранённых настройках и папка отчётов, и файл отчёта; выберите отчёт заново";
inline constexpr std::string_view kKeptInterval = "Сохранённый интервал не подходит: ";
inline constexpr std::string_view kKeptIntervalWhy = " (нужно число от 0 до ";  // the limit, kMs
inline constexpr std::string_view kKeptIntervalEnd = "); задайте интервал заново";
inline constexpr std::string_view kFixKept = "Сохранённые настройки не подходят: исправьте то, что отмечено красным";

// Starting, running and stopping.
inline constexpr std::string_view kNoFile = "Нет файла программы";
inline constexpr std::string_view kNoPort = "Не выбран ни один порт";
inline constexpr std::string_view kSettingsNotOurs =
    "Настройки в папке, которая не принадлежит пользователю, не используются и не сохраняются: ";
inline constexpr std::string_view kStartWaits = "; запуск по --start ждёт настройки пользователя";
inline constexpr std::string_view kSamePortTwice = "Одно устройство выбрано под двумя именами: ";
inline constexpr std::string_view kBadInterval = "Интервал между блоками: от 0 до ";  // the limit, kMs
inline constexpr std::string_view kReportIsFirmware = "Файл отчёта — это файл программы: ";
inline constexpr std::string_view kFolderNotMade = "Папка отчёта не создана: ";
inline constexpr std::string_view kReportNotWritable = "Отчёт не может быть записан: ";
inline constexpr std::string_view kRunning = "Станция работает; отчёт: ";
inline constexpr std::string_view kStopping = "Остановка…";
inline constexpr std::string_view kStopped = "Станция остановлена";
inline constexpr std::string_view kStoppedLinesMissing = "Станция остановлена; в отчёте не хватает строк: ";
inline constexpr std::string_view kCloseWhileProgramming =
    "Идёт программирование устройств. Остановить передачу и закрыть окно?";
inline constexpr std::string_view kYes = "Да";
inline constexpr std::string_view kNo = "Нет";

// A line file: the engineer's set-up, for operators.
inline constexpr std::string_view kSaveLine = "Сохранить линию…";
inline constexpr std::string_view kLineFilter = "Файл линии (*.json)";
inline constexpr std::string_view kLineSaved = "Линия сохранена: ";
inline constexpr std::string_view kLineNotSaved = "Линия не сохранена: ";
inline constexpr std::string_view kLineNeedsImage = "нет файла программы, который можно записать";
inline constexpr std::string_view kLineNotUtf8 = "путь к файлу или имя не в UTF-8";
inline constexpr std::string_view kOperatorMode = "Настройка линии «";  // the name, kOperatorModeFile, the path
inline constexpr std::string_view kOperatorModeFile = "» задана инженером и здесь не меняется; файл линии: ";
// "Файл программы F имеет SHA-256 X, а линия L настроена на SHA-256 Y; ничего не запрограммировано"
inline constexpr std::string_view kSumFile = "Файл программы ";
inline constexpr std::string_view kSumHas = " имеет SHA-256 ";
inline constexpr std::string_view kSumLine = ", а линия ";
inline constexpr std::string_view kSumSetUp = " настроена на SHA-256 ";
inline constexpr std::string_view kSumNothing = "; ничего не запрограммировано";

// The record published to a broker.
inline constexpr std::string_view kBroker = "Брокер MQTT";
inline constexpr std::string_view kNoPublishing = "Публикация отчёта в брокер невозможна: ";
inline constexpr std::string_view kBrokerAway = "Брокер недоступен, строк в очереди: ";
inline constexpr std::string_view kBrokerQueued = "Брокер: строк в очереди: ";
inline constexpr std::string_view kBrokerAllSent = "Брокер: все строки отчёта переданы";

// The table of the last report lines.
inline constexpr std::string_view kRowsName = "Последние строки отчёта";
inline constexpr std::string_view kRowHeadings[] = {"Время", "Порт", "Устройство", "Итог", "Длительность", "Отчёт"};

}  // namespace isp::production::words
