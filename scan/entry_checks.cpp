// The scan's checks of directory entries: long-name sets, a folder's "." and
// "..", folder entries that lead back to their own folder or the root, folder
// sizes, short names and duplicate names. Every repair keeps the entry's data
// and long name: a bad or duplicate name gets another short name (its long
// name re-summed to it), a broken long-name set loses only its pieces.
#include <array>
#include <cstring>
#include <set>
#include <string>

#include "disk/dir_entry.h"
#include "disk/le.h"
#include "disk/long_name.h"
#include "scan/disk_scan.h"
#include "scan/scan_texts.h"
#include "views/format_cell.h"

namespace {

using Name11 = std::array<uint8_t, kDirNameLength + kDirExtensionLength>;

constexpr uint8_t kDotName[] = ".          ";
constexpr uint8_t kDotDotName[] = "..         ";
// Byte 12's case flags: the name or the extension shown in lower case.
constexpr uint8_t kLowerCaseName = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;
// Numbers a duplicate may take (NAME~1 ... N~999999).
constexpr unsigned kMostNumbers = 999999;

Name11 NameOf(std::span<const uint8_t> entry) {
  Name11 name{};
  std::memcpy(name.data(), entry.data(), name.size());
  return name;
}

std::span<uint8_t> EntryAt(ScanFolder& folder, size_t i) {
  return std::span<uint8_t>(folder.bytes).subspan(i * kDirEntrySize, kDirEntrySize);
}

// A live entry the name checks look at: a file's or a folder's, not "." or
// "..", not a label, not a long-name piece. A first byte 0x05 stands for a
// name that begins with 0xE5: the entry is live.
bool LiveShortEntry(std::span<const uint8_t> e) {
  const uint8_t attributes = e[kDirAttributes];
  return e[0] != kDirEndMark && e[0] != kDirDeletedMark && !IsLongNameEntry(attributes) &&
         (attributes & kAttrVolumeLabel) == 0 && e[0] != '.';
}

bool IsFolderEntry(std::span<const uint8_t> e) {
  return e[0] != kDirEndMark && e[0] != kDirDeletedMark && !IsLongNameEntry(e[kDirAttributes]) &&
         (e[kDirAttributes] & (kAttrFolder | kAttrVolumeLabel)) == kAttrFolder;
}

bool IsLower(uint8_t b) { return b >= 'a' && b <= 'z'; }

// Blanks only pad: none first, none before another character of its part.
bool Packed(const Name11& name, size_t from, size_t length) {
  bool blank = false;
  for (size_t k = from; k < from + length; ++k) {
    if (name[k] == ' ')
      blank = true;
    else if (blank)
      return false;
  }
  return true;
}

bool ValidShortName(const Name11& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (i == 0 && name[0] == kDirDeletedMarkAlt) continue;
    if (!ShortNameByte(name[i]) || IsLower(name[i])) return false;
  }
  return name[0] != ' ' && Packed(name, 0, kDirNameLength) && Packed(name, kDirExtension, kDirExtensionLength);
}

// The name made valid: letters in capitals, blanks closed up, each byte a
// short name cannot hold made '_'.
Name11 MendedName(const Name11& name) {
  Name11 mended;
  mended.fill(' ');
  auto part = [&](size_t from, size_t length) {
    size_t to = from;
    for (size_t k = from; k < from + length; ++k) {
      const uint8_t b = name[k];
      if (b == ' ') continue;
      if (k == 0 && b == kDirDeletedMarkAlt)
        mended[to++] = b;
      else
        mended[to++] = IsLower(b) ? static_cast<uint8_t>(b - 'a' + 'A') : ShortNameByte(b) ? b : '_';
    }
    return to > from;
  };
  if (!part(0, kDirNameLength)) mended[0] = '_';
  part(kDirExtension, kDirExtensionLength);
  return mended;
}

// NAME~N: the name's first characters and the number, in eight at most.
Name11 NumberedName(const Name11& name, unsigned n) {
  const std::string tail = "~" + std::to_string(n);
  size_t length = kDirNameLength;
  while (length > 0 && name[length - 1] == ' ') --length;
  length = std::min(length, kDirNameLength - tail.size());
  Name11 numbered = name;
  std::fill(numbered.begin(), numbered.begin() + kDirNameLength, ' ');
  std::copy(name.begin(), name.begin() + static_cast<ptrdiff_t>(length), numbered.begin());
  std::memcpy(numbered.data() + length, tail.data(), tail.size());
  return numbered;
}

// Whether the letters of a part were all in lower case (and there was one).
bool AllLower(const Name11& name, size_t from, size_t length) {
  bool letter = false;
  for (size_t k = from; k < from + length; ++k) {
    if (name[k] >= 'A' && name[k] <= 'Z') return false;
    letter = letter || IsLower(name[k]);
  }
  return letter;
}

// NAME.EXT for a message, with a byte no terminal should be sent as '?'.
std::string ShownName(std::span<const uint8_t> e) {
  auto part = [&](size_t from, size_t length) {
    while (length > 0 && e[from + length - 1] == ' ') --length;
    std::string text(reinterpret_cast<const char*>(e.data()) + from, length);
    for (char& c : text)
      if (static_cast<uint8_t>(c) < 0x20 || static_cast<uint8_t>(c) == 0x7F) c = '?';
    return text;
  };
  std::string text = part(kDirName, kDirNameLength);
  const std::string extension = part(kDirExtension, kDirExtensionLength);
  if (!extension.empty()) text += "." + extension;
  return OemNameToUtf8(text);
}

// The live long-name pieces in front of entry i that carry its checksum,
// whatever their ordinals: its own set, once broken sets are gone.
template <class Visit>
void OwnPieces(ScanFolder& folder, size_t i, uint8_t checksum, Visit visit) {
  const size_t run = LongNamePieceRun(folder.bytes, i, checksum);
  for (size_t n = 1; n <= run; ++n) visit(EntryAt(folder, i - n));
}

}  // namespace

void DiskScan::EntryRepaired(size_t at) {
  folderChanged_ = true;
  entryRepairs_.push_back({at, {}});
  ++pendingOnFat_;
}

bool DiskScan::LeadsBack(std::span<const uint8_t> entry) const {
  if (!IsFolderEntry(entry) || entry[0] == '.' || path_.empty()) return false;
  const uint32_t first = DirEntryFirstCluster(entry, layout_.width);
  return first == path_.back() || first == 0 ||
         (layout_.width == FatWidth::Fat32 && first == layout_.rootCluster);
}

void DiskScan::CheckEntries(ScanFolder& folder) {
  CheckLongNames(folder);
  // The root has no "." and "..".
  if (path_.size() > 1 && !Stopped()) CheckDotEntries(folder);
  if (!Stopped()) CheckFolderEntries(folder);
  if (!Stopped()) CheckShortNames(folder);
}

void DiskScan::CheckLongNames(ScanFolder& folder) {
  // A set is its pieces from the one marked last (ordinal n | 0x40) down to
  // ordinal 1, each with one checksum, then the live short entry of that
  // checksum. Pieces that break the rule, up to the next set's start or an
  // entry that is no live piece, go together.
  constexpr size_t kNone = SIZE_MAX;
  size_t setFrom = kNone, brokenFrom = kNone;
  uint8_t next = 0, checksum = 0;
  auto drop = [&](size_t to) {
    if (brokenFrom == kNone) return;
    const size_t from = brokenFrom;
    brokenFrom = kNone;
    if (!AskFix(kScanBrokenLongName, &ScanResult::brokenLongNames)) return;
    for (size_t k = from; k < to; ++k)
      if (IsLiveLongNamePiece(EntryAt(folder, k))) EntryAt(folder, k)[0] = kDirDeletedMark;
    EntryRepaired(from * kDirEntrySize);
  };
  size_t i = 0;
  for (; i < folder.entryCount && !Stopped(); ++i) {
    const std::span<uint8_t> e = EntryAt(folder, i);
    if (e[0] == kDirEndMark) break;
    if (IsLiveLongNamePiece(e)) {
      const uint8_t ordinal = e[kLfnOrdinal];
      if ((ordinal & kLfnLastPiece) != 0) {
        if (setFrom != kNone) brokenFrom = setFrom;
        drop(i);
        setFrom = i;
        next = ordinal & ~kLfnLastPiece;
        checksum = e[kLfnChecksum];
        if (next == 0 || next > kLfnMaxPieces) {
          brokenFrom = i;
          setFrom = kNone;
        } else {
          --next;
        }
      } else if (setFrom != kNone && next != 0 && ordinal == next && e[kLfnChecksum] == checksum) {
        --next;
      } else if (brokenFrom == kNone) {
        brokenFrom = setFrom != kNone ? setFrom : i;
        setFrom = kNone;
      }
      continue;
    }
    if (setFrom != kNone &&
        !(next == 0 && LiveShortEntry(e) && ShortNameChecksum(e.first(kDirNameLength + kDirExtensionLength)) == checksum))
      brokenFrom = setFrom;
    setFrom = kNone;
    drop(i);
  }
  if (setFrom != kNone) brokenFrom = setFrom;
  drop(i);
}

void DiskScan::CheckDotEntries(ScanFolder& folder) {
  const uint32_t self = path_.back();
  // ".." of a folder in the root holds 0, also on a 32-bit volume.
  const uint32_t parent = path_.size() == 2 ? 0 : path_[path_.size() - 2];
  for (size_t k = 0; k < 2 && k < folder.entryCount; ++k) {
    const uint8_t* want = k == 0 ? kDotName : kDotDotName;
    const uint32_t cluster = k == 0 ? self : parent;
    const std::span<uint8_t> e = EntryAt(folder, k);
    const bool named = std::memcmp(e.data(), want, kDirNameLength + kDirExtensionLength) == 0;
    if (named && IsFolderEntry(e) && DirEntryFirstCluster(e, layout_.width) == cluster) continue;
    const char* shown = k == 0 ? "." : "..";
    // A slot that holds another entry is not taken from it; an end mark is
    // built on only where no entry stands behind it.
    const bool endAfter = k + 1 >= folder.entryCount || EntryAt(folder, k + 1)[0] == kDirEndMark ||
                          (k == 0 && std::memcmp(EntryAt(folder, 1).data(), kDotDotName, 11) == 0);
    const bool free = e[0] == kDirDeletedMark || (e[0] == kDirEndMark && endAfter);
    if (!named && !free) {
      Say(FormatText(kScanDotTaken, shown));
      ++result_.problemsFound;
      ++result_.problemsLeft;
      ++result_.dotEntries;
      continue;
    }
    if (!AskFix(FormatText(kScanDotEntry, shown), &ScanResult::dotEntries)) continue;
    if (!named) {
      std::fill(e.begin(), e.end(), 0);
      std::memcpy(e.data(), want, kDirNameLength + kDirExtensionLength);
      StampDirEntry(e, FileDateNow());
    }
    e[kDirAttributes] = static_cast<uint8_t>((e[kDirAttributes] & ~(kAttrVolumeLabel | kAttrLongNameMask)) | kAttrFolder);
    SetDirEntryFirstCluster(e, cluster, layout_.width);
    putLe32(e, kDirSize, 0);
    EntryRepaired(k * kDirEntrySize);
  }
}

void DiskScan::CheckFolderEntries(ScanFolder& folder) {
  for (size_t i = 0; i < folder.entryCount && !Stopped(); ++i) {
    const std::span<uint8_t> e = EntryAt(folder, i);
    if (e[0] == kDirEndMark) break;
    if (!IsFolderEntry(e)) continue;
    if (LeadsBack(e)) {
      // The folder it leads to keeps its own entry: removing this one loses
      // nothing, and its long name goes with it.
      if (!AskFix(FormatText(kScanFolderLoop, ShownName(e).c_str()), &ScanResult::folderLoops)) continue;
      OwnPieces(folder, i, ShortNameChecksum(e.first(11)), [](std::span<uint8_t> piece) { piece[0] = kDirDeletedMark; });
      e[0] = kDirDeletedMark;
      EntryRepaired(i * kDirEntrySize);
      continue;
    }
    if (le32(e, kDirSize) != 0 && AskFix(FormatText(kScanFolderSize, ShownName(e).c_str()), &ScanResult::folderSizes)) {
      putLe32(e, kDirSize, 0);
      EntryRepaired(i * kDirEntrySize);
    }
  }
}

void DiskScan::CheckShortNames(ScanFolder& folder) {
  // Every name the folder holds stays taken, so that a new name never
  // makes another entry a duplicate.
  std::set<Name11> taken, seen;
  size_t end = 0;
  for (; end < folder.entryCount; ++end) {
    const std::span<const uint8_t> e = EntryAt(folder, end);
    if (e[0] == kDirEndMark) break;
    if (LiveShortEntry(e)) taken.insert(NameOf(e));
  }
  for (size_t i = 0; i < end && !Stopped(); ++i) {
    const std::span<uint8_t> e = EntryAt(folder, i);
    if (!LiveShortEntry(e)) continue;
    const Name11 name = NameOf(e);
    const bool valid = ValidShortName(name);
    if (seen.insert(name).second && valid) continue;
    const std::string shown = ShownName(e);
    const bool yes = valid ? AskFix(FormatText(kScanDuplicateName, shown.c_str()), &ScanResult::duplicateNames)
                           : AskFix(FormatText(kScanBadShortName, shown.c_str()), &ScanResult::badShortNames);
    if (!yes) continue;
    Name11 renamed = valid ? name : MendedName(name);
    const bool numbered = valid || taken.contains(renamed);
    for (unsigned n = 1; numbered && n <= kMostNumbers; ++n) {
      renamed = NumberedName(valid ? name : MendedName(name), n);
      if (!taken.contains(renamed)) break;
    }
    if (taken.contains(renamed)) {
      // Every number is taken: the name stays.
      Say(kScanFixFailed);
      ++result_.problemsLeft;
      continue;
    }
    taken.insert(renamed);
    seen.insert(renamed);
    // The long name is kept: its pieces carry the new name's checksum.
    const uint8_t now = ShortNameChecksum(renamed);
    OwnPieces(folder, i, ShortNameChecksum(name), [now](std::span<uint8_t> piece) { piece[kLfnChecksum] = now; });
    // A name typed in lower case keeps showing so where the case flags count.
    if (!numbered && AllLower(name, 0, kDirNameLength)) e[kDirReserved] |= kLowerCaseName;
    if (!numbered && AllLower(name, kDirExtension, kDirExtensionLength)) e[kDirReserved] |= kLowerCaseExtension;
    std::memcpy(e.data(), renamed.data(), renamed.size());
    EntryRepaired(i * kDirEntrySize);
  }
}
