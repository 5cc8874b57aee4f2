#pragma once
#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

#include "link/link.h"
#include "programming/dialog_rules.h"
#include "programming/transfer_view.h"

class QComboBox;
class QFileDialog;
class QMenu;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace isp::ui {

// "Программирование": the main window. It shows what the main window's rules
// tell it and passes every user action to them; the rules live there.
class CMainDialog final : public QDialog, public TransferView {
  Q_OBJECT
 public:
  struct Options {
    int timerPeriodMs = MainDialogRules::kTimerPeriodMs;
    // The open-file dialog; tests give a function that returns a path.
    std::function<std::optional<QString>(QWidget* owner)> chooseFile;
  };

  CMainDialog(Link& link, Options options, QWidget* parent = nullptr);
  explicit CMainDialog(Link& link, QWidget* parent = nullptr) : CMainDialog(link, Options{}, parent) {}

  int DoModal() { return exec(); }
  MainDialogRules& rules() { return m_rules; }

  // Handlers, wired in one place (wireMessageMap).
  void OnSysCommand(unsigned id);
  void OnPortChange();
  void OnFile();
  void OnTransmit();
  void OnTimer();
  void OnStop();
  void OnOK();

  // TransferView
  void refreshLog(const std::string& text) override;
  void setProgressRange(int low, int high) override;
  void setProgress(int position) override;
  void enable(Control control, bool enabled) override;
  void startRecordTimer(int id, int periodMs) override;
  void stopRecordTimer(int id) override;
  void setPortList(const std::vector<PortEntry>& entries) override;
  void selectPort(int index) override;

 protected:
  void closeEvent(QCloseEvent* event) override;  // OnClose
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createControls();
  void wireMessageMap();
  void OnInitDialog();
  // Shows menu (taken over) with the about entry at its end.
  void showContextMenu(const QPoint& globalPos, QMenu* menu);

  Options m_options;
  QPushButton* m_btnStop = nullptr;
  QComboBox* m_cmbPort = nullptr;
  QPushButton* m_btnExit = nullptr;
  QProgressBar* m_progress = nullptr;
  QPushButton* m_btnTransmit = nullptr;
  QPushButton* m_btnFile = nullptr;
  QPlainTextEdit* m_log = nullptr;
  QLabel* m_lblPort = nullptr;
  QTimer m_timer;
  bool m_centred = false;
  MainDialogRules m_rules;
};

// The standard open-file dialog with the program's two filters.
std::optional<QString> chooseFirmwareFile(QWidget* owner);
void setFirmwareFilters(QFileDialog& dialog);

}  // namespace isp::ui
