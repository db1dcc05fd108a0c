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

// The row's index in files_ (a deleted file) or rescued_ (the others), kept
// on its first cell with which of them it is.
constexpr int kFileIndexRole = Qt::UserRole + 1;
constexpr int kRescuedRole = Qt::UserRole + 3;
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

// A lost folder's file is judged as a deleted one; a carved file whose end
// was not found is cut where its format could not say.
QColor JudgementColour(const RescueFile& file) {
  if (file.kind == RescueKind::Carved)
    return StateColour(file.judgement == "end found" ? DeletedState::Intact : DeletedState::PartlyOverwritten);
  if (file.judgement == "intact") return StateColour(DeletedState::Intact);
  if (file.judgement == "lost") return StateColour(DeletedState::Lost);
  return StateColour(DeletedState::PartlyOverwritten);
}

// The chosen rows of files but those inside a chosen folder: they come with
// the folder.
template <class File>
std::vector<const File*> OutsideChosenFolders(const std::vector<File>& files, const std::vector<size_t>& chosen) {
  std::set<std::string> folders;
  for (size_t i : chosen)
    if (i < files.size() && files[i].folder) folders.insert(files[i].path + "/");
  std::vector<const File*> out;
  for (size_t i : chosen) {
    if (i >= files.size()) continue;
    const std::string& path = files[i].path;
    const bool inside = std::any_of(folders.begin(), folders.end(), [&](const std::string& f) {
      return path.size() > f.size() && path.compare(0, f.size(), f) == 0;
    });
    if (!inside) out.push_back(&files[i]);
  }
  return out;
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
    : QDialog(parent),
      access_(access),
      root_(root),
      askFolder_(std::move(askFolder)),
      exfat_(root.kind == NodeKind::ExfatDir) {
  setWindowTitle(QString::fromLatin1(kFindDeletedCaption));
  model_ = new QStandardItemModel(0, 5, this);
  model_->setHorizontalHeaderLabels({QStringLiteral("State"), QStringLiteral("Size"),
                                     QStringLiteral("Start Cluster"), QStringLiteral("Found As"),
                                     QStringLiteral("Path")});
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
  table_->setColumnWidth(FoundColumn, 90);

  find_ = new QPushButton(QStringLiteral("&Find"), this);
  stop_ = new QPushButton(QStringLiteral("&Stop"), this);
  copy_ = new QPushButton(QString::fromUtf8("&Copy Out To Folder\u2026"), this);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  skipAllocated_ = new QCheckBox(QStringLiteral("S&kip clusters in use"), this);
  // Carving reads every free cluster's contents: the longest part, so asked for.
  carve_ = new QCheckBox(QStringLiteral("C&arve free clusters (slower)"), this);
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
  buttons->addWidget(carve_);
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
  exfatFiles_.clear();
  rescued_.clear();
  status_->setText(QStringLiteral("Searching..."));
  Begin();
  if (exfat_) {
    StartExfatFind();
    return;
  }
  RescueScanOptions options;
  options.carve = carve_->isChecked();
  worker_ = std::thread([this, options] {
    FindEvents events(*this);
    const RescueProgress progress = [this](RescuePhase phase, uint64_t done, uint64_t total) {
      QMetaObject::invokeMethod(
          this, [this, phase, done, total] { ShowProgress(phase, done, total); }, Qt::QueuedConnection);
    };
    RescueFindings found = FindRescuable(access_, root_, options, &stopFlag_, progress, &events);
    QMetaObject::invokeMethod(
        this, [this, f = std::move(found), carved = options.carve]() mutable { FoundAll(std::move(f), carved); },
        Qt::QueuedConnection);
  });
  UpdateButtons();
}

void FindDeletedDialog::ShowProgress(RescuePhase phase, uint64_t done, uint64_t total) {
  // Cluster numbers and file counts stay below 2^28: an int holds them.
  progress_->setRange(0, static_cast<int>(std::max(total, done)));
  progress_->setValue(static_cast<int>(done));
  switch (phase) {
    case RescuePhase::Deleted: status_->setText(QStringLiteral("Folders searched: %1").arg(done)); break;
    case RescuePhase::DataArea:
      status_->setText(QStringLiteral("Clusters searched: %1 of %2").arg(done).arg(total));
      break;
    case RescuePhase::Copy: break;
  }
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
  files_.push_back(f);
  AppendDeletedRow(files_.size() - 1, f.state, f.overwritten, DeletedStateText(f), f.size, f.startCluster,
                   f.path + (f.folder ? "/" : ""));
}

void FindDeletedDialog::AddExfatRow(const ExfatDeletedFile& f) {
  exfatFiles_.push_back(f);
  AppendDeletedRow(exfatFiles_.size() - 1, f.state, f.overwritten, ExfatDeletedStateText(f), f.size,
                   f.startCluster, f.path + (f.folder ? "/" : ""));
}

void FindDeletedDialog::AppendDeletedRow(size_t index, DeletedState stateOf, uint64_t overwritten,
                                         const std::string& stateText, uint64_t size, uint32_t startCluster,
                                         const std::string& pathText) {
  table_->setSortingEnabled(false);
  // Judgement first, then the clusters overwritten: worst last.
  QStandardItem* state = Cell(QString::fromStdString(stateText),
                              static_cast<qulonglong>(stateOf) * 10000000000ull + overwritten);
  state->setData(StateColour(stateOf), Qt::ForegroundRole);
  state->setData(static_cast<qulonglong>(index), kFileIndexRole);
  const QString path = QString::fromStdString(pathText);
  const QString found = QString::fromLatin1(RescueKindText(RescueKind::Deleted));
  model_->appendRow({state, Cell(QString::number(size), static_cast<qulonglong>(size)),
                     Cell(QString::number(startCluster), static_cast<qulonglong>(startCluster)),
                     Cell(found, found), Cell(path, path)});
  table_->setSortingEnabled(true);
}

void FindDeletedDialog::StartExfatFind() {
  worker_ = std::thread([this] {
    ExfatDeletedResult found = FindExfatDeleted(access_, root_);
    QMetaObject::invokeMethod(
        this, [this, f = std::move(found)]() mutable { FoundExfat(std::move(f)); }, Qt::QueuedConnection);
  });
  UpdateButtons();
}

void FindDeletedDialog::FoundExfat(ExfatDeletedResult found) {
  Finish();
  for (const ExfatDeletedFile& f : found.files) AddExfatRow(f);
  status_->setText(found.opened ? QStringLiteral("%1 deleted files and folders found").arg(exfatFiles_.size())
                                : QString::fromStdString(found.error));
  for (const std::string& p : found.problems) report_->appendPlainText(QString::fromStdString(p));
  UpdateButtons();
}

std::optional<CopyOutOptions> FindDeletedDialog::AskCopyOptions() {
  const QString folder = askFolder_ ? askFolder_(this) : QString();
  if (folder.isEmpty()) return std::nullopt;
  CopyOutOptions options;
  options.targetFolder = folder.toStdString();
  options.skipAllocated = skipAllocated_->isChecked();
  status_->setText(QStringLiteral("Copying..."));
  Begin();
  return options;
}

void FindDeletedDialog::CopyExfat(const std::vector<size_t>& chosen) {
  std::vector<ExfatDeletedFile> files;
  for (const ExfatDeletedFile* f : OutsideChosenFolders(exfatFiles_, chosen)) files.push_back(*f);
  const std::optional<CopyOutOptions> options = AskCopyOptions();
  if (!options) return;
  const QString folder = QString::fromStdString(options->targetFolder);
  worker_ = std::thread([this, files = std::move(files), options = *options, folder] {
    CopyEvents events(*this, static_cast<int>(files.size()));
    Copied copied;
    copied.deleted = ExfatCopyDeleted(access_, root_, files, options, &stopFlag_, &events);
    QMetaObject::invokeMethod(
        this, [this, c = std::move(copied), folder]() mutable { CopiedAll(std::move(c), folder); },
        Qt::QueuedConnection);
  });
  UpdateButtons();
}

void FindDeletedDialog::AddRescuedRow(const RescueFile& f) {
  const size_t i = rescued_.size();
  rescued_.push_back(f);
  table_->setSortingEnabled(false);
  QStandardItem* state = Cell(QString::fromStdString(f.judgement), QString::fromStdString(f.judgement));
  state->setData(JudgementColour(f), Qt::ForegroundRole);
  state->setData(static_cast<qulonglong>(i), kFileIndexRole);
  state->setData(true, kRescuedRole);
  // Where rescue puts it: "Lost Folders/..." with its rebuilt path, "Carved/c0012345.png".
  const QString path = QString::fromStdString(f.folder + "/" + f.item.name);
  const QString found = QString::fromLatin1(RescueKindText(f.kind));
  model_->appendRow({state, Cell(QString::number(f.item.size), static_cast<qulonglong>(f.item.size)),
                     Cell(QString::number(f.item.firstCluster), static_cast<qulonglong>(f.item.firstCluster)),
                     Cell(found, found), Cell(path, path)});
  table_->setSortingEnabled(true);
}

void FindDeletedDialog::FoundAll(RescueFindings found, bool carved) {
  Finish();
  // The deleted files came as rows already; the rest are rescue's.
  for (RescueFile& f : RescueFiles(found))
    if (f.kind != RescueKind::Deleted) AddRescuedRow(f);
  QString text;
  if (!found.opened && found.foldersWalked == 0) {
    text = QString::fromStdString(found.error);
  } else {
    const auto lost = std::count_if(rescued_.begin(), rescued_.end(),
                                    [](const RescueFile& f) { return f.kind == RescueKind::LostFolder; });
    text = QStringLiteral("%1 deleted files and folders found in %2 folders; %3 files in lost folders")
               .arg(files_.size())
               .arg(found.foldersWalked)
               .arg(lost);
    if (carved) text += QStringLiteral(", %1 carved").arg(rescued_.size() - static_cast<size_t>(lost));
    if (found.unreadableSectors > 0)
      text += QStringLiteral("; %1 unreadable sectors").arg(found.unreadableSectors);
    if (found.stopped) text += QStringLiteral(" (stopped)");
  }
  status_->setText(text);
  for (const std::string& p : found.problems) report_->appendPlainText(QString::fromStdString(p));
  // The walk went whole but the data area could not be read.
  if (!found.opened && found.foldersWalked > 0) report_->appendPlainText(QString::fromStdString(found.error));
  UpdateButtons();
}

void FindDeletedDialog::StopWork() { stopFlag_ = true; }

void FindDeletedDialog::CopySelected() {
  if (Running()) return;
  std::vector<size_t> chosen, chosenRescued;
  for (const QModelIndex& row : table_->selectionModel()->selectedRows(StateColumn))
    (sorted_->data(row, kRescuedRole).toBool() ? chosenRescued : chosen)
        .push_back(sorted_->data(row, kFileIndexRole).toULongLong());
  if (chosen.empty() && chosenRescued.empty()) return;
  std::sort(chosen.begin(), chosen.end());
  if (exfat_) {
    CopyExfat(chosen);
    return;
  }
  std::sort(chosenRescued.begin(), chosenRescued.end());
  std::vector<RescueFile> rescued;
  for (size_t i : chosenRescued)
    if (i < rescued_.size()) rescued.push_back(rescued_[i]);
  std::vector<CopyOutItem> items;
  for (const DeletedFile* f : OutsideChosenFolders(files_, chosen)) items.push_back(ItemOfDeleted(*f));
  const std::optional<CopyOutOptions> asked = AskCopyOptions();
  if (!asked) return;
  const CopyOutOptions options = *asked;
  const QString folder = QString::fromStdString(options.targetFolder);
  const int total = static_cast<int>(items.size() + rescued.size());
  worker_ = std::thread([this, items = std::move(items), rescued = std::move(rescued), options, folder,
                         total] {
    CopyEvents events(*this, total);
    Copied copied;
    if (!items.empty()) copied.deleted = CopyOut(access_, root_, items, options, &stopFlag_, &events);
    // Lost folders' files under "Lost Folders", carved ones under "Carved",
    // as gleaner-cli rescue lays them out.
    if (!rescued.empty())
      copied.rescued = CopyRescued(access_, root_, rescued, {}, options.targetFolder, &stopFlag_,
                                   [&events](RescuePhase, uint64_t, uint64_t) { events.FileDone({}); });
    QMetaObject::invokeMethod(
        this, [this, c = std::move(copied), folder]() mutable { CopiedAll(std::move(c), folder); },
        Qt::QueuedConnection);
  });
  UpdateButtons();
}

void FindDeletedDialog::CopiedAll(Copied copied, QString folder) {
  Finish();
  QStringList summary;
  if (copied.deleted) {
    const CopyOutResult& result = *copied.deleted;
    summary << QString::fromStdString(result.opened ? CopyOutSummary(result, folder.toStdString())
                                                    : result.error);
    for (const std::string& line : CopyOutReport(result))
      report_->appendPlainText(QString::fromStdString(line));
  }
  if (copied.rescued) {
    RescueResult& result = *copied.rescued;
    // The search counted the data area's unreadable sectors; these are the
    // ones the files copied met.
    for (const RescuedFile& f : result.files)
      if (f.kind != RescueKind::Deleted) result.unreadableSectors += (f.unreadableBytes + 511) / 512;
    summary << QString::fromStdString(result.opened ? RescueSummary(result, folder.toStdString())
                                                    : result.error);
    for (const std::string& line : result.problems)
      report_->appendPlainText(QString::fromStdString(line));
  }
  status_->setText(summary.join(QLatin1Char('\n')));
}

void FindDeletedDialog::UpdateButtons() {
  const bool running = Running();
  find_->setEnabled(!running);
  stop_->setEnabled(running);
  copy_->setEnabled(!running && table_->selectionModel()->hasSelection());
  // An exFAT volume's free clusters are carved by rescue, not here.
  skipAllocated_->setEnabled(!running);
  carve_->setEnabled(!running && !exfat_);
}
