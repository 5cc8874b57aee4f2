#include "gui/qt/about_box.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "gui/common/qt_text.h"
#include "gui/qt/app_icon.h"
#include "gui/qt/dialog_units.h"
#include "programming/about_text.h"

namespace isp::ui {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("IDD_ABOUT"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(qtText(kAboutCaption));
  setFont(dialogFont());
  const DialogBase base = dialogBase(font());

  auto* icon = new QLabel(this);
  icon->setPixmap(appIcon().pixmap(32, 32));
  icon->setGeometry(dluToPixels(QRect(11, 17, 20, 20), base));
  icon->setAccessibleName(QStringLiteral("Значок программы"));

  auto* title = new QLabel(qtText(kAboutTitle), this);
  title->setTextFormat(Qt::PlainText);
  title->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  title->setGeometry(dluToPixels(QRect(40, 10, 155, 20), base));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("IDOK"));
  ok->setDefault(true);
  ok->setGeometry(dluToPixels(QRect(213, 7, 50, 14), base));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  m_help = new QPlainTextEdit(this);
  m_help->setObjectName(QStringLiteral("IDC_HELP_TEXT"));
  m_help->setAccessibleName(QStringLiteral("Справка"));
  m_help->setReadOnly(true);
  m_help->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_help->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_help->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_help->setTabStopDistance(dluToPixels(QSize(32, 0), base).width());
  m_help->setGeometry(dluToPixels(QRect(7, 40, 256, 65), base));

  setTabOrder(ok, m_help);
  setFixedSize(dluToPixels(QSize(270, 112), base));
  ok->setFocus();
}

void CAboutBox::showEvent(QShowEvent* event) {
  OnInitDialog();
  QDialog::showEvent(event);
}

// Built afresh at every opening.
void CAboutBox::OnInitDialog() {
  m_strHelp.clear();
  m_strHelp += aboutHelpText();
  m_help->setPlainText(qtText(m_strHelp));
}

}  // namespace isp::ui
