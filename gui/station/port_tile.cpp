#include "gui/station/port_tile.h"

#include <QAccessibleWidget>
#include <QBoxLayout>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "link/protocol.h"

namespace isp::station {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A tile is a group of words about one port, not a window frame, to a
// screen reader.
QAccessibleInterface* tileAccessible(const QString& key, QObject* object) {
  if (key != QLatin1String(PortTile::staticMetaObject.className()) || !object->isWidgetType()) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
}

void setShown(QLabel* label, const std::string& words) {
  label->setText(text(words));
  label->setVisible(!words.empty());
}

}  // namespace

PortTile::PortTile(const production::Tile& tile, QWidget* parent) : QFrame(parent) {
  static const bool installed = (QAccessible::installFactory(tileAccessible), true);
  (void)installed;
  setObjectName(text(tile.port));
  setAccessibleName(text(tile.port));
  setFrameShape(QFrame::StyledPanel);
  setFocusPolicy(Qt::StrongFocus);  // Tab moves across the tiles
  setMinimumWidth(220);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(2);
  auto* name = name_ = new QLabel(text(tile.name), this);
  QFont big = font();
  big.setPointSizeF(big.pointSizeF() * 1.9);
  big.setBold(true);
  name->setFont(big);
  auto* where = where_ = new QLabel(text(tile.where), this);
  where->setWordWrap(true);
  head_ = new QBoxLayout(QBoxLayout::LeftToRight);
  head_->addWidget(name);
  head_->addWidget(where, 1);
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
  layout->addLayout(head_);
  for (QWidget* w : std::initializer_list<QWidget*>{state_, detail_, previous_, device_, progress_})
    layout->addWidget(w);
  layout->addStretch(1);
  // Device and adapter text is shown as it came: a name in tags is no markup.
  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  show(tile);
}

void PortTile::show(const production::Tile& tile) {
  state_->setText(text(tile.state));
  setShown(detail_, tile.detail);
  setShown(previous_, tile.previous);
  device_->setText(text(tile.device));
  setAccessibleDescription(text(tile.description()));
  progress_->setVisible(tile.programming());
  progress_->setValue(tile.records);
  // Restyled only when the colour changes: a style sheet costs more than a
  // record's progress is worth.
  if (const std::uint32_t now = production::tileColour(tile.kind); now != colour_) {
    colour_ = now;
    setStyleSheet(QStringLiteral("isp--station--PortTile { background: #%1; border-radius: 6px; }")
                      .arg(now, 6, 16, QLatin1Char('0')));
  }
}

QString PortTile::stateText() const { return state_->text(); }

// Where the port is goes beside its name, or under it when the name leaves
// too little room for its longest word: neither is cut.
void PortTile::resizeEvent(QResizeEvent* event) {
  const int room = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
  const int beside = room - name_->sizeHint().width() - std::max(head_->spacing(), 0);
  head_->setDirection(beside >= where_->minimumSizeHint().width() ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
  QFrame::resizeEvent(event);
}

}  // namespace isp::station
