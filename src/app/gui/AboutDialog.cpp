#include "app/gui/AboutDialog.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace lanewright::gui {

QString HelpText() {
  QFile file(QStringLiteral(":/help.txt"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About"));

  auto* notice = new QLabel(QStringLiteral("\nLanewright V2.19\n\n"
                                           "Copyright (C) 2026 the Lanewright developers\n\n"
                                           "Provided as is, without warranty of any kind.\n\n"
                                           "Find a path in the Starmere universe\n"),
                            this);
  notice->setObjectName(QStringLiteral("noticeLabel"));
  notice->setAlignment(Qt::AlignCenter);
  notice->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  auto* help = new QPlainTextEdit(this);
  help->setObjectName(QStringLiteral("helpText"));
  help->setReadOnly(true);
  help->setFocusPolicy(Qt::NoFocus);
  help->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  help->setPlainText(HelpText());

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(40, 24, 40, 16);
  layout->setSpacing(14);
  layout->addWidget(notice);
  layout->addWidget(help, 1);
  layout->addLayout(buttons);

  resize(440, 430);
}

}  // namespace lanewright::gui
