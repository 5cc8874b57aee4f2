#pragma once
#include <QFrame>
#include <QString>

#include "production/station.h"

class QLabel;
class QProgressBar;

namespace isp::station {

// One port of the line: its name and adapter, what is happening there in
// large words and in a colour, the device's name and the transfer's
// progress. A screen reader reads the port as the tile's name and the state
// as its description: "COM7: программирование, блок 130 из 512".
class PortTile final : public QFrame {
  Q_OBJECT
 public:
  PortTile(const QString& port, const QString& adapter, QWidget* parent = nullptr);
  void show(const production::PortState& state);
  QString stateText() const;

 private:
  QLabel* state_;
  QLabel* detail_;    // why a port cannot be had, in the system's words
  QLabel* previous_;  // how the last device ended, once the port waits again
  QLabel* device_;
  QProgressBar* progress_;
  production::PortState::Kind last_ = production::PortState::Waiting;
  QString outcome_;               // the last device's end, in words
  const char* colour_ = nullptr;  // the background now
};

// The words for a port's state, as the tile shows them.
QString stateWords(const production::PortState& state, production::PortState::Kind before);

}  // namespace isp::station
