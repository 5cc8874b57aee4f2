// The station window on Qt's offscreen platform, with four stand-ins on links
// in a folder of the test's own: devices come and go, one refuses a record,
// one is unplugged in the middle. What the tiles say (as a screen reader
// reads them), the totals, the report and each image.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <fstream>

#include "gui/station/port_tile.h"
#include "gui/station/station_window.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

TEST(StationWindow, ALineOfPorts) {
  TempDir dir;
  const auto image = sampleImage();
  const auto at = [&](const char* name) { return (dir.path() / name).string(); };
  station::StationWindow window({QString::fromStdString(dir.write("fw.isp", image)),
                                 {QString::fromStdString(at("A")), QString::fromStdString(at("B")),
                                  QString::fromStdString(at("C")), QString::fromStdString(at("D"))},
                                 QString::fromStdString(at("made.jsonl")),
                                 0});
  window.show();
  ASSERT_TRUE(window.start());
  // What a screen reader hears of a port's tile.
  const auto heard = [&](const char* name) {
    auto* tile = window.findChild<station::PortTile*>(QString::fromStdString(at(name)));
    QAccessibleInterface* a = tile ? QAccessible::queryAccessibleInterface(tile) : nullptr;
    return a ? a->text(QAccessible::Name) + QStringLiteral(": ") + a->text(QAccessible::Description) : QString();
  };
  const auto until = [&](const char* name, const char* words) {
    const QString said = QString::fromStdString(at(name)) + QStringLiteral(": ") + QString::fromUtf8(words);
    const bool seen = QTest::qWaitFor([&] { return heard(name).startsWith(said); }, 20000);
    EXPECT_TRUE(seen) << name << " never said " << words << ", but " << heard(name).toStdString();
  };
  EXPECT_EQ(heard("A"), QString::fromStdString(at("A")) + QStringLiteral(": ожидание устройства"));

  auto a = startSimulator({.linkPath = at("A")});
  until("A", "завершено в ");
  auto b = startSimulator({.device = {.errorAt = 100}, .linkPath = at("B")});
  until("B", "Ошибка 4, блок 100: устройство не готово");
  auto c = startSimulator({.device = {.hangupAt = 50}, .linkPath = at("C")});
  until("C", "ожидание устройства; предыдущее: отключено во время программирования, Ошибка 256, блок ");
  c.reset();
  a.reset();  // unplugged once done: the port waits for the next device
  until("A", "ожидание устройства");
  auto d = startSimulator({.device = {.identText = "ISP <b>D</b>"}, .linkPath = at("D")});
  until("D", "завершено в ");
  // A name in tags is shown as it came, not as markup (which a reader would hear without its tags).
  QAccessibleInterface* tileD =
      QAccessible::queryAccessibleInterface(window.findChild<station::PortTile*>(QString::fromStdString(at("D"))));
  bool named = false;
  for (int i = 0; i < tileD->childCount(); ++i)
    named |= tileD->child(i)->text(QAccessible::Name) == QStringLiteral("<b>D</b>");
  EXPECT_TRUE(named);
  a = startSimulator({.linkPath = at("A")});
  until("A", "завершено в ");
  EXPECT_EQ(a->image(), image);
  EXPECT_EQ(d->image(), image);

  // A device's line is recorded (and flushed to disk) after its tile turns.
  const auto* totals = window.findChild<QLabel*>(QStringLiteral("totals"));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return totals->text().startsWith(QStringLiteral("Завершено: 3    С ошибкой: 2")); }, 5000))
      << totals->text().toStdString();
  const auto* lines = window.findChild<QTableWidget*>(QStringLiteral("reportLines"));
  ASSERT_EQ(lines->rowCount(), 5);  // the newest first
  EXPECT_EQ(lines->item(0, 3)->text(), QStringLiteral("завершено"));
  EXPECT_TRUE(lines->item(2, 3)->text().startsWith(QStringLiteral("Ошибка 256, блок "))) << "C, cut off";
  EXPECT_EQ(lines->item(3, 3)->text(), QStringLiteral("Ошибка 4, блок 100"));

  window.stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.running(); }, 10000));
  std::ifstream in(at("made.jsonl"));
  int made = 0;
  for (std::string line; std::getline(in, line);) made += line.find("\"result\":\"completed\"") != std::string::npos;
  EXPECT_EQ(made, 3);
}

}  // namespace
}  // namespace isp::test
