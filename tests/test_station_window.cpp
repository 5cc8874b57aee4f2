// The station window on Qt's offscreen platform, with stand-ins on links in
// a folder of the test's own: one device's report line cannot be written,
// one is stopped; its firmware file replaced. What the tiles say (as a screen
// reader reads them), the totals, the table of report lines, the report.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <set>

#include "gui/station/port_tile.h"
#include "gui/station/station_window.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

// The window draws the line as its view words it: the tiles as a screen
// reader hears them, the table of report lines with a line the record
// lacks marked and said, the totals; a stop in the middle is a stop.
TEST(StationWindow, ALineOfPorts) {
  TempDir dir;
  const auto image = sampleImage();
  const auto at = [&](const char* name) { return (dir.path() / name).string(); };
  const auto path = [&](const char* name) { return QString::fromStdString(at(name)); };
  station::StationWindow window({.file = dir.write("fw.isp", image),
                                 .ports = {at("D"), at("E")},
                                 .report = {.file = at("made.jsonl")},
                                 .intervalMs = 0});
  window.show();
  ASSERT_TRUE(window.start());
  // The firmware replaced on disk while the line runs is said; the line
  // goes on with the image it read.
  dir.write("fw.isp", sampleImage(66700, 2));
  const auto* changed = window.findChild<QLabel*>(QStringLiteral("fileChanged"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return changed->isVisible(); }, 5000));
  const auto heard = [&](const char* name) {
    auto* tile = window.findChild<station::PortTile*>(path(name));
    QAccessibleInterface* a = tile ? QAccessible::queryAccessibleInterface(tile) : nullptr;
    return a ? a->text(QAccessible::Name) + QStringLiteral(": ") + a->text(QAccessible::Description) : QString();
  };
  const auto until = [&](const char* name, const char* words) {
    const QString said = path(name) + QStringLiteral(": ") + QString::fromUtf8(words);
    const bool seen = QTest::qWaitFor([&] { return heard(name).startsWith(said); }, 20000);
    EXPECT_TRUE(seen) << name << " never said " << words << ", but " << heard(name).toStdString();
  };
  until("D", "нет адаптера");
  // D's line cannot reach the report: the table shows it, marked so.
  std::filesystem::remove(at("made.jsonl"));
  std::filesystem::create_directory(at("made.jsonl"));
  auto d = startSimulator({.device = {.identText = "ISP <b>D</b>"}, .linkPath = at("D")});
  until("D", "завершено в ");
  const auto* lines = window.findChild<QTableWidget*>(QStringLiteral("reportLines"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return lines->rowCount() == 1; }, 5000));
  std::filesystem::remove(at("made.jsonl"));
  EXPECT_EQ(d->image(), image);
  // A name in tags is shown as it came, not as markup (which a reader would hear without its tags).
  QAccessibleInterface* tileD = QAccessible::queryAccessibleInterface(window.findChild<station::PortTile*>(path("D")));
  bool named = false;
  for (int i = 0; i < tileD->childCount(); ++i)
    named |= tileD->child(i)->text(QAccessible::Name) == QStringLiteral("<b>D</b>");
  EXPECT_TRUE(named);
  auto e = startSimulator({.device = {.identText = "ISP E"}, .baud = 19200, .linkPath = at("E")});
  until("E", "программирование, блок ");
  window.stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.running(); }, 10000));

  // A device's line is recorded (and flushed to disk) after its tile turns;
  // a stopped device is neither completed nor failed.
  const auto* totals = window.findChild<QLabel*>(QStringLiteral("totals"));
  const QString tally = QStringLiteral("Завершено: 1    С ошибкой: 0    Остановлено: 1");
  EXPECT_TRUE(QTest::qWaitFor([&] { return totals->text().startsWith(tally); }, 5000)) << totals->text().toStdString();
  ASSERT_EQ(lines->rowCount(), 2);  // the newest first
  const std::pair<const char*, const char*> rows[] = {{"остановлено", "записано"}, {"завершено", "НЕ ЗАПИСАНО: "}};
  for (int r = 0; r < 2; ++r) {
    EXPECT_TRUE(lines->item(r, 3)->text().startsWith(QString::fromUtf8(rows[r].first))) << r;
    EXPECT_TRUE(lines->item(r, 5)->text().startsWith(QString::fromUtf8(rows[r].second))) << r;
  }
  EXPECT_TRUE(window.findChild<QLabel*>(QStringLiteral("status"))->text().contains(QStringLiteral("не хватает строк")));
  // The report's one line: the stopped device's.
  EXPECT_TRUE(holds(contents(at("made.jsonl")), R"("result":"stopped")"));
}

// Every text of a widget's labels shown whole: its words, wrapped where the
// label wraps, within the label's own width and height.
void expectWhole(const QList<QLabel*>& labels) {
  for (const QLabel* l : labels) {
    if (!l->isVisible()) continue;
    const QRect room = l->contentsRect();
    const QRect need = l->fontMetrics().boundingRect(QRect(0, 0, room.width(), 100000),
                                                     l->wordWrap() ? Qt::TextWordWrap : 0, l->text());
    EXPECT_LE(need.width(), room.width()) << l->text().toStdString();
    EXPECT_LE(need.height(), room.height()) << l->text().toStdString();
  }
}

// Sixteen ports named by their USB path fill a screen of 1280 x 1024 (the
// window placed as at its first start) in an even grid, without scrolling,
// every tile's words and the totals whole; so do the totals in the
// narrowest window.
TEST(StationWindow, SixteenPortsFitOnAScreen) {
  TempDir dir;
  std::vector<std::string> ports;
  for (int i = 1; i <= 16; ++i)
    ports.push_back(
        (dir.path() / "serial/by-path" / ("pci-0000:00:14.0-usb-0:1." + std::to_string(i) + ":1.0-port0")).string());
  station::StationWindow window({.file = dir.write("fw.isp", sampleImage()),
                                 .ports = ports,
                                 .report = {.file = (dir.path() / "r").string()},
                                 .intervalMs = 0});
  ASSERT_EQ(window.screen()->size(), QSize(1280, 1024));
  window.placeOnScreen({});
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_TRUE(window.start());
  const auto tiles = window.findChildren<station::PortTile*>();
  ASSERT_EQ(tiles.size(), 16);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return tiles.back()->stateText() == QStringLiteral("нет адаптера") && tiles.back()->isVisible(); }, 5000));
  QTest::qWait(50);  // the layout settles
  EXPECT_LE(window.frameGeometry().height(), 1024);
  const auto* area = window.findChild<QScrollArea*>();
  EXPECT_EQ(area->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
  std::set<std::pair<int, int>> places;
  for (const auto* tile : tiles) {
    // The same size, but for a pixel left over from dividing the height.
    EXPECT_LE(std::abs((tile->size() - tiles.front()->size()).width()), 1);
    EXPECT_LE(std::abs((tile->size() - tiles.front()->size()).height()), 1) << tile->objectName().toStdString();
    places.insert({tile->x(), tile->y()});
  }
  EXPECT_EQ(places.size(), 16u);
  expectWhole(window.findChildren<QLabel*>());
  window.stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.running(); }, 10000));
  window.showNormal();
  window.resize(window.minimumSizeHint());
  QTest::qWait(50);
  expectWhole({window.findChild<QLabel*>(QStringLiteral("totals"))});
}

}  // namespace
}  // namespace isp::test
