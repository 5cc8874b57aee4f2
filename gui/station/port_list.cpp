#include "gui/station/port_list.h"

#include <QSignalBlocker>
#include <vector>

#include "gui/common/qt_text.h"
#include "production/os.h"
#include "programming/messages.h"
#include "serial/port_target.h"

namespace isp::station {

QString portName(const QString& given) {
  const std::optional<int> n = portNumber(given.toStdString());
  if (!n) return {};
  return *n == 0 ? given : QString::fromStdString(comName(*n));
}

namespace {

struct Row {
  QString name, where, place;
};

// The node and the adapter.
QString placeText(const Port& p) {
  QString text;
  if (p.name != p.node && !p.node.empty()) text += QString::fromStdString(p.node);
  if (!p.adapter.empty()) text += QStringLiteral("   ") + ui::qtText(msg::escapeControls(p.adapter));
  return text.trimmed();
}

// The node, the adapter and why the port cannot be had, as the list shows them.
QString whereText(const Port& p, const PortStatus& status) {
  QString text = placeText(p);
  if (status.error == SerialError::NotFound)
    text += QStringLiteral("   (нет адаптера)");
  else if (!status)
    text += QStringLiteral("   (") + ui::qtText(msg::escapeControls(status.why)) + QStringLiteral(")");
  return text.trimmed();
}

std::vector<Row> listing(SerialPlatform& platform, const QStringList& chosen, const QStringList& paths) {
  std::vector<Row> rows;
  for (int n = kFirstPort; n <= kLastPort; ++n) {
    const PortStatus status = platform.check(n);
    const QString name = QString::fromStdString(comName(n));
    if (status.error != SerialError::NotFound || chosen.contains(name))
      rows.push_back({name, whereText(platform.port(n), status), placeText(platform.port(n))});
  }
  for (const QString& name : paths) {
    const PortTarget path{name.toStdString(), 0};
    const auto one = production::serialPlatform();
    const Port p = one->port(path);
    rows.push_back({name, whereText(p, one->check(path)), placeText(p)});
  }
  return rows;
}

}  // namespace

PortList::PortList(const QStringList& chosen, std::function<std::unique_ptr<SerialPlatform>()> comPorts,
                   QWidget* parent)
    : QListWidget(parent), comPorts_(std::move(comPorts)) {
  setAccessibleName(QStringLiteral("Порты"));
  const bool all = chosen.contains(QStringLiteral("all"), Qt::CaseInsensitive);
  for (const QString& given : chosen)
    if (const QString name = portName(given); !name.isEmpty() && !chosen_.contains(name)) chosen_ << name;
  for (const QString& name : chosen_)
    if (portNumber(name.toStdString()) == 0) paths_ << name;
  if (all)
    for (const Row& row : listing(*comPorts_(), {}, {}))
      if (!chosen_.contains(row.name)) chosen_ << row.name;
  connect(this, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const QString name = item->data(Qt::UserRole).toString();
    chosen_.removeAll(name);
    if (item->checkState() == Qt::Checked) chosen_ << name;
  });
  refresh();
}

void PortList::refresh() {
  const std::vector<Row> rows = listing(*comPorts_(), chosen_, paths_);
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
