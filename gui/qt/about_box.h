#pragma once
#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace isp::ui {

// "О программе": title, version and the wiring and preparation help.
class CAboutBox final : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutBox(QWidget* parent = nullptr);
  int DoModal() { return exec(); }
  const std::string& helpText() const { return m_strHelp; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnInitDialog();

  std::string m_strHelp;
  QPlainTextEdit* m_help;
};

}  // namespace isp::ui
