#include "tools/undo_writes.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "disk/guarded_device.h"
#include "disk/undo_journal.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSector = 512;

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path abs = fs::absolute(path, ec);
  return ec ? path : abs.lexically_normal().string();
}

// "1 sector", "2 sectors".
std::string Count(size_t n, const std::string& thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

// The undo file that wrote what the sectors left alone hold now: of the
// files beside journal (the folder undo files are kept in), the one made
// after it whose record of such a sector kept exactly those bytes as written;
// the newest when several did. Its file name, or "".
std::string WriterOf(const std::string& journal,
                     const std::vector<std::pair<std::string, uint64_t>>& sectors,
                     const std::vector<Sha256Digest>& now) {
  const fs::path self(journal);
  const std::optional<UndoNameOrder> own = ParseUndoFileName(self.filename().string());
  std::error_code ec;
  std::optional<UndoNameOrder> best;
  std::string bestName;
  for (const auto& e : fs::directory_iterator(self.parent_path().empty() ? fs::path(".") : self.parent_path(), ec)) {
    const std::string name = e.path().filename().string();
    const std::optional<UndoNameOrder> order = ParseUndoFileName(name);
    if (!order || name == self.filename().string() || !e.is_regular_file(ec)) continue;
    if (own && !(*own < *order)) continue;
    if (best && !(*best < *order)) continue;
    const UndoJournalContents c = ReadUndoJournal(e.path().string());
    const bool wrote = std::any_of(c.records.begin(), c.records.end(), [&](const UndoRecord& r) {
      for (size_t i = 0; i < sectors.size(); ++i)
        if (sectors[i].first == r.drivePath && sectors[i].second == r.sector && now[i] == r.newHash)
          return true;
      return false;
    });
    if (!wrote) continue;
    best = order;
    bestName = name;
  }
  return bestName;
}

}  // namespace

const char* UndoSectorStateText(UndoSectorState state) {
  switch (state) {
    case UndoSectorState::Restored: return "restored";
    case UndoSectorState::WouldRestore: return "would be restored";
    case UndoSectorState::AsBefore: return "already as before";
    case UndoSectorState::ChangedSince: return "changed since, left alone";
    case UndoSectorState::NotWritten: return "not written";
    case UndoSectorState::Unreadable: return "unreadable";
  }
  return "";
}

UndoWritesResult UndoWrites(const UndoWritesOptions& options, PromptPort& prompt) {
  UndoWritesResult result;
  const UndoJournalContents journal = ReadUndoJournal(options.journal);
  if (!journal.error.empty()) {
    prompt.Message("Cannot undo: " + journal.error);
    return result;
  }
  bool complete = true;
  const std::string count = Count(journal.records.size(), "record");
  if (journal.tail == UndoJournalContents::Tail::Torn) {
    prompt.Message("The last record of " + options.journal +
                   " was cut short (the program stopped while writing it) and is ignored; the " + count +
                   " before it " + (journal.records.size() == 1 ? "is" : "are") + " used.");
  } else if (journal.tail == UndoJournalContents::Tail::Damaged) {
    prompt.Message(options.journal + " is damaged at byte " + std::to_string(journal.badOffset) +
                   ": only the " + count + " before it " + (journal.records.size() == 1 ? "is" : "are") + " used.");
    complete = false;
  }

  const bool write = !options.dryRun && !options.readOnly;
  struct Drive {
    std::unique_ptr<GuardedDevice> device;
    bool usable = false;
  };
  std::map<std::string, Drive> drives;
  auto open = [&](const UndoRecord& r) -> Drive& {
    auto [it, fresh] = drives.try_emplace(r.drivePath);
    Drive& d = it->second;
    if (!fresh) return d;
    std::unique_ptr<UndoJournal> own;
    if (write && options.undo)
      own = std::make_unique<UndoJournal>(options.undoDir.empty() ? DefaultUndoDir() : options.undoDir,
                                          r.drivePath);
    d.device = std::make_unique<GuardedDevice>(std::make_unique<FileDevice>(r.drivePath, !write), nullptr,
                                               std::move(own));
    if (!d.device->Open()) {
      prompt.Message("Cannot open " + r.drivePath + ": nothing of it was restored.");
    } else if (d.device->Size() != r.driveSize) {
      prompt.Message(r.drivePath + " is not the drive the undo file was made for: it holds " +
                     std::to_string(d.device->Size()) + " bytes, the undo file says " +
                     std::to_string(r.driveSize) + ". Nothing of it was restored.");
    } else if (options.readOnly) {
      prompt.Message(r.drivePath + " is open read-only: nothing of it was restored.");
    } else if (write && !d.device->Writable()) {
      prompt.Message("Cannot open " + r.drivePath + " for writing: nothing of it was restored.");
    } else {
      d.usable = true;
    }
    return d;
  };

  // What each sector holds now as far as the undo has gone (a dry run writes
  // nothing, yet an older record of the same sector must see the bytes the
  // newer one would have put back).
  std::map<std::pair<std::string, uint64_t>, std::vector<uint8_t>> now;
  // The records of each sector, oldest first: a sector that holds the old
  // bytes of this record or of an older one of it is already back there
  // (an undo done before, or writes a crash kept from happening).
  std::map<std::pair<std::string, uint64_t>, std::vector<size_t>> bySector;
  for (size_t i = 0; i < journal.records.size(); ++i)
    bySector[{journal.records[i].drivePath, journal.records[i].sector}].push_back(i);
  size_t restored = 0, asBefore = 0, leftAlone = 0, unreadable = 0, notWritten = 0;
  // What the sectors left alone hold now, for finding the undo file that
  // wrote it.
  std::vector<std::pair<std::string, uint64_t>> changedSince;
  std::vector<Sha256Digest> changedTo;
  for (size_t index = journal.records.size(); index-- > 0;) {
    const UndoRecord& r = journal.records[index];
    UndoSectorOutcome out{r.drivePath, r.sector, UndoSectorState::NotWritten};
    Drive& d = open(r);
    const auto key = std::make_pair(r.drivePath, r.sector);
    if (!d.usable || r.sector > (UINT64_MAX - r.oldBytes.size()) / kSector) {
      result.sectors.push_back(out);
      complete = false;
      continue;
    }
    std::vector<uint8_t> current;
    if (auto known = now.find(key); known != now.end()) {
      current = known->second;
    } else {
      current.resize(r.oldBytes.size());
      if (d.device->ReadAt(r.sector * kSector, current.data(), current.size()) !=
          static_cast<int64_t>(current.size())) {
        out.state = UndoSectorState::Unreadable;
        ++unreadable;
        result.sectors.push_back(out);
        complete = false;
        continue;
      }
    }
    if (Sha256(current) == r.newHash) {
      if (write && options.keptFats != nullptr) options.keptFats->Clear();
      if (!write) {
        out.state = UndoSectorState::WouldRestore;
      } else if (d.device->WriteAt(r.sector * kSector, r.oldBytes.data(), r.oldBytes.size()) ==
                 static_cast<int64_t>(r.oldBytes.size())) {
        out.state = UndoSectorState::Restored;
      } else {
        ++notWritten;
        complete = false;
        result.sectors.push_back(out);
        continue;
      }
      ++restored;
      now[key] = r.oldBytes;
    } else if (std::any_of(bySector[key].begin(), bySector[key].end(), [&](size_t j) {
                 return j <= index && journal.records[j].oldBytes == current;
               })) {
      out.state = UndoSectorState::AsBefore;
      ++asBefore;
    } else {
      out.state = UndoSectorState::ChangedSince;
      ++leftAlone;
      changedSince.push_back(key);
      changedTo.push_back(Sha256(current));
      complete = false;
    }
    result.sectors.push_back(out);
  }
  for (auto& [path, d] : drives) d.device->Close();

  // One summary, whatever each sector came to.
  std::string summary = Count(restored, "sector") + (options.dryRun ? " would be restored" : " restored") + ", " +
                        std::to_string(asBefore) + " already as before, " + std::to_string(leftAlone) +
                        " left alone.";
  if (leftAlone != 0) {
    const std::string later = WriterOf(options.journal, changedSince, changedTo);
    summary += " " + Count(leftAlone, "sector") + (leftAlone == 1 ? " was" : " were") +
               " changed since this program wrote " + (leftAlone == 1 ? "it" : "them") +
               (later.empty() ? " by something else." : ", by the writes kept in " + later + ": undo that file first.");
  }
  if (unreadable != 0) summary += " " + Count(unreadable, "sector") + " could not be read.";
  if (notWritten != 0) summary += " " + Count(notWritten, "sector") + " could not be written.";
  prompt.Message(summary, {}, complete ? PromptIcon::Information : PromptIcon::Exclamation);
  result.restored = restored;
  result.asBefore = asBefore;
  result.leftAlone = leftAlone;
  result.complete = complete;
  return result;
}

std::string UndoQuestionText(const UndoFileInfo& file) {
  return "Put back the " + Count(file.sectors, "sector") + " of " + file.drive + " kept in " +
         fs::path(file.file).filename().string() + "?";
}

std::vector<UndoFileInfo> ListUndoFiles(const std::string& dir, const std::vector<std::string>& drives) {
  std::vector<std::string> wanted;
  for (const auto& d : drives) wanted.push_back(Absolute(d));
  std::vector<UndoFileInfo> list;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (!e.is_regular_file(ec) || e.path().extension() != ".undo") continue;
    const UndoJournalContents c = ReadUndoJournal(e.path().string());
    if (!c.error.empty() || c.records.empty()) continue;
    const std::string& drive = c.records.front().drivePath;
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), drive) == wanted.end()) continue;
    list.push_back({e.path().string(), drive, c.created, c.records.size()});
  }
  // Newest first: by the order their names give (the time and the sequence
  // within a second), which also orders the names written before the
  // sequence came first; a name of another kind by the time in its header.
  std::sort(list.begin(), list.end(), [](const UndoFileInfo& a, const UndoFileInfo& b) {
    const auto an = ParseUndoFileName(fs::path(a.file).filename().string());
    const auto bn = ParseUndoFileName(fs::path(b.file).filename().string());
    if (an && bn && (*an < *bn || *bn < *an)) return *bn < *an;
    return a.created != b.created ? a.created > b.created : a.file > b.file;
  });
  return list;
}
