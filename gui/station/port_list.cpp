#include "gui/station/port_list.h"

#include <QSignalBlocker>
#include <vector>

#include "gui/common/qt_text.h"
#include "production/line_setup.h"
#include "production/station_words.h"

namespace isp::station {

QString portName(const QString& given) {
  return QString::fromStdString(production::stationPortName(given.toStdString()));
}

namespace {

struct Row {
  QString name, where, place;
};

std::vector<std::string> utf8(const QStringList& names) {
  std::vector<std::string> out;
  for (const QString& n : names) out.push_back(n.toStdString());
  return out;
}

QStringList qt(const std::vector<std::string>& names) {
  QStringList out;
  for (const std::string& n : names) out << QString::fromStdString(n);
  return out;
}

}  // namespace

PortList::PortList(const QStringList& chosen, std::function<std::unique_ptr<SerialPlatform>()> comPorts,
                   QWidget* parent)
    : QListWidget(parent), comPorts_(std::move(comPorts)) {
  setAccessibleName(ui::qtText(production::words::kPorts));
  const std::vector<std::string> names = production::chosenPorts(utf8(chosen), *comPorts_());
  chosen_ = qt(names);
  paths_ = qt(production::devicePaths(names));
  connect(this, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const QString name = item->data(Qt::UserRole).toString();
    chosen_.removeAll(name);
    if (item->checkState() == Qt::Checked) chosen_ << name;
  });
  refresh();
}

void PortList::refresh() {
  std::vector<Row> rows;
  for (const production::PortChoice& c : production::portChoices(*comPorts_(), utf8(chosen_), utf8(paths_)))
    rows.push_back({QString::fromStdString(c.name), QString::fromStdString(c.where), QString::fromStdString(c.place)});
  bool same = static_cast<int>(rows.size()) == count();
  for (int i = 0; same && i < count(); ++i)
    same = item(i)->data(Qt::UserRole).toString() == rows[i].name &&
           item(i)->data(Qt::UserRole + 1).toString() == rows[i].where;
  if (same) return;  // left as it is: the user's place in the list stays
  const QSignalBlocker quiet(this);
  const QString current = currentItem() ? currentItem()->data(Qt::UserRole).toString() : QString();
  clear();
  for (const Row& row : rows) {
    auto* item =
        new QListWidgetItem(row.where.isEmpty() ? row.name : row.name + QStringLiteral("   ") + row.where, this);
    item->setData(Qt::UserRole, row.name);
    item->setData(Qt::UserRole + 1, row.where);
    item->setData(Qt::UserRole + 2, row.place);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(chosen_.contains(row.name) ? Qt::Checked : Qt::Unchecked);
    if (row.name == current) setCurrentItem(item);
  }
}

QStringList PortList::chosen() const {
  QStringList names;
  for (int i = 0; i < count(); ++i)
    if (item(i)->checkState() == Qt::Checked) names << item(i)->data(Qt::UserRole).toString();
  return names;
}

QString PortList::whereOf(const QString& name) const {
  for (int i = 0; i < count(); ++i)
    if (item(i)->data(Qt::UserRole).toString() == name) return item(i)->data(Qt::UserRole + 2).toString();
  return {};
}

}  // namespace isp::station
