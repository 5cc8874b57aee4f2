#include "gui/station/station_window.h"

#include <QCloseEvent>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

#include "cli/os.h"
#include "gui/qt/qt_text.h"
#include "gui/station/port_tile.h"
#include "programming/file_access.h"
#include "programming/messages.h"

namespace isp::station {

namespace {

constexpr int kColumns = 4;
constexpr int kShownLines = 200;

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

// "завершено", "Ошибка 256, блок 100", ...: a finished device in a word.
QString resultWords(const cli::JobResult& job) {
  switch (job.status) {
    case cli::kCompleted: return QStringLiteral("завершено");
    case cli::kNotCompleted: return QStringLiteral("Ошибка %1, блок %2").arg(job.code).arg(job.failedBlock);
    case cli::kNotIdentified: return QStringLiteral("не опознано");
    default: return QStringLiteral("остановлено");
  }
}

}  // namespace

QString defaultReport() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/isp-programmer/reports/") + QDate::currentDate().toString(Qt::ISODate) +
         QStringLiteral(".jsonl");
}

StationWindow::StationWindow(StationSettings settings, QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Станция программирования"));
  auto* layout = new QVBoxLayout(this);

  setup_ = new QWidget(this);
  auto* form = new QFormLayout(setup_);
  file_ = new QLineEdit(setup_);
  file_->setReadOnly(true);
  // A field with its chooser beside it.
  const auto withButton = [&](const QString& label, QWidget* field, const QString& button) {
    auto* row = new QHBoxLayout;
    auto* choose = new QPushButton(button, setup_);
    row->addWidget(field);
    row->addWidget(choose);
    form->addRow(label, row);
    return choose;
  };
  auto* chooseFile = withButton(QStringLiteral("Файл программы"), file_, QStringLiteral("Файл…"));
  fileFacts_ = new QLabel(setup_);
  form->addRow(QString(), fileFacts_);
  ports_ = new QListWidget(setup_);
  ports_->setMaximumHeight(140);
  ports_->setAccessibleName(QStringLiteral("Порты"));
  form->addRow(QStringLiteral("Порты"), ports_);
  report_ = new QLineEdit(settings.report.isEmpty() ? defaultReport() : settings.report, setup_);
  report_->setAccessibleName(QStringLiteral("Отчёт"));
  auto* chooseReport = withButton(QStringLiteral("Отчёт"), report_, QStringLiteral("Папка…"));
  interval_ = new QSpinBox(setup_);
  interval_->setRange(0, 60000);
  interval_->setSuffix(QStringLiteral(" мс"));
  interval_->setValue(settings.intervalMs);
  interval_->setAccessibleName(QStringLiteral("Интервал между блоками"));
  form->addRow(QStringLiteral("Интервал"), interval_);
  layout->addWidget(setup_);

  start_ = new QPushButton(QStringLiteral("&Начать (F5)"), this);
  stop_ = new QPushButton(QStringLiteral("&Остановить (Shift+F5)"), this);
  stop_->setEnabled(false);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addWidget(status_, 1);
  layout->addLayout(buttons);

  auto* area = new QScrollArea(this);
  auto* tiles = new QWidget(area);
  tiles_ = new QGridLayout(tiles);
  tiles_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  area->setWidget(tiles);
  area->setWidgetResizable(true);
  layout->addWidget(area, 3);

  totals_ = new QLabel(this);
  totals_->setObjectName(QStringLiteral("totals"));
  QFont big = totals_->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  totals_->setFont(big);
  layout->addWidget(totals_);

  lines_ = new QTableWidget(0, 5, this);
  lines_->setObjectName(QStringLiteral("reportLines"));
  lines_->setAccessibleName(QStringLiteral("Последние строки отчёта"));
  lines_->setHorizontalHeaderLabels({QStringLiteral("Время"), QStringLiteral("Порт"), QStringLiteral("Устройство"),
                                     QStringLiteral("Итог"), QStringLiteral("Длительность")});
  lines_->horizontalHeader()->setStretchLastSection(true);
  lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  layout->addWidget(lines_, 1);

  connect(chooseFile, &QPushButton::clicked, this, &StationWindow::chooseFile);
  connect(chooseReport, &QPushButton::clicked, this, &StationWindow::chooseReport);
  connect(start_, &QPushButton::clicked, this, &StationWindow::start);
  connect(stop_, &QPushButton::clicked, this, &StationWindow::stop);
  connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this, &StationWindow::start);
  connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5), this), &QShortcut::activated, this, &StationWindow::stop);
  connect(&clock_, &QTimer::timeout, this, &StationWindow::showTotals);

  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  fillPorts(settings.ports);
  if (!settings.file.isEmpty()) loadImage(settings.file);
  showTotals();
  resize(1100, 800);
}

StationWindow::~StationWindow() {
  if (!thread_) return;
  stop_source_.request_stop();
  thread_->join();
}

StationSettings StationWindow::settings() const {
  StationSettings s{file_->text(), {}, report_->text(), interval_->value()};
  for (int i = 0; i < ports_->count(); ++i)
    if (ports_->item(i)->checkState() == Qt::Checked) s.ports << ports_->item(i)->data(Qt::UserRole).toString();
  return s;
}

// The ports there are, looked at without opening any, and the paths asked
// for beside them; those asked for are checked.
void StationWindow::fillPorts(const QStringList& wanted) {
  const auto platform = cli::serialPlatform();
  const auto add = [&](const QString& name, const Port& p, const QString& why) {
    QString text = name;
    if (name != fromUtf8(p.node) && !p.node.empty()) text += QStringLiteral("   ") + fromUtf8(p.node);
    if (!p.adapter.empty()) text += QStringLiteral("   ") + ui::qtText(msg::escapeControls(p.adapter));
    if (!why.isEmpty()) text += QStringLiteral("   (") + why + QStringLiteral(")");
    auto* item = new QListWidgetItem(text, ports_);
    item->setData(Qt::UserRole, name);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    const bool all = wanted.contains(QStringLiteral("all"), Qt::CaseInsensitive);
    item->setCheckState(all || wanted.contains(name, Qt::CaseInsensitive) ? Qt::Checked : Qt::Unchecked);
  };
  for (int n = kFirstPort; n <= kLastPort; ++n) {
    const PortStatus status = platform->check(n);
    if (status.error != SerialError::NotFound) add(fromUtf8(comName(n)), platform->port(n), fromUtf8(status.why));
  }
  for (const QString& name : wanted)
    if (name.contains(QLatin1Char('/'))) add(name, cli::serialPlatform(name.toStdString())->port(kFirstPort), {});
}

// The file is read at once: a file that cannot hold an image is refused
// before any device is in sight.
bool StationWindow::loadImage(const QString& path) {
  file_->setText(path);
  std::string lines;
  image_.choose(path.toStdString(), lines);
  const bool opened = image_.fileOpen();
  imageOk_ = opened && image_.fileCanHoldImage() && image_.makeReady(lines);
  if (!imageOk_) {
    fileFacts_->setText(opened ? QStringLiteral("Файл не подходит: в нём нет %1 байт").arg(wire::kImageSize)
                               : QStringLiteral("Файл не открыт: ") + fromUtf8(openFailure(image_.openError())));
    fileFacts_->setStyleSheet(QStringLiteral("color: #a00000"));
    return false;
  }
  facts_ = cli::imageFacts(path.toStdString(), image_);
  fileFacts_->setText(
      QStringLiteral("%1 байт, SHA-256 %2").arg(facts_.size).arg(fromUtf8(facts_.sha256.substr(0, 12))));
  fileFacts_->setStyleSheet({});
  return true;
}

void StationWindow::chooseFile() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Файл программы"), file_->text(),
                                                    QStringLiteral("Файл программы (*.isp);;Все файлы (*)"));
  if (!path.isEmpty()) loadImage(path);
}

void StationWindow::chooseReport() {
  const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Папка отчётов"),
                                                        QFileInfo(report_->text()).absolutePath());
  if (!dir.isEmpty()) report_->setText(dir + QLatin1Char('/') + QFileInfo(defaultReport()).fileName());
}

void StationWindow::refuse(const QString& why) {
  status_->setText(why);
  status_->setStyleSheet(QStringLiteral("color: #a00000"));
}

bool StationWindow::start() {
  if (running()) return true;
  if (!imageOk_) {
    refuse(QStringLiteral("Нет файла программы"));
    return false;
  }
  const StationSettings s = settings();
  std::vector<cli::PortTarget> targets;
  for (const QString& name : s.ports) {
    const int n = name.startsWith(QStringLiteral("COM")) ? name.mid(3).toInt() : 0;
    targets.push_back({name.toStdString(), n});
  }
  if (targets.empty()) {
    refuse(QStringLiteral("Не выбран ни один порт"));
    return false;
  }
  // The record is opened before any device is touched, as isp-flash does.
  std::string error = makePrivateFolder(QFileInfo(s.report).absolutePath().toStdString());
  if (!error.empty()) {
    refuse(QStringLiteral("Папка отчёта не создана: ") + fromUtf8(error));
    return false;
  }
  auto file = cli::RecordFile::open(s.report.toStdString(), &error);
  if (!file) {
    refuse(QStringLiteral("Отчёт не может быть записан: ") + fromUtf8(error));
    return false;
  }
  record_ = std::make_unique<cli::ProductionRecord>(std::move(file));

  for (auto& [port, tile] : tileOf_) delete tile;
  tileOf_.clear();
  kindOf_.clear();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const QString name = fromUtf8(targets[i].name);
    QString where;  // the list's words for the port, after its name
    for (int k = 0; k < ports_->count(); ++k)
      if (ports_->item(k)->data(Qt::UserRole).toString() == name)
        where = ports_->item(k)->text().mid(name.size()).trimmed();
    auto* tile = new PortTile(name, where);
    tiles_->addWidget(tile, static_cast<int>(i) / kColumns, static_cast<int>(i) % kColumns);
    tileOf_[targets[i].name] = tile;
  }
  options_.intervalMs = s.intervalMs;
  completed_ = failed_ = 0;
  closeWhenEnded_ = false;
  stop_source_ = std::stop_source();
  station_ = std::make_unique<cli::Station>(
      cli::StationSetup{.ports = targets, .stop = stop_source_.get_token(), .observer = this, .quiet = true}, options_,
      terminal_, image_, facts_, record_.get());
  thread_ = std::make_unique<std::thread>([this] {
    station_->run();
    QMetaObject::invokeMethod(
        this, [this] { ended(); }, Qt::QueuedConnection);
  });
  setup_->setVisible(false);  // the tiles get the room while the line runs
  start_->setEnabled(false);
  stop_->setEnabled(true);
  status_->setStyleSheet({});
  status_->setText(QStringLiteral("Станция работает; отчёт: ") + s.report);
  since_.start();
  clock_.start(1000);
  showTotals();
  if (!tileOf_.empty()) tileOf_.begin()->second->setFocus();
  if (onStarted) onStarted(s);
  return true;
}

void StationWindow::stop() {
  if (!running()) return;
  stop_source_.request_stop();
  stop_->setEnabled(false);
  status_->setText(QStringLiteral("Остановка…"));
}

void StationWindow::ended() {
  thread_->join();
  thread_.reset();
  station_.reset();
  clock_.stop();
  setup_->setVisible(true);
  start_->setEnabled(true);
  stop_->setEnabled(false);
  if (record_->lineMissing())
    refuse(QStringLiteral("Станция остановлена; в отчёте не хватает строк: ") + report_->text());
  else
    status_->setText(QStringLiteral("Станция остановлена"));
  record_.reset();
  emit stationEnded();
  if (closeWhenEnded_) close();
}

bool StationWindow::programming() const {
  for (const auto& [port, kind] : kindOf_)
    if (kind == cli::PortState::Identifying || kind == cli::PortState::Programming) return true;
  return false;
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (!running()) return event->accept();
  if (programming() &&
      QMessageBox::question(this, windowTitle(),
                            QStringLiteral("Идёт программирование устройств. Остановить передачу и закрыть окно?")) !=
          QMessageBox::Yes)
    return event->ignore();
  if (!running()) return event->accept();  // ended while the question was asked
  closeWhenEnded_ = true;
  stop();
  event->ignore();  // closed once every transfer has ended
}

// On a port's own thread. Progress comes as fast as a device acknowledges:
// a run of counts is one change to show, and the window is woken once for
// whatever has piled up, so that a busy line cannot flood its event loop.
void StationWindow::changed(const cli::PortState& state) {
  {
    std::lock_guard lock(changesMu_);
    std::vector<cli::PortState>& queue = changes_[state.port];
    if (!queue.empty() && queue.back().kind == cli::PortState::Programming && state.kind == cli::PortState::Programming)
      queue.back() = state;
    else
      queue.push_back(state);
    if (std::exchange(changesPosted_, true)) return;
  }
  QMetaObject::invokeMethod(
      this, [this] { showChanges(); }, Qt::QueuedConnection);
}

void StationWindow::showChanges() {
  std::map<std::string, std::vector<cli::PortState>> changes;
  {
    std::lock_guard lock(changesMu_);
    changes.swap(changes_);
    changesPosted_ = false;
  }
  for (const auto& [port, states] : changes)
    for (const cli::PortState& state : states) {
      kindOf_[port] = state.kind;
      if (const auto it = tileOf_.find(port); it != tileOf_.end()) it->second->show(state);
    }
}

void StationWindow::finished(const cli::JobResult& job, const std::string& recordError) {
  QMetaObject::invokeMethod(
      this,
      [this, job, recordError] {
        // A device without its line in the record is said, and stays said.
        if (!recordError.empty())
          refuse(QStringLiteral("Строка отчёта для %1 не записана: %2").arg(fromUtf8(job.port), fromUtf8(recordError)));
        ++(job.status == cli::kCompleted ? completed_ : failed_);
        lines_->insertRow(0);
        const double seconds = std::chrono::duration<double>(job.ended - job.started).count();
        const QString cells[] = {QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(job.ended))
                                     .toString(QStringLiteral("HH:mm:ss")),
                                 fromUtf8(job.port), ui::qtText(msg::escapeControls(job.device)), resultWords(job),
                                 QStringLiteral("%1 с").arg(seconds, 0, 'f', 1)};
        for (int c = 0; c < 5; ++c) lines_->setItem(0, c, new QTableWidgetItem(cells[c]));
        if (lines_->rowCount() > kShownLines) lines_->removeRow(kShownLines);
        showTotals();
      },
      Qt::QueuedConnection);
}

void StationWindow::showTotals() {
  const qint64 s = running() ? since_.elapsed() / 1000 : 0;
  const int devices = completed_ + failed_;
  const QString perHour =
      s >= 60 ? QString::number(devices * 3600.0 / static_cast<double>(s), 'f', 1) : QStringLiteral("—");
  totals_->setText(QStringLiteral("Завершено: %1    С ошибкой: %2    Устройств в час: %3    С начала: %4:%5:%6")
                       .arg(completed_)
                       .arg(failed_)
                       .arg(perHour)
                       .arg(s / 3600)
                       .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                       .arg(s % 60, 2, 10, QLatin1Char('0')));
}

}  // namespace isp::station
