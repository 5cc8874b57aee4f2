#include "gui/station/port_tile.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QTime>
#include <QVBoxLayout>

#include "gui/qt/qt_text.h"
#include "link/protocol.h"
#include "link/result_codes.h"
#include "programming/messages.h"

namespace isp::station {

namespace {

using Kind = cli::PortState::Kind;

// Light enough for black type to read at a distance; the words say the same.
const char* colour(Kind kind, Kind before) {
  switch (kind) {
    case Kind::Waiting: return "#e4e4e4";
    case Kind::Identifying: return "#fff1a8";
    case Kind::Programming: return "#b9d7ff";
    case Kind::Completed: return "#b5e6ad";
    case Kind::Failed: return "#f5b3b3";
    case Kind::Gone: return before == Kind::Failed ? "#f5b3b3" : "#e4e4e4";
  }
  return "#e4e4e4";
}

// A tile is a group of words about one port, not a window frame, to a
// screen reader.
QAccessibleInterface* tileAccessible(const QString& key, QObject* object) {
  if (key != QLatin1String(PortTile::staticMetaObject.className()) || !object->isWidgetType()) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
}

}  // namespace

QString stateWords(const cli::PortState& s, Kind before) {
  switch (s.kind) {
    case Kind::Waiting: return QStringLiteral("ожидание устройства");
    case Kind::Identifying: return QStringLiteral("опознание устройства");
    case Kind::Programming:
      return QStringLiteral("программирование, блок %1 из %2").arg(std::max(s.records - 1, 0)).arg(wire::kDataRecords);
    case Kind::Completed:
      return QStringLiteral("завершено в %1").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    case Kind::Failed:
      // No record failed: the device did not answer a second time, or the
      // transfer was stopped before it began.
      if (s.failedRecord < 0 && s.code == 0) return ui::qtText(msg::kTransferStopped);
      if (s.failedRecord < 0 && s.code == rc::kNotInProgrammingMode)
        return QStringLiteral("устройство") + ui::qtText(msg::kNotReadyForProgramming);
      if (s.failedRecord < 0) return ui::qtText(msg::resultText(s.code));
      return QStringLiteral("Ошибка %1, блок %2: %3")
          .arg(s.code)
          .arg(s.failedRecord)
          .arg(ui::qtText(msg::resultText(s.code)).toLower());
    case Kind::Gone:
      return before == Kind::Failed ? QStringLiteral("отключено во время программирования")
                                    : QStringLiteral("устройство отключено");
  }
  return {};
}

PortTile::PortTile(const QString& port, const QString& adapter, QWidget* parent) : QFrame(parent) {
  static const bool installed = (QAccessible::installFactory(tileAccessible), true);
  (void)installed;
  setObjectName(port);
  setAccessibleName(port);
  setFrameShape(QFrame::StyledPanel);
  setFocusPolicy(Qt::StrongFocus);  // Tab moves across the tiles
  setMinimumWidth(240);
  auto* layout = new QVBoxLayout(this);
  // A device path is shown by its last part; the whole path goes below.
  const qsizetype slash = port.lastIndexOf(QLatin1Char('/'));
  auto* name = new QLabel(port.mid(slash + 1), this);
  QFont big = font();
  big.setPointSizeF(big.pointSizeF() * 2);
  big.setBold(true);
  name->setFont(big);
  auto* where = new QLabel(slash < 0 ? adapter : port + QLatin1Char(' ') + adapter, this);
  where->setWordWrap(true);
  state_ = new QLabel(this);
  big.setBold(false);
  big.setPointSizeF(big.pointSizeF() * 0.7);
  state_->setFont(big);
  state_->setWordWrap(true);
  state_->setMinimumHeight(QFontMetrics(big).lineSpacing() * 2);  // room for two lines, however long
  previous_ = new QLabel(this);
  previous_->setWordWrap(true);
  device_ = new QLabel(this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, wire::kRecords);
  progress_->setTextVisible(false);
  for (QWidget* w : std::initializer_list<QWidget*>{name, where, state_, previous_, device_, progress_})
    layout->addWidget(w);
  // Device and adapter text is shown as it came: a name in tags is no markup.
  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  show(cli::PortState{.port = port.toStdString()});
}

void PortTile::show(const cli::PortState& s) {
  const QString words = stateWords(s, last_);
  // A device's end stays in view, in a line of its own, until the next one
  // is identified: an unplug in the middle is not lost to the waiting.
  if (s.kind == Kind::Completed || s.kind == Kind::Failed) outcome_ = words;
  if (s.kind == Kind::Gone && last_ == Kind::Failed) outcome_ = words + QStringLiteral(", ") + outcome_;
  if (s.kind == Kind::Identifying) outcome_.clear();
  if (s.kind != Kind::Gone) last_ = s.kind;
  const bool previous = s.kind == Kind::Waiting && !outcome_.isEmpty();
  previous_->setText(previous ? QStringLiteral("предыдущее: ") + outcome_ : QString());
  previous_->setVisible(previous);
  state_->setText(words);
  setAccessibleDescription(previous ? words + QStringLiteral("; ") + previous_->text() : words);
  device_->setText(ui::qtText(msg::escapeControls(s.device)));
  progress_->setVisible(s.kind == Kind::Programming);
  progress_->setValue(s.records);
  // Restyled only when the colour changes: a style sheet costs more than a
  // record's progress is worth.
  if (const char* now = colour(s.kind, last_); now != colour_) {
    colour_ = now;
    setStyleSheet(
        QStringLiteral("isp--station--PortTile { background: %1; border-radius: 6px; }").arg(QLatin1String(now)));
  }
}

QString PortTile::stateText() const { return state_->text(); }

}  // namespace isp::station
