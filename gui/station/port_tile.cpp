#include "gui/station/port_tile.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTime>
#include <QVBoxLayout>

#include "gui/common/qt_text.h"
#include "link/protocol.h"
#include "link/result_codes.h"
#include "programming/messages.h"

namespace isp::station {

namespace {

using Kind = production::PortState::Kind;

// Light enough for black type to read at a distance; each state and each
// reason to wait has its own, and the words say the same.
const char* colour(const production::PortState& s, Kind before) {
  using R = production::WaitReason;
  switch (s.kind) {
    case Kind::Waiting:
      switch (s.reason) {
        case R::NotLookedAt: return "#ececec";
        case R::NoAdapter: return "#cfcfcf";
        case R::CannotOpen: return "#e2c6f2";
        case R::Held: return "#f7cf9a";
        case R::NotInProgrammingMode: return "#a9e4dd";
        case R::DamagedReplies: return "#e3c9a8";
        case R::NoAnswer: return "#ececec";
      }
      break;
    case Kind::Identifying: return "#fff1a8";
    case Kind::Programming: return "#b9d7ff";
    case Kind::Completed: return "#b5e6ad";
    case Kind::Failed: return "#f5b3b3";
    case Kind::Gone: return before == Kind::Failed ? "#f5b3b3" : "#ececec";
  }
  return "#ececec";
}

// A tile is a group of words about one port, not a window frame, to a
// screen reader.
QAccessibleInterface* tileAccessible(const QString& key, QObject* object) {
  if (key != QLatin1String(PortTile::staticMetaObject.className()) || !object->isWidgetType()) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
}

}  // namespace

QString stateWords(const production::PortState& s, Kind before) {
  switch (s.kind) {
    case Kind::Waiting:
      switch (s.reason) {
        case production::WaitReason::NotLookedAt: return QStringLiteral("проверка порта");
        case production::WaitReason::NoAdapter: return QStringLiteral("нет адаптера");
        case production::WaitReason::CannotOpen: return QStringLiteral("порт не открывается");
        case production::WaitReason::Held: return QStringLiteral("порт занят другой программой");
        case production::WaitReason::NotInProgrammingMode:
          return ui::qtText(msg::kDevice) + ui::qtText(msg::escapeControls(s.detail)) +
                 ui::qtText(msg::kNotReadyForProgramming);
        case production::WaitReason::DamagedReplies:
          return QStringLiteral("ответ устройства искажён: ") + ui::qtText(msg::resultText(s.code));
        case production::WaitReason::NoAnswer: return QStringLiteral("ожидание устройства: нет ответа");
      }
      break;
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
      return ui::qtText(msg::recordError(s.code, s.failedRecord)) + QStringLiteral(": ") +
             ui::qtText(msg::resultText(s.code)).toLower();
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
  setMinimumWidth(220);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(2);
  // A device path is shown by its last part; the whole path goes beside it.
  const qsizetype slash = port.lastIndexOf(QLatin1Char('/'));
  auto* name = new QLabel(port.mid(slash + 1), this);
  QFont big = font();
  big.setPointSizeF(big.pointSizeF() * 1.9);
  big.setBold(true);
  name->setFont(big);
  auto* where = new QLabel(slash < 0 ? adapter : port + QLatin1Char(' ') + adapter, this);
  where->setWordWrap(true);
  auto* head = new QHBoxLayout;
  head->addWidget(name);
  head->addWidget(where, 1);
  // The state is the largest text after the port's name: read from afar.
  state_ = new QLabel(this);
  big.setPointSizeF(big.pointSizeF() * 0.75);
  state_->setFont(big);
  state_->setWordWrap(true);
  state_->setMinimumHeight(QFontMetrics(big).lineSpacing() * 2);  // room for two lines, however long
  detail_ = new QLabel(this);
  detail_->setWordWrap(true);
  previous_ = new QLabel(this);
  previous_->setWordWrap(true);
  device_ = new QLabel(this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, wire::kRecords);
  progress_->setTextVisible(false);
  progress_->setMaximumHeight(QFontMetrics(font()).height());
  layout->addLayout(head);
  for (QWidget* w : std::initializer_list<QWidget*>{state_, detail_, previous_, device_, progress_})
    layout->addWidget(w);
  layout->addStretch(1);
  // Device and adapter text is shown as it came: a name in tags is no markup.
  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  show(production::PortState{.port = port.toStdString()});
}

void PortTile::show(const production::PortState& s) {
  const QString words = stateWords(s, last_);
  // What the system said of a port that cannot be had, under the words.
  const bool why = s.kind == Kind::Waiting &&
                   (s.reason == production::WaitReason::CannotOpen || s.reason == production::WaitReason::Held);
  detail_->setText(why ? ui::qtText(msg::escapeControls(s.detail)) : QString());
  detail_->setVisible(why);
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
  QString description = words;
  if (why) description += QStringLiteral(": ") + detail_->text();
  if (previous) description += QStringLiteral("; ") + previous_->text();
  setAccessibleDescription(description);
  device_->setText(ui::qtText(msg::escapeControls(s.device)));
  progress_->setVisible(s.kind == Kind::Programming);
  progress_->setValue(s.records);
  // Restyled only when the colour changes: a style sheet costs more than a
  // record's progress is worth.
  if (const char* now = colour(s, last_); now != colour_) {
    colour_ = now;
    setStyleSheet(
        QStringLiteral("isp--station--PortTile { background: %1; border-radius: 6px; }").arg(QLatin1String(now)));
  }
}

QString PortTile::stateText() const { return state_->text(); }

}  // namespace isp::station
