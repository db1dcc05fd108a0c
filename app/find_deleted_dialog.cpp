#include "app/find_deleted_dialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

namespace {

// The row's index in files_, kept on its first cell.
constexpr int kFileIndexRole = Qt::UserRole + 1;
// What the columns sort by: numbers as numbers.
constexpr int kSortRole = Qt::UserRole + 2;

QColor StateColour(DeletedState state) {
  switch (state) {
    case DeletedState::Intact: return QColor(0, 128, 0);
    case DeletedState::PartlyOverwritten: return QColor(176, 96, 0);
    case DeletedState::Lost: return QColor(192, 0, 0);
  }
  return {};
}

QStandardItem* Cell(const QString& text, const QVariant& sortKey) {
  auto* item = new QStandardItem(text);
  item->setEditable(false);
  item->setData(sortKey, kSortRole);
  return item;
}

}  // namespace

FindDeletedDialog::FindDeletedDialog(DiskAccess& access, const DrivePacket& root,
                                     AskFolder askFolder, QWidget* parent)
    : QDialog(parent), access_(access), root_(root), askFolder_(std::move(askFolder)) {
  setWindowTitle(QString::fromLatin1(kFindDeletedCaption));
  model_ = new QStandardItemModel(0, 4, this);
  model_->setHorizontalHeaderLabels({QStringLiteral("State"), QStringLiteral("Size"),
                                     QStringLiteral("Start Cluster"), QStringLiteral("Path")});
  sorted_ = new QSortFilterProxyModel(this);
  sorted_->setSourceModel(model_);
  sorted_->setSortRole(kSortRole);
  table_ = new QTableView(this);
  table_->setModel(sorted_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(-1, Qt::AscendingOrder);  // walk order until a title is clicked
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(StateColumn, 200);
  table_->setColumnWidth(SizeColumn, 90);
  table_->setColumnWidth(ClusterColumn, 100);

  find_ = new QPushButton(QStringLiteral("&Find"), this);
  stop_ = new QPushButton(QStringLiteral("&Stop"), this);
  copy_ = new QPushButton(QString::fromUtf8("&Copy Out To Folder\u2026"), this);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  skipAllocated_ = new QCheckBox(QStringLiteral("S&kip clusters in use"), this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  status_ = new QLabel(this);
  report_ = new QPlainTextEdit(this);
  report_->setReadOnly(true);
  report_->setMaximumHeight(90);

  connect(find_, &QPushButton::clicked, this, &FindDeletedDialog::StartFind);
  connect(stop_, &QPushButton::clicked, this, &FindDeletedDialog::StopWork);
  connect(copy_, &QPushButton::clicked, this, &FindDeletedDialog::CopySelected);
  connect(close_, &QPushButton::clicked, this, &FindDeletedDialog::reject);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &FindDeletedDialog::UpdateButtons);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(find_);
  buttons->addWidget(stop_);
  buttons->addWidget(copy_);
  buttons->addWidget(skipAllocated_);
  buttons->addStretch(1);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addWidget(report_);
  layout->addLayout(buttons);
  resize(820, 520);
  UpdateButtons();
}

FindDeletedDialog::~FindDeletedDialog() {
  // The worker's calls to the prompt port wait on this thread: it is let run
  // to its end with the events handled, never joined blind.
  stopFlag_ = true;
  closeWhenDone_ = false;
  while (worker_.joinable()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void FindDeletedDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    StartFind();
  }
}

void FindDeletedDialog::reject() {
  if (Running()) {
    closeWhenDone_ = true;
    StopWork();
    return;
  }
  QDialog::reject();
}

void FindDeletedDialog::Begin() {
  stopFlag_ = false;
  report_->clear();
  progress_->setRange(0, 0);  // busy until the first count arrives
}

void FindDeletedDialog::Finish() {
  if (worker_.joinable()) worker_.join();
  progress_->setRange(0, 1);
  progress_->setValue(1);
  UpdateButtons();
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    QDialog::reject();
  }
}

void FindDeletedDialog::StartFind() {
  if (Running()) return;
  model_->removeRows(0, model_->rowCount());
  files_.clear();
  status_->setText(QStringLiteral("Searching..."));
  Begin();
  worker_ = std::thread([this] {
    FindEvents events(*this);
    FindDeletedResult result = FindDeletedFiles(access_, root_, &stopFlag_, &events);
    QMetaObject::invokeMethod(
        this, [this, r = std::move(result)]() mutable { FoundAll(std::move(r)); },
        Qt::QueuedConnection);
  });
  UpdateButtons();
}

void FindDeletedDialog::FindEvents::Progress(uint32_t walked, uint32_t known) {
  QMetaObject::invokeMethod(
      &dialog_,
      [d = &dialog_, walked, known] {
        d->progress_->setRange(0, static_cast<int>(known));
        d->progress_->setValue(static_cast<int>(walked));
        d->status_->setText(QStringLiteral("Folders searched: %1").arg(walked));
      },
      Qt::QueuedConnection);
}

void FindDeletedDialog::FindEvents::RowFound(const DeletedFile& file) {
  QMetaObject::invokeMethod(&dialog_, [d = &dialog_, file] { d->AddRow(file); }, Qt::QueuedConnection);
}

void FindDeletedDialog::CopyEvents::FileDone(const CopiedFile&) {
  const int done = ++done_;
  QMetaObject::invokeMethod(
      &dialog_,
      [bar = dialog_.progress_, done, total = total_] {
        bar->setRange(0, std::max(total, done));
        bar->setValue(done);
      },
      Qt::QueuedConnection);
}

void FindDeletedDialog::AddRow(const DeletedFile& f) {
  const size_t i = files_.size();
  files_.push_back(f);
  table_->setSortingEnabled(false);
  QStandardItem* state = Cell(QString::fromStdString(DeletedStateText(f)),
                              static_cast<int>(f.state) * 100000000 + static_cast<int>(f.overwritten));
  state->setData(StateColour(f.state), Qt::ForegroundRole);
  state->setData(static_cast<qulonglong>(i), kFileIndexRole);
  const QString path = QString::fromStdString(f.path + (f.folder ? "/" : ""));
  model_->appendRow({state, Cell(QString::number(f.size), static_cast<qulonglong>(f.size)),
                     Cell(QString::number(f.startCluster), static_cast<qulonglong>(f.startCluster)),
                     Cell(path, path)});
  table_->setSortingEnabled(true);
}

void FindDeletedDialog::FoundAll(FindDeletedResult result) {
  Finish();
  QString text;
  if (!result.opened)
    text = QString::fromStdString(result.error);
  else
    text = QStringLiteral("%1 deleted files and folders found in %2 folders%3")
               .arg(files_.size())
               .arg(result.foldersWalked)
               .arg(result.stopped ? QStringLiteral(" (stopped)") : QString());
  status_->setText(text);
  for (const std::string& p : result.problems) report_->appendPlainText(QString::fromStdString(p));
  UpdateButtons();
}

void FindDeletedDialog::StopWork() { stopFlag_ = true; }

void FindDeletedDialog::CopySelected() {
  if (Running()) return;
  std::vector<size_t> chosen;
  for (const QModelIndex& row : table_->selectionModel()->selectedRows(StateColumn))
    chosen.push_back(sorted_->data(row, kFileIndexRole).toULongLong());
  if (chosen.empty()) return;
  std::sort(chosen.begin(), chosen.end());
  // A file inside a chosen folder comes with the folder.
  std::set<std::string> folders;
  for (size_t i : chosen)
    if (i < files_.size() && files_[i].folder) folders.insert(files_[i].path + "/");
  std::vector<CopyOutItem> items;
  for (size_t i : chosen) {
    if (i >= files_.size()) continue;
    const std::string& path = files_[i].path;
    const bool inside = std::any_of(folders.begin(), folders.end(), [&](const std::string& f) {
      return path.size() > f.size() && path.compare(0, f.size(), f) == 0;
    });
    if (!inside) items.push_back(ItemOfDeleted(files_[i]));
  }
  const QString folder = askFolder_ ? askFolder_(this) : QString();
  if (folder.isEmpty()) return;
  CopyOutOptions options;
  options.targetFolder = folder.toStdString();
  options.skipAllocated = skipAllocated_->isChecked();
  status_->setText(QStringLiteral("Copying..."));
  Begin();
  const int total = static_cast<int>(items.size());
  worker_ = std::thread([this, items = std::move(items), options, folder, total] {
    CopyEvents events(*this, total);
    CopyOutResult result = CopyOut(access_, root_, items, options, &stopFlag_, &events);
    QMetaObject::invokeMethod(
        this, [this, r = std::move(result), folder]() mutable { CopiedAll(std::move(r), folder); },
        Qt::QueuedConnection);
  });
  UpdateButtons();
}

void FindDeletedDialog::CopiedAll(CopyOutResult result, QString folder) {
  Finish();
  if (!result.opened) {
    status_->setText(QString::fromStdString(result.error));
    return;
  }
  status_->setText(QString::fromStdString(CopyOutSummary(result, folder.toStdString())));
  for (const std::string& line : CopyOutReport(result))
    report_->appendPlainText(QString::fromStdString(line));
}

void FindDeletedDialog::UpdateButtons() {
  const bool running = Running();
  find_->setEnabled(!running);
  stop_->setEnabled(running);
  copy_->setEnabled(!running && table_->selectionModel()->hasSelection());
  skipAllocated_->setEnabled(!running);
}
