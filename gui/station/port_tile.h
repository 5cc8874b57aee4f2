#pragma once
#include <QFrame>
#include <QString>

#include "production/line_view.h"

class QBoxLayout;
class QLabel;
class QProgressBar;

namespace isp::station {

// One port of the line as the view of the line words it: its name and
// adapter, what is happening there in large words and in a colour, the
// device's name and the transfer's progress. A screen reader reads the port
// as the tile's name and the state as its description.
class PortTile final : public QFrame {
  Q_OBJECT
 public:
  explicit PortTile(const production::Tile& tile, QWidget* parent = nullptr);
  void show(const production::Tile& tile);
  QString stateText() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QBoxLayout* head_;  // the name, and where the port is
  QLabel* name_;
  QLabel* where_;
  QLabel* state_;
  QLabel* detail_;
  QLabel* previous_;
  QLabel* device_;
  QProgressBar* progress_;
  std::uint32_t colour_ = 0x1000000;  // the background now; none yet
};

}  // namespace isp::station
