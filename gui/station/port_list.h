#pragma once
#include <QListWidget>
#include <functional>
#include <string>
#include <vector>

#include "production/station_control.h"

namespace isp::station {

// The set-up's ports as the station's control lists them: a tick for each
// chosen one. Redrawn only when the list changed; the user's place stays.
class PortList final : public QListWidget {
  Q_OBJECT
 public:
  explicit PortList(QWidget* parent = nullptr);
  void show(const std::vector<production::PortRow>& rows);
  std::function<void(const std::string& name, bool chosen)> onChosen;
  bool fixed = false;  // operator mode: the ticks are shown, not changed
};

}  // namespace isp::station
