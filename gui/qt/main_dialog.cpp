#include "gui/qt/main_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <memory>

#include "gui/common/qt_text.h"
#include "gui/qt/about_box.h"
#include "gui/qt/app_icon.h"
#include "gui/qt/dialog_units.h"
#include "programming/about_text.h"
#include "programming/messages.h"

namespace isp::ui {

// The labels show "(*.*)" as they always have; on Windows that pattern
// matches every name, but Qt takes it literally and would hide names without
// a dot. So each filter carries its real pattern after the label, and the
// dialog shows the labels only.
void setFirmwareFilters(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(
      {qtText(msg::kFileFilterIsp) + QStringLiteral(" (*.isp)"), qtText(msg::kFileFilterAll) + QStringLiteral(" (*)")});
}

std::optional<QString> chooseFirmwareFile(QWidget* owner) {
  QFileDialog dialog(owner);
  dialog.setFileMode(QFileDialog::ExistingFile);
  setFirmwareFilters(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

CMainDialog::CMainDialog(Link& link, Options options, QWidget* parent)
    : QDialog(parent), m_options(std::move(options)), m_rules(link, *this, m_options.timerPeriodMs) {
  if (!m_options.chooseFile) m_options.chooseFile = chooseFirmwareFile;
  createControls();
  wireMessageMap();
  OnInitDialog();
}

// Positions and sizes are the dialog template's, in dialog units; the
// template order is the tab order.
void CMainDialog::createControls() {
  setObjectName(QStringLiteral("IDD_MAIN"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QStringLiteral("Программирование"));
  setWindowIcon(appIcon());
  setFont(dialogFont());
  const DialogBase base = dialogBase(font());
  auto place = [&](QWidget* w, const char* id, const QString& accessible, QRect dlu) {
    w->setObjectName(QString::fromLatin1(id));
    w->setAccessibleName(accessible);
    w->setGeometry(dluToPixels(dlu, base));
  };

  m_btnExit = new QPushButton(QStringLiteral("Выход"), this);
  place(m_btnExit, "IDOK", m_btnExit->text(), {248, 107, 48, 14});
  m_btnExit->setDefault(true);

  m_log = new QPlainTextEdit(this);
  place(m_log, "IDC_LOG", QStringLiteral("Журнал"), {7, 30, 231, 74});
  m_log->setReadOnly(true);
  m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_log->setContextMenuPolicy(Qt::CustomContextMenu);

  m_progress = new QProgressBar(this);
  place(m_progress, "IDC_PROGRESS", QStringLiteral("Ход записи"), {7, 111, 231, 10});
  m_progress->setTextVisible(false);
  m_progress->setFocusPolicy(Qt::NoFocus);

  m_btnFile = new QPushButton(QStringLiteral("Файл"), this);
  place(m_btnFile, "IDC_FILE", m_btnFile->text(), {7, 7, 54, 13});

  m_btnTransmit = new QPushButton(QStringLiteral("Передать"), this);
  place(m_btnTransmit, "IDC_TRANSMIT", m_btnTransmit->text(), {248, 30, 48, 14});

  m_cmbPort = new QComboBox(this);
  place(m_cmbPort, "IDC_PORT", QStringLiteral("Порт"), {242, 7, 54, 77});
  // 77 units is the height with the list dropped; closed, it is one line.
  m_cmbPort->resize(m_cmbPort->width(), m_cmbPort->sizeHint().height());
  m_cmbPort->setMaxVisibleItems(8);

  m_lblPort = new QLabel(QStringLiteral("Порт"), this);
  place(m_lblPort, "IDC_STATIC", m_lblPort->text(), {212, 7, 24, 8});
  m_lblPort->setBuddy(m_cmbPort);

  m_btnStop = new QPushButton(QStringLiteral("Остановить"), this);
  place(m_btnStop, "IDC_STOP", m_btnStop->text(), {249, 52, 47, 14});

  // Enter presses Exit, unless another push button has the focus: that one
  // then acts as the default (Qt's auto-default, kept on every button).
  setTabOrder(m_btnExit, m_log);
  setTabOrder(m_log, m_btnFile);
  setTabOrder(m_btnFile, m_btnTransmit);
  setTabOrder(m_btnTransmit, m_cmbPort);
  setTabOrder(m_cmbPort, m_btnStop);

  setFixedSize(dluToPixels(QSize(303, 128), base));
  m_timer.setTimerType(Qt::PreciseTimer);  // ticks from their intended times, no drift
}

// The message map: every event the window handles, in one place.
void CMainDialog::wireMessageMap() {
  connect(m_btnFile, &QPushButton::clicked, this, &CMainDialog::OnFile);
  connect(m_cmbPort, &QComboBox::activated, this, &CMainDialog::OnPortChange);
  connect(m_btnTransmit, &QPushButton::clicked, this, &CMainDialog::OnTransmit);
  m_cmbPort->installEventFilter(this);  // loss of focus, see eventFilter
  connect(&m_timer, &QTimer::timeout, this, &CMainDialog::OnTimer);
  connect(m_btnStop, &QPushButton::clicked, this, &CMainDialog::OnStop);
  connect(m_btnExit, &QPushButton::clicked, this, &CMainDialog::OnOK);
  // The about entry: the context menu anywhere, the log's own included, and F1.
  connect(m_log, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { showContextMenu(m_log->mapToGlobal(at), m_log->createStandardContextMenu()); });
  connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
          [this] { OnSysCommand(IDM_ABOUT); });
  // Window close: closeEvent. Escape: QDialog::reject, which runs no handler.
}

void CMainDialog::OnInitDialog() {
  m_rules.OnInitDialog();
  m_btnExit->setFocus();
}

void CMainDialog::showEvent(QShowEvent* event) {
  if (!m_centred && !parentWidget()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
    m_centred = true;
  }
  QDialog::showEvent(event);
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_cmbPort && event->type() == QEvent::FocusOut) OnPortChange();
  return QDialog::eventFilter(watched, event);
}

void CMainDialog::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0u) != IDM_ABOUT) return;
  CAboutBox about(this);
  about.DoModal();
}

// Where the window manager owns the system menu, the entry lives here.
void CMainDialog::contextMenuEvent(QContextMenuEvent* event) { showContextMenu(event->globalPos(), new QMenu(this)); }

void CMainDialog::showContextMenu(const QPoint& globalPos, QMenu* menu) {
  std::unique_ptr<QMenu> owned(menu);
  if (!menu->isEmpty()) menu->addSeparator();
  QAction* about = menu->addAction(qtText(kAboutMenu));
  about->setData(IDM_ABOUT);
  if (QAction* chosen = menu->exec(globalPos); chosen == about) OnSysCommand(IDM_ABOUT);
}

void CMainDialog::OnPortChange() { m_rules.OnPortChange(m_cmbPort->currentIndex()); }

void CMainDialog::OnFile() {
  const std::optional<QString> path = m_options.chooseFile(this);
  m_rules.OnFile(path ? std::optional<std::string>(path->toStdString()) : std::nullopt);
}

void CMainDialog::OnTransmit() { m_rules.OnTransmit(); }

void CMainDialog::OnTimer() { m_rules.OnTimer(MainDialogRules::kTimerId); }

void CMainDialog::OnStop() { m_rules.OnStop(); }

void CMainDialog::OnOK() {
  m_rules.OnOK();
  accept();
}

void CMainDialog::closeEvent(QCloseEvent* event) {
  m_rules.OnClose();
  QDialog::closeEvent(event);
}

void CMainDialog::refreshLog(const std::string& text) { m_log->setPlainText(qtText(text)); }

void CMainDialog::setProgressRange(int low, int high) { m_progress->setRange(low, high); }

void CMainDialog::setProgress(int position) { m_progress->setValue(position); }

void CMainDialog::enable(Control control, bool enabled) {
  QWidget* w = nullptr;
  switch (control) {
    case Control::File: w = m_btnFile; break;
    case Control::Port: w = m_cmbPort; break;
    case Control::Transmit: w = m_btnTransmit; break;
    case Control::Stop: w = m_btnStop; break;
  }
  w->setEnabled(enabled);
}

void CMainDialog::startRecordTimer(int, int periodMs) { m_timer.start(periodMs); }

void CMainDialog::stopRecordTimer(int) { m_timer.stop(); }

void CMainDialog::setPortList(const std::vector<PortEntry>& entries) {
  m_cmbPort->clear();
  for (const PortEntry& e : entries) {
    m_cmbPort->addItem(QString::fromStdString(e.label), e.port);
    m_cmbPort->setItemData(m_cmbPort->count() - 1, QString::fromStdString(e.detail), Qt::ToolTipRole);
  }
}

void CMainDialog::selectPort(int index) { m_cmbPort->setCurrentIndex(index); }

}  // namespace isp::ui
