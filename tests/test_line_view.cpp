// The line as a window draws it, without a window: what the station tells
// goes in, tiles, report rows and totals come out.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "link/result_codes.h"
#include "production/image_file.h"
#include "production/line_setup.h"
#include "production/line_view.h"
#include "production/system_words.h"
#include "programming/sha256.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_port.h"

namespace isp::test {
namespace {

using production::LineView;
using production::PortState;
using production::TileKind;
using Kind = PortState::Kind;
using Reason = production::WaitReason;

// One view of ports A and B whose wakes are counted; its tile A after a run of states.
struct Line {
  int wakes = 0;
  LineView view{{{"A", "FT232R"}, {"/dev/serial/by-id/x", "CP2102"}}, [this] { ++wakes; }};
  const production::Tile& after(std::initializer_list<PortState> states) {
    for (PortState s : states) static_cast<production::StationObserver&>(view).changed((s.port = "A", s));
    view.update();
    return view.tiles()[0];
  }
  void ended(production::JobResult job, const production::FileError& recordError = {}) {
    static_cast<production::StationObserver&>(view).finished(job, recordError);
  }
};

// What a tile says of each state and the colour it wears: the record it
// names is the last one the device took, each reason to wait has words of
// its own, and a device's bytes never reach the screen as controls.
TEST(LineView, EachStateInWordsAndColour) {
  const struct {
    PortState state;
    const char* words;
    TileKind kind;
  } cases[] = {
      {{.kind = Kind::Programming, .records = 1}, "программирование, блок 0 из 512", TileKind::Programming},
      {{.kind = Kind::Programming, .records = 131}, "программирование, блок 130 из 512", TileKind::Programming},
      {{.kind = Kind::Waiting}, "проверка порта", TileKind::Checking},
      {{.kind = Kind::Waiting, .reason = Reason::NoAdapter}, "нет адаптера", TileKind::NoAdapter},
      {{.kind = Kind::Waiting, .reason = Reason::CannotOpen}, "порт не открывается", TileKind::CannotOpen},
      {{.kind = Kind::Waiting, .reason = Reason::Held}, "порт занят другой программой", TileKind::Held},
      {{.kind = Kind::Waiting, .reason = Reason::NotInProgrammingMode, .detail = "APP\x1b"},
       "Устройство APP\\x1b не готово к программированию",
       TileKind::NotReady},
      {{.kind = Kind::Waiting, .code = rc::kBadReply, .reason = Reason::DamagedReplies},
       "ответ устройства искажён: ошибка контрольной суммы",
       TileKind::DamagedReplies},
      {{.kind = Kind::Waiting, .reason = Reason::NoAnswer}, "ожидание устройства: нет ответа", TileKind::NoAnswer},
      {{.kind = Kind::Identifying, .device = "SIM\r\n-1"}, "опознание устройства", TileKind::Identifying},
      {{.kind = Kind::Gone}, "устройство отключено", TileKind::Unplugged},
  };
  for (const auto& c : cases) {
    Line line;
    const production::Tile& tile = line.after({c.state});
    EXPECT_EQ(tile.state, c.words);
    EXPECT_EQ(tile.kind, c.kind) << c.words;
    EXPECT_EQ(tile.device.find_first_of("\r\n\x1b"), std::string::npos) << tile.device;
  }
  // Every kind has a colour of its own, and none is a window's background
  // (Qt's and Windows' greys), where a tile would look like an empty slot.
  std::set<std::uint32_t> colours = {0xefefef, 0xf0f0f0};
  for (int k = 0; k <= static_cast<int>(TileKind::Unplugged); ++k)
    EXPECT_TRUE(colours.insert(production::tileColour(static_cast<TileKind>(k))).second) << k;
}

// How a device's turn ended, in every place that says it: the tile's
// kind and words, and once its device is unplugged; the report table's
// row; the totals. A stop is neither a failure nor red; a failure stays
// red when its device goes, and says when it went.
TEST(LineView, EachEndInEveryPlace) {
  // The tile's words (their beginning), its words once unplugged, the row,
  // and the tally: one letter, completed, failed or stopped.
  using K = TileKind;
  const std::tuple<PortState, K, K, std::string> cases[] = {
      {{.outcome = Outcome::Completed}, K::Completed, K::Unplugged, "завершено в |устройство отключено|завершено|c"},
      {{.outcome = Outcome::NotCompleted, .failedRecord = 100, .code = 4},
       K::Failed,
       K::Failed,
       "Ошибка 4, блок 100: устройство не готово|отключено во время программирования|Ошибка 4, блок 100|f"},
      {{.outcome = Outcome::NotCompleted, .failedRecord = 100, .code = 5},
       K::Failed,
       K::Failed,
       "Ошибка 5, блок 100: код устройства 5|отключено во время программирования|Ошибка 5, блок 100|f"},
      {{.outcome = Outcome::NotIdentified, .code = rc::kNotInProgrammingMode},
       K::Failed,
       K::Failed,
       "устройство не готово к программированию|отключено до опознания|не опознано|f"},
      {{.outcome = Outcome::Stopped},
       K::Stopped,
       K::Unplugged,
       "Передача остановлена|устройство отключено|остановлено|s"},
  };
  for (auto [end, kind, goneKind, words] : cases) {
    SCOPED_TRACE(words);
    Line line;
    end.kind = Kind::Ended;
    const production::Tile& tile = line.after({{.kind = Kind::Identifying}, end});
    std::string seen = tile.state.substr(0, words.find('|')) + "|";
    const TileKind was = tile.kind;
    line.ended({.port = "A", .result = end.outcome, .failedRecord = end.failedRecord, .code = end.code});
    seen += line.after({{.kind = Kind::Gone}}).state + "|";
    seen += line.view.rows()[0].result + "|";
    const production::Tally& t = line.view.tally();
    seen += std::string(t.completed, 'c') + std::string(t.failed, 'f') + std::string(t.stopped, 's');
    EXPECT_EQ(seen, words);
    EXPECT_EQ(std::pair(was, line.view.tiles()[0].kind), std::pair(kind, goneKind));
  }
}

// A device's end stays on its tile, under the waiting, until the next
// device is identified.
TEST(LineView, ADeviceEndStaysUntilTheNext) {
  Line line;
  line.after({{.kind = Kind::Identifying},
              {.kind = Kind::Programming, .records = 6},
              {.kind = Kind::Ended, .outcome = Outcome::NotCompleted, .failedRecord = 5, .code = 4},
              {.kind = Kind::Gone}});
  const production::Tile& t = line.after({{.kind = Kind::Waiting, .reason = Reason::NoAnswer}});
  EXPECT_EQ(t.previous, "предыдущее: отключено во время программирования, Ошибка 4, блок 5: устройство не готово");
  EXPECT_EQ(t.description(), "ожидание устройства: нет ответа; " + t.previous);
  EXPECT_EQ(line.after({{.kind = Kind::Identifying}, {.kind = Kind::Waiting}}).previous, "");
}

// A tile's large name tells its port from the others on the line: paths
// that begin alike (by-path, by-id) by their ends, other names as they are.
TEST(LineView, NamesThatTellPortsApart) {
  std::vector<std::string> byPath, ends;
  for (int n = 1; n <= 16; ++n) {
    byPath.push_back("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1." + std::to_string(n) + ":1.0-port0");
    ends.push_back("1." + std::to_string(n) + ":1.0-port0");
  }
  const struct {
    std::vector<std::string> ports, names;
  } cases[] = {
      {byPath, ends},
      {{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K4XYZ-if00-port0",
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A20B1QRS-if00-port0", "COM7"},
       {"A10K4XYZ-if00-port0", "A20B1QRS-if00-port0", "COM7"}},
      {{"/dev/ttyUSB0", "/dev/ttyUSB1"}, {"ttyUSB0", "ttyUSB1"}},  // no part in common: whole
      {{"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0", "COM5"},
       {"pci-0000:00:14.0-usb-0:1.2:1.0-port0", "COM5"}},  // one path has no neighbour
  };
  for (const auto& c : cases) EXPECT_EQ(production::tileNames(c.ports), c.names) << c.ports[0];
  // A port's name and what goes beside it (a path whole, then its adapter)
  // reach the tile with their control characters escaped: a name cannot
  // command the window's text.
  const LineView view({{"/dev/tty\x1b]0;T\a", "FT\x1b[2J"}, {"COM5\r\x1b[2J", "FT232R"}}, [] {});
  EXPECT_EQ(view.tiles()[0].name, "tty\\x1b]0;T\\x07");
  EXPECT_EQ(view.tiles()[0].where, "/dev/tty\\x1b]0;T\\x07 FT\\x1b[2J");
  EXPECT_EQ(view.tiles()[1].name, "COM5\\x0d\\x1b[2J");
  EXPECT_EQ(view.tiles()[1].where, "FT232R");  // a COM name is not repeated beside
}

// What the system says of a port or a file reaches a window in Russian,
// whatever words the system had: the facts the platform gives, not its text
// (the words of each errno are a table; here, the cases with a rule).
TEST(SystemWords, RussianFromTheFacts) {
  using production::portWords;
  const std::pair<PortStatus, const char*> ports[] = {
      {{.error = SerialError::AccessDenied, .why = "Permission denied", .code = EACCES, .group = "dialout"},
       "нет прав доступа: пользователь должен быть в группе «dialout» (затем выйти из системы и войти снова)"},
      {{.error = SerialError::AccessDenied, .code = EACCES},
       "нет прав доступа: открыть порт может только его владелец"},
      {{.error = SerialError::AccessDenied, .code = ELOOP},
       "путь идёт через ссылку или папку, которую может изменить другой пользователь; он не используется"},
      {{.error = SerialError::Busy, .why = "in use by another program (PID 7)", .holder = 7},
       "порт занят программой с PID 7"},
      {{.error = SerialError::Busy, .code = EBUSY}, "порт занят другой программой"},
      {{.error = SerialError::NotASerialPort, .code = ENOTTY}, "это не последовательный порт"},
      {{.error = SerialError::Io, .code = EPROTO}, "ошибка системы 71"},
  };
  for (const auto& [status, words] : ports) EXPECT_EQ(portWords(status), words) << status.why;
  EXPECT_EQ(production::fileWords(production::notARegularFile("/proc/self/mem")),
            "/proc/self/mem: это не обычный файл");
  EXPECT_EQ(production::fileWords(production::fileError("/r", EACCES, "Permission denied")), "/r: нет прав доступа");
}

// Progress told faster than a window draws is one change, the newest count;
// the window is woken once for whatever piled up, and only changed tiles redraw.
// A count never takes the place of a state of another kind told before it:
// a device's end told just before stays, to be shown under the next wait.
TEST(LineView, ProgressFoldedToTheNewest) {
  Line line;
  auto& observer = static_cast<production::StationObserver&>(line.view);
  observer.changed({.kind = Kind::Ended, .outcome = Outcome::NotCompleted, .port = "A", .failedRecord = 5, .code = 4});
  for (int k = 1; k <= 40; ++k) observer.changed({.kind = Kind::Programming, .port = "A", .records = k});
  EXPECT_EQ(line.wakes, 1);
  const LineView::Update u = line.view.update();
  EXPECT_EQ(u.tiles, std::vector<std::size_t>{0});
  EXPECT_EQ(line.view.tiles()[0].records, 40);
  EXPECT_TRUE(line.view.programming());
  observer.changed({.kind = Kind::Waiting, .port = "A", .reason = Reason::NoAnswer});
  EXPECT_EQ(line.wakes, 2);
  line.view.update();
  EXPECT_FALSE(line.view.programming());
  EXPECT_EQ(line.view.tiles()[0].previous, "предыдущее: Ошибка 4, блок 5: устройство не готово");
}

// Each device that ended is a row, newest first, counted once in the
// totals; one whose line the record lacks is marked and raised.
TEST(LineView, RowsAndTotals) {
  using namespace std::chrono_literals;
  Line line;
  const auto t0 = std::chrono::system_clock::now();
  line.ended({.port = "A", .device = "SIM-1", .result = Outcome::Completed, .started = t0, .ended = t0 + 129'460ms});
  line.ended({.port = "A", .device = "SIM\x1b", .result = Outcome::NotCompleted, .failedRecord = 100, .code = 256});
  line.ended({.port = "A", .result = Outcome::Stopped}, production::fileError("/r/\x1b.jsonl", ENOSPC, "No space"));
  const LineView::Update u = line.view.update();
  const auto& rows = line.view.rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].result + "|" + rows[2].seconds + "|" + rows[2].recorded, "завершено|129.5 с|записано");
  EXPECT_EQ(rows[1].result + "|" + rows[1].device, "Ошибка 256, блок 100|SIM\\x1b");
  EXPECT_EQ(std::tuple(rows[0].notRecorded, rows[1].notRecorded, rows[2].notRecorded), std::tuple(true, false, false));
  EXPECT_EQ(rows[0].recorded, "НЕ ЗАПИСАНО: /r/\\x1b.jsonl: нет места на диске");
  EXPECT_EQ(u.alarms, std::vector<std::string>{"Строка отчёта для A не записана: /r/\\x1b.jsonl: нет места на диске"});
  EXPECT_EQ(line.view.totals(59s),
            "Завершено: 1    С ошибкой: 1    Остановлено: 1    Устройств в час: —    С начала: 0 ч 00 мин");
  EXPECT_EQ(line.view.totals(125min + 59s),
            "Завершено: 1    С ошибкой: 1    Остановлено: 1    Устройств в час: 1.0    С начала: 2 ч 05 мин");
}

}  // namespace
}  // namespace isp::test

namespace isp::test {
namespace {

// The firmware file as both windows' set-up states it: a file longer than
// an image is said to be, since only its start is sent.
TEST(LineSetup, TheFileInWords) {
  TempDir dir;
  const auto image = sampleImage();
  std::vector<std::uint8_t> longer = image;
  longer.resize(image.size() + 10);
  const std::string sha = sha256Hex(image).substr(0, 12);
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {image, "66690 байт, SHA-256 " + sha},
      {longer, "66690 байт, SHA-256 " + sha + "; файл длиннее образа (66700 байт): передаются только первые 66690"},
      {sampleImage(66689), "Файл не подходит: в нём нет 66690 байт"},
  };
  for (const auto& [bytes, words] : cases)
    EXPECT_EQ(production::factsWords(*production::readImageFile(dir.write("fw.isp", bytes))), words);
}

// The set-up's ports as both windows offer them: each named once as the
// station keeps it, "all" as the ports there are now, a chosen port whose
// adapter is not plugged in yet listed all the same, and said so.
TEST(LineSetup, PortsOffered) {
  ScriptedPlatform platform;
  platform.presentPorts = {5, 7};
  const std::vector<std::string> chosen = production::chosenPorts({"6", "com7", "COM7", "all"}, platform);
  EXPECT_EQ(chosen, (std::vector<std::string>{"COM6", "COM7", "COM5"}));
  std::vector<std::string> rows;
  for (const production::PortChoice& c : production::portChoices(platform, {"COM6"}, {}))
    rows.push_back(c.name + ": " + c.where);
  EXPECT_EQ(rows, (std::vector<std::string>{"COM5: scripted5", "COM6: scripted6   (нет адаптера)", "COM7: scripted7"}));
}

}  // namespace
}  // namespace isp::test
