#include "app/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kAboutTitle));
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  auto* version = new QLabel(QString::fromLatin1(kAboutVersionLine), this);
  version->setObjectName(QStringLiteral("version"));
  auto* year = new QLabel(QString::fromLatin1(kAboutYearLine), this);
  year->setObjectName(QStringLiteral("year"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->setHorizontalSpacing(16);
  layout->addWidget(icon, 0, 0, 2, 1);
  layout->addWidget(version, 0, 1);
  layout->addWidget(year, 1, 1);
  layout->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}
