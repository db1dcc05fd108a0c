#include "app/qt_prompt_port.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QThread>

namespace {

QString ToQ(std::string_view s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

// Message boxes carry the program's title when the text names no caption.
QString Caption(std::string_view caption) {
  return caption.empty() ? QStringLiteral("Gleaner") : ToQ(caption);
}

QMessageBox::Icon ToQIcon(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Exclamation: return QMessageBox::Warning;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::Stop: return QMessageBox::Critical;
    case PromptIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

template <typename F>
void QtPromptPort::OnUiThread(F&& f) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(app, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

void QtPromptPort::SetStatusLabels(QLabel* first, QLabel* second) {
  status_[0] = first;
  status_[1] = second;
}

void QtPromptPort::SetIdleText(int pane, std::string_view text) {
  if (pane < 0 || pane > 1) return;
  idle_[pane] = ToQ(text);
  if (status_[pane] && status_[pane]->text().isEmpty()) status_[pane]->setText(idle_[pane]);
}

void QtPromptPort::SetDialogControls(std::map<int, QWidget*> controls) {
  controls_.clear();
  for (auto& [id, w] : controls) controls_[id] = w;
}

void QtPromptPort::Message(std::string_view text, std::string_view caption, PromptIcon icon) {
  const QString t = ToQ(text), c = Caption(caption);
  OnUiThread([&] {
    QMessageBox box(ToQIcon(icon), c, t, QMessageBox::Ok, owner_.data());
    box.exec();
  });
}

bool QtPromptPort::AskYesNo(std::string_view text, std::string_view caption, PromptIcon icon) {
  return Ask(text, caption, icon, true);
}

bool QtPromptPort::AskYesNoDefaultNo(std::string_view text, std::string_view caption, PromptIcon icon) {
  return Ask(text, caption, icon, false);
}

bool QtPromptPort::Ask(std::string_view text, std::string_view caption, PromptIcon icon, bool yesByDefault) {
  const QString t = ToQ(text), c = Caption(caption);
  bool yes = false;
  OnUiThread([&] {
    QMessageBox box(ToQIcon(icon), c, t, QMessageBox::Yes | QMessageBox::No, owner_.data());
    box.setDefaultButton(yesByDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

PromptAnswer QtPromptPort::AskAbortRetryIgnore(std::string_view text, std::string_view caption,
                                               PromptIcon icon) {
  const QString t = ToQ(text), c = Caption(caption);
  PromptAnswer answer = PromptAnswer::Abort;
  OnUiThread([&] {
    QMessageBox box(ToQIcon(icon), c, t,
                    QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, owner_.data());
    switch (box.exec()) {
      case QMessageBox::Retry: answer = PromptAnswer::Retry; break;
      case QMessageBox::Ignore: answer = PromptAnswer::Ignore; break;
      default: answer = PromptAnswer::Abort; break;
    }
  });
  return answer;
}

void QtPromptPort::SetStatus(int pane, std::string_view text) {
  if (pane < 0 || pane > 1) return;
  const QString t = text.empty() ? idle_[pane] : ToQ(text);
  auto show = [this, pane, t] {
    QLabel* label = status_[pane];
    if (!label || label->text() == t) return;
    label->setText(t);
    // Long reads run on this thread: paint now, or "Wait...." is never seen.
    if (label->isVisible()) label->repaint();
  };
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    {
      std::lock_guard<std::mutex> lock(statusMutex_);
      posted_[pane] = t;
    }
    show();
    return;
  }
  // A worker says "Wait...." before every read: a text the pane is already
  // given is not sent again, and none is waited for, so a worker reading
  // thousands of blocks a second is never held up by the status bar.
  {
    std::lock_guard<std::mutex> lock(statusMutex_);
    if (posted_[pane] == t) return;
    posted_[pane] = t;
  }
  QMetaObject::invokeMethod(app, show, Qt::QueuedConnection);
}

void QtPromptPort::SetControlText(int controlId, std::string_view text) {
  const QString t = ToQ(text);
  OnUiThread([&] {
    auto it = controls_.find(controlId);
    if (it == controls_.end() || !it->second) return;
    QWidget* w = it->second;
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(t);
    else if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(t);
    else if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(t);
    else w->setWindowTitle(t);
  });
}

void QtPromptPort::EnableControl(int controlId, bool enabled) {
  OnUiThread([&] {
    auto it = controls_.find(controlId);
    if (it != controls_.end() && it->second) it->second->setEnabled(enabled);
  });
}

void QtPromptPort::SetControlPercent(int controlId, int percent) {
  OnUiThread([&] {
    auto it = controls_.find(controlId);
    if (it == controls_.end() || !it->second) return;
    if (auto* bar = qobject_cast<QProgressBar*>(it->second.data())) bar->setValue(percent);
  });
}
