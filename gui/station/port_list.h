#pragma once
#include <QListWidget>
#include <QStringList>
#include <functional>
#include <memory>

#include "serial/serial_port.h"

namespace isp::station {

// A port's name as the station shows and keeps it: "COM5" for "5" or
// "com5", a device path as it is; empty for a name that is neither.
QString portName(const QString& given);

// The set-up's ports: every port the system has now, looked at without
// opening any, and every port chosen whether or not its adapter is there
// (a line plugs its adapters in after the computer starts). Refreshed as
// adapters come and go; what the user chose stays chosen.
class PortList final : public QListWidget {
  Q_OBJECT
 public:
  // chosen: port names, or "all" for every port there is now.
  // comPorts: the system's COM1 to COM20.
  PortList(const QStringList& chosen, std::function<std::unique_ptr<SerialPlatform>()> comPorts,
           QWidget* parent = nullptr);
  // The chosen ports in the list's order.
  QStringList chosen() const;
  // What the list knows of where a port is: its node and its adapter.
  QString whereOf(const QString& name) const;
  void refresh();

 private:
  std::function<std::unique_ptr<SerialPlatform>()> comPorts_;
  QStringList chosen_;
  QStringList paths_;  // device paths given: listed, chosen or not
};

}  // namespace isp::station
