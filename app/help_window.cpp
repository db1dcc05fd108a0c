#include "app/help_window.h"

#include <QFileInfo>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/app_icon.h"

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Gleaner Help"));
  setWindowIcon(AppIcon());
  browser_ = new QTextBrowser(this);
  browser_->setOpenExternalLinks(true);
  auto* bar = new QToolBar(this);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QAction* contents = bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon),
                                     QStringLiteral("Contents"));
  QAction* back = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"));
  QAction* forward =
      bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Forward"));
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(contents, &QAction::triggered, browser_, &QTextBrowser::home);
  connect(back, &QAction::triggered, browser_, &QTextBrowser::backward);
  connect(forward, &QAction::triggered, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(bar);
  layout->addWidget(browser_);
  resize(720, 640);
  auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(close, &QShortcut::activated, this, &QWidget::close);
}

void HelpWindow::PlaceOn(QScreen* screen) {
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  resize(QSize(720, 640).boundedTo(area.size()));
  QRect frame(QPoint(0, 0), size());
  frame.moveCenter(area.center());
  move(frame.topLeft());
}

bool HelpWindow::OpenContents(const QString& file) {
  const QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) {
    browser_->clear();
    browser_->setHtml(QStringLiteral("<h2>Help is not available</h2><p>The guide <b>%1</b> could "
                                     "not be opened.</p>")
                          .arg(file.toHtmlEscaped()));
    return false;
  }
  QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
  url.setFragment(QString::fromLatin1(kHelpContentsAnchor));
  browser_->setSource(url);
  return true;
}
