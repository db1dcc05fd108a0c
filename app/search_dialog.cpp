#include "app/search_dialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QVBoxLayout>

#include "app/control_ids.h"
#include "app/control_tag.h"
#include "app/dialog_texts.h"
#include "app/list_pane.h"

// The search's events: progress, end and control states are queued to this
// dialog, so the worker never waits for a repaint and never touches a
// widget; the hit is put into the list pane on this thread while the worker
// waits, so the result message comes after the dump shows the sector.
class SearchDialog::Events final : public SearchEvents {
 public:
  explicit Events(SearchDialog& dialog) : dialog_(dialog) {}
  void Started() override {
    OnDialog([this] {
      for (int id : kSearchByteBoxes) dialog_.ApplyEnabled(id, false);
      for (int id : {kSearchStringBox, kSearchHexRadio, kSearchStringRadio, kSearchStartBox,
                     kSearchButton, kSearchCloseButton})
        dialog_.ApplyEnabled(id, false);
      dialog_.ApplyEnabled(kSearchStopButton, true);
    });
  }
  void Progress(uint32_t steps, std::string_view text) override {
    const QString t = ToQ(text);
    OnDialog([this, steps, t] {
      dialog_.ApplyText(kSearchProgressBar, QString::number(steps));
      dialog_.ApplyText(kSearchProgressText, t);
    });
  }
  void Unreadable(uint64_t, std::string_view text) override {
    const QString t = ToQ(text);
    OnDialog([this, t] { dialog_.ApplyText(kSearchProgressText, t); });
  }
  void Hit(const SearchHit& hit) override {
    SearchDialog& d = dialog_;
    auto show = [&d, &hit] {
      ShowSearchHit(d.state_.pane, d.state_.Prompt(), *d.job_, hit);
      d.state_.pane.Select({static_cast<int>(hit.Row())});
      d.list_.Repaint();
      d.list_.FocusRow(static_cast<int>(hit.Row()));
    };
    if (QThread::currentThread() == d.thread())
      show();
    else
      QMetaObject::invokeMethod(&d, show, Qt::BlockingQueuedConnection);
  }
  void Ended(SearchMode mode) override {
    OnDialog([this, mode] {
      dialog_.ApplyText(kSearchProgressBar, QStringLiteral("0"));
      dialog_.ApplyEnabled(kSearchHexRadio, true);
      for (int id : kSearchByteBoxes) dialog_.ApplyEnabled(id, mode == SearchMode::Hex);
      dialog_.ApplyEnabled(kSearchStringBox, mode == SearchMode::Text);
      dialog_.ApplyEnabled(kSearchStringRadio, true);
      dialog_.ApplyEnabled(kSearchStartBox, true);
      dialog_.ApplyEnabled(kSearchButton, true);
      dialog_.ApplyEnabled(kSearchStopButton, false);
      dialog_.ApplyEnabled(kSearchCloseButton, true);
    });
  }

 private:
  static QString ToQ(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  }
  template <typename F>
  void OnDialog(F f) {
    if (QThread::currentThread() == dialog_.thread())
      f();
    else
      QMetaObject::invokeMethod(&dialog_, std::move(f), Qt::QueuedConnection);
  }
  SearchDialog& dialog_;
};

SearchDialog::SearchDialog(AppState& state, ListPane& list, const DrivePacket& node, QWidget* parent)
    : QDialog(parent), state_(state), list_(list), node_(node) {
  setWindowTitle(QString::fromLatin1(kSearchDialogTitle));
  events_ = std::make_unique<Events>(*this);

  hexRadio_ = Tagged(new QRadioButton(QStringLiteral("&Hexadecimal Search"), this), kSearchHexRadio);
  stringRadio_ = Tagged(new QRadioButton(QStringLiteral("St&ring Search"), this), kSearchStringRadio);
  controls_[kSearchHexRadio] = hexRadio_;
  controls_[kSearchStringRadio] = stringRadio_;

  auto* bytes = new QGridLayout;
  bytes->setHorizontalSpacing(4);
  for (size_t k = 0; k < kSearchByteBoxes.size(); ++k) {
    const int id = kSearchByteBoxes[k];
    auto* box = Tagged(new QLineEdit(this), id);
    box->setMaxLength(kSearchByteBoxMaxChars);
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("WWW")) + 12);
    box->setAccessibleName(QStringLiteral("Byte %1").arg(k + 1));
    bytes->addWidget(box, static_cast<int>(k / 8), static_cast<int>(k % 8));
    controls_[id] = box;
  }

  auto* stringGroup = new QGroupBox(QStringLiteral("String"), this);
  stringBox_ = Tagged(new QLineEdit(stringGroup), kSearchStringBox);
  stringBox_->setMaxLength(kSearchTextMaxChars);
  controls_[kSearchStringBox] = stringBox_;
  auto* stringLayout = new QHBoxLayout(stringGroup);
  stringLayout->addWidget(stringBox_);

  auto* startLabel = new QLabel(QStringLiteral("Starting Sector Number:"), this);
  startBox_ = Tagged(new QLineEdit(this), kSearchStartBox);
  startBox_->setMaxLength(kSearchTextMaxChars);
  startLabel->setBuddy(startBox_);
  controls_[kSearchStartBox] = startBox_;

  auto* scanningLabel = new QLabel(QStringLiteral("Scanning:"), this);
  progressText_ = Tagged(new QLabel(this), kSearchProgressText);
  progressText_->setMinimumWidth(progressText_->fontMetrics().horizontalAdvance(
      QStringLiteral("4294967295 of 4294967295, 100% Completed")));
  controls_[kSearchProgressText] = progressText_;
  progressBar_ = Tagged(new QProgressBar(this), kSearchProgressBar);
  progressBar_->setTextVisible(false);
  progressBar_->setRange(0, 1);
  progressBar_->setValue(0);
  controls_[kSearchProgressBar] = progressBar_;

  searchButton_ = Tagged(new QPushButton(QStringLiteral("&Search"), this), kSearchButton);
  searchButton_->setDefault(true);
  stopButton_ = Tagged(new QPushButton(QStringLiteral("S&top"), this), kSearchStopButton);
  stopButton_->setEnabled(false);
  stopButton_->setAutoDefault(false);
  closeButton_ = Tagged(new QPushButton(QStringLiteral("&Close"), this), kSearchCloseButton);
  closeButton_->setAutoDefault(false);
  controls_[kSearchButton] = searchButton_;
  controls_[kSearchStopButton] = stopButton_;
  controls_[kSearchCloseButton] = closeButton_;

  auto* start = new QHBoxLayout;
  start->addWidget(startBox_);
  start->addStretch(1);
  auto* scanning = new QHBoxLayout;
  scanning->addWidget(scanningLabel);
  scanning->addWidget(progressText_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(searchButton_);
  buttons->addWidget(stopButton_);
  buttons->addWidget(closeButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(hexRadio_);
  auto* indented = new QHBoxLayout;
  indented->addSpacing(20);
  indented->addLayout(bytes);
  indented->addStretch(1);
  layout->addLayout(indented);
  layout->addSpacing(6);
  layout->addWidget(stringRadio_);
  layout->addWidget(stringGroup);
  layout->addSpacing(6);
  layout->addWidget(startLabel);
  layout->addLayout(start);
  layout->addSpacing(6);
  layout->addLayout(scanning);
  layout->addWidget(progressBar_);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(hexRadio_, &QRadioButton::toggled, this, [this] { OnModeChanged(); });
  connect(searchButton_, &QPushButton::clicked, this, &SearchDialog::StartSearch);
  connect(stopButton_, &QPushButton::clicked, this, &SearchDialog::StopSearch);
  connect(closeButton_, &QPushButton::clicked, this, &SearchDialog::reject);

  // Opening: the sector on show in the start box, hexadecimal bytes.
  startBox_->setText(QString::fromStdString(SearchInitialStart(state_.pane, node_)));
  hexRadio_->setChecked(true);
  OnModeChanged();
}

SearchDialog::~SearchDialog() {
  // Not closed while a search runs; should the dialog go anyway (the program
  // ends), the worker is stopped and its last calls are let through first.
  flags_.stop = true;
  while (flags_.running) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(1);
  }
  if (worker_.joinable()) worker_.join();
}

QWidget* SearchDialog::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void SearchDialog::OnModeChanged() {
  if (alive_) return;
  const bool hex = hexRadio_->isChecked();
  for (int id : kSearchByteBoxes) controls_[id]->setEnabled(hex);
  stringBox_->setEnabled(!hex);
}

void SearchDialog::ApplyText(int id, const QString& text) {
  if (id == kSearchProgressBar) {
    progressBar_->setValue(qBound(progressBar_->minimum(), text.toInt(), progressBar_->maximum()));
    return;
  }
  if (auto* label = qobject_cast<QLabel*>(Control(id))) label->setText(text);
}

void SearchDialog::ApplyEnabled(int id, bool enabled) {
  if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

void SearchDialog::StartSearch() {
  if (alive_) return;
  RawSearchOptions options;
  options.mode = hexRadio_->isChecked() ? SearchMode::Hex : SearchMode::Text;
  // The sixteen boxes in pattern order.
  for (const int id : kSearchByteBoxes)
    options.hexBytes.push_back(static_cast<QLineEdit*>(controls_[id])->text().toStdString());
  options.text = stringBox_->text().toUtf8().toStdString();
  options.start = startBox_->text().toStdString();
  std::optional<SearchJob> job = PrepareRawSearch(state_.Prompt(), node_, options);
  if (!job) return;

  const uint32_t steps = SearchProgressSteps(*job);
  progressBar_->setRange(0, static_cast<int>(std::max<uint32_t>(steps, 1)));
  progressBar_->setValue(0);
  progressText_->clear();
  if (worker_.joinable()) worker_.join();
  alive_ = true;
  job_ = std::move(*job);
  BeginSearch(*events_, flags_);
  worker_ = std::thread([this] {
    const SearchResult result =
        RunSearchWorker(state_.access, *job_, flags_, state_.Prompt(), *events_);
    QMetaObject::invokeMethod(this, [this, result] {
      last_ = result;
      OnWorkerEnded();
    }, Qt::QueuedConnection);
  });
}

void SearchDialog::StopSearch() { flags_.stop = true; }

void SearchDialog::OnWorkerEnded() {
  if (worker_.joinable()) worker_.join();
  alive_ = false;
  emit SearchEnded();
}

void SearchDialog::reject() {
  if (alive_) {
    state_.Prompt().Message(kSearchInProgress);
    flags_.stop = true;
    return;
  }
  QDialog::reject();
}
