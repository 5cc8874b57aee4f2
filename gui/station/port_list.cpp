#include "gui/station/port_list.h"

#include <QSignalBlocker>

#include "gui/common/qt_text.h"
#include "production/station_words.h"

namespace isp::station {

PortList::PortList(QWidget* parent) : QListWidget(parent) {
  setAccessibleName(ui::qtText(production::words::kPorts));
  connect(this, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (onChosen) onChosen(item->data(Qt::UserRole).toString().toStdString(), item->checkState() == Qt::Checked);
  });
}

void PortList::show(const std::vector<production::PortRow>& rows) {
  const QSignalBlocker quiet(this);
  const QString current = currentItem() ? currentItem()->data(Qt::UserRole).toString() : QString();
  clear();
  for (const production::PortRow& row : rows) {
    const std::string& where = row.port.where;
    auto* item = new QListWidgetItem(
        QString::fromStdString(where.empty() ? row.port.name : row.port.name + "   " + where), this);
    item->setData(Qt::UserRole, QString::fromStdString(row.port.name));
    item->setFlags(fixed ? Qt::ItemIsEnabled : item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(row.chosen ? Qt::Checked : Qt::Unchecked);
    if (item->data(Qt::UserRole).toString() == current) setCurrentItem(item);
  }
}

}  // namespace isp::station
