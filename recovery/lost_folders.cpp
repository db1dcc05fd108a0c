#include "recovery/lost_folders.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>
#include <set>
#include <unordered_map>

#include "disk/dir_entry.h"
#include "disk/le.h"
#include "recovery/entry_names.h"

namespace {

constexpr uint8_t kDeletedPiece = 0xE5;
constexpr size_t kSlot = kDirEntrySize;

// Stands in for an entry that could not be read: a deleted short entry of
// control bytes, which no name and no listing takes (never the end mark,
// never a long-name piece).
constexpr uint8_t kUnknownSlotFill[kSlot] = {kDirDeletedMark};

bool SoundTime(uint16_t t) { return (t & 0x1F) <= 29 && ((t >> 5) & 0x3F) <= 59 && (t >> 11) <= 23; }

bool SoundDate(uint16_t d) {
  const unsigned day = d & 0x1F;
  const unsigned month = (d >> 5) & 0x0F;
  return day >= 1 && month >= 1 && month <= 12;
}

bool IsDotName(std::span<const uint8_t> e, bool dotDot) {
  static constexpr char kDot[] = ".          ";
  static constexpr char kDotDot[] = "..         ";
  return std::memcmp(e.data(), dotDot ? kDotDot : kDot, 11) == 0;
}

enum class Slot { End, Dot, DotDot, Short, DeletedShort, Piece, DeletedPiece, Bad };

// The times, dates, reserved byte and cluster words every short entry shares.
bool SoundShortFields(std::span<const uint8_t> e, const ClusterGeometry& g, bool dot) {
  const uint8_t attributes = e[kDirAttributes];
  if ((attributes & 0xC0) != 0 || (attributes & (kAttrFolder | kAttrVolumeLabel)) ==
                                      (kAttrFolder | kAttrVolumeLabel))
    return false;
  // Only the two case flags live in byte 12.
  if ((e[kDirReserved] & ~0x18) != 0 || e[kDirCreatedTenths] > 199) return false;
  if (!SoundTime(le16(e, kDirCreatedTime)) || !SoundTime(le16(e, kDirModifiedTime))) return false;
  const uint16_t created = le16(e, kDirCreatedDate);
  const uint16_t accessed = le16(e, kDirAccessedDate);
  const uint16_t modified = le16(e, kDirModifiedDate);
  if ((created != 0 && !SoundDate(created)) || (accessed != 0 && !SoundDate(accessed))) return false;
  // Every writer sets the modification date of what it writes.
  if (modified == 0 ? !dot : !SoundDate(modified)) return false;
  if (g.fatType != FatWidth::Fat32 && le16(e, kDirClusterHigh) != 0) return false;
  return true;
}

bool SoundShortEntry(std::span<const uint8_t> e, const ClusterGeometry& g, bool deleted) {
  if (!SoundShortFields(e, g, false)) return false;
  if (!deleted && e[0] == ' ') return false;
  for (size_t i = deleted ? 1 : 0; i < 11; ++i)
    if (!ShortNameByte(e[i])) return false;
  const uint8_t attributes = e[kDirAttributes];
  const uint32_t cluster = DirEntryFirstCluster(e, g.fatType);
  const uint32_t size = le32(e, kDirSize);
  if (attributes & kAttrFolder) return g.InRange(cluster) && size == 0;
  if (attributes & kAttrVolumeLabel) return cluster == 0 && size == 0;
  if (cluster == 0) return size == 0;
  return g.InRange(cluster) && size <= g.DataBytes();
}

// A long-name piece: its fixed fields, and characters up to a zero and
// 0xFFFF after it. A live piece that is not the name's last holds 13.
bool SoundPiece(std::span<const uint8_t> e) {
  if (e[kDirAttributes] != kAttrLongNameMask || e[kLfnType] != 0 || le16(e, kLfnCluster) != 0)
    return false;
  const uint8_t ordinal = e[kLfnOrdinal];
  const bool deleted = ordinal == kDeletedPiece;
  if (!deleted) {
    const unsigned n = ordinal & ~kLfnLastPiece;
    if (n < 1 || n > kLfnMaxPieces || (ordinal & 0x80) != 0) return false;
  }
  bool ended = false;
  for (size_t offset : kLfnCharOffsets) {
    const uint16_t unit = le16(e, offset);
    if (ended) {
      if (unit != 0xFFFF) return false;
    } else if (unit == 0) {
      ended = true;
    } else if (unit < 0x20 || unit == 0xFFFF) {
      return false;
    }
  }
  return deleted || !ended || (ordinal & kLfnLastPiece) != 0;
}

Slot ClassifySlot(std::span<const uint8_t> e, const ClusterGeometry& g, size_t index) {
  const uint8_t first = e[0];
  const uint8_t attributes = e[kDirAttributes];
  if (first == kDirEndMark) return Slot::End;
  if ((attributes & 0x3F) == kAttrLongNameMask)
    return SoundPiece(e) ? (first == kDeletedPiece ? Slot::DeletedPiece : Slot::Piece) : Slot::Bad;
  if (index < 2 && (attributes & kAttrFolder) && IsDotName(e, index == 1))
    return SoundShortFields(e, g, true) && le32(e, kDirSize) == 0
               ? (index == 0 ? Slot::Dot : Slot::DotDot)
               : Slot::Bad;
  const bool deleted = IsDeletedMark(first);
  if (!SoundShortEntry(e, g, deleted)) return Slot::Bad;
  return deleted ? Slot::DeletedShort : Slot::Short;
}

bool SlotUnknown(size_t at, std::span<const ByteRange> unreadable) {
  for (const ByteRange& r : unreadable)
    if (r.offset < at + kSlot && at < r.offset + r.length) return true;
  return false;
}

bool IsUnknownSlot(std::span<const uint8_t> dir, size_t index) {
  return (index + 1) * kSlot <= dir.size() &&
         std::memcmp(dir.data() + index * kSlot, kUnknownSlotFill, kSlot) == 0;
}

// An entry's name as the listings give it, but a long name only where all
// of it is there: a run of pieces that an unreadable sector cut short would
// give a piece of a name, so the short name stands instead.
EntryName LostEntryName(std::span<const uint8_t> dir, size_t index, bool deleted) {
  const auto e = dir.subspan(index * kSlot, kSlot);
  if (deleted) {
    const std::optional<DeletedLongName> lfn = FindDeletedLongName(dir, index);
    if (lfn && lfn->first > 0 && IsUnknownSlot(dir, lfn->first - 1))
      return {ShortNameOf(e, true), false};
    return DeletedEntryName(dir, index);
  }
  if (index > 0 && IsLongNameEntry(dir[(index - 1) * kSlot + kDirAttributes]) &&
      !OwnLongNamePieces(dir, index, ShortNameChecksum(e.first(11))))
    return {ShortNameOf(e, false), false};
  return LiveEntryName(dir, index);
}

bool IsFatEndOrBad(uint32_t entry, FatWidth fatType) {
  const uint32_t bad = fatType == FatWidth::Fat12 ? 0xFF7 : fatType == FatWidth::Fat16 ? 0xFFF7 : 0x0FFFFFF7;
  return (entry & 0x0FFFFFFF) >= bad;
}

}  // namespace

std::string LostFolderFallbackName(uint32_t cluster) {
  return "Folder at cluster " + std::to_string(cluster);
}

FolderClusterJudgement JudgeFolderCluster(std::span<const uint8_t> bytes, uint32_t cluster,
                                          const ClusterGeometry& geometry,
                                          std::span<const ByteRange> unreadable) {
  FolderClusterJudgement j;
  const size_t slots = bytes.size() / kSlot;
  if (slots < 2 || !geometry.InRange(cluster)) return j;
  bool head = false;
  size_t piecesOpen = 0;         // live pieces waiting for their short entry
  bool piecesFromStart = false;  // they begin the cluster (or follow a hole)
  auto fail = [&j] {
    j = FolderClusterJudgement{};
    return j;
  };
  // A run of live pieces: ordinals counting down by one to the short entry,
  // one checksum, the first marked as the name's last piece - unless the run
  // began the cluster, where its farther pieces lie in the cluster before.
  auto soundRun = [&](size_t end, std::optional<uint8_t> sum) {
    const uint8_t runSum = bytes[(end - piecesOpen) * kSlot + kLfnChecksum];
    for (size_t n = 1; n <= piecesOpen; ++n) {
      const auto piece = bytes.subspan((end - n) * kSlot, kSlot);
      const uint8_t ordinal = piece[kLfnOrdinal];
      const bool farthest = n == piecesOpen;
      if (piece[kLfnChecksum] != (sum ? *sum : runSum)) return false;
      if (sum && (ordinal & ~kLfnLastPiece) != n) return false;
      if (!sum && (ordinal & ~kLfnLastPiece) !=
                      (bytes[(end - 1) * kSlot + kLfnOrdinal] & ~kLfnLastPiece) + n - 1)
        return false;
      if (((ordinal & kLfnLastPiece) != 0) != farthest && !(farthest && piecesFromStart))
        return false;
    }
    return true;
  };
  for (size_t i = 0; i < slots; ++i) {
    const size_t at = i * kSlot;
    const auto e = bytes.subspan(at, kSlot);
    if (SlotUnknown(at, unreadable)) {
      if (i < 2 && head) return fail();
      ++j.unknownSlots;
      piecesOpen = 0;  // a run of pieces cut by the hole cannot be checked
      j.tailUnknown = !j.ended;
      continue;
    }
    if (j.ended) {
      if (e[0] != kDirEndMark) return fail();
      continue;
    }
    j.tailUnknown = false;
    const Slot s = ClassifySlot(e, geometry, i);
    switch (s) {
      case Slot::Bad: return fail();
      case Slot::End:
        if (piecesOpen > 0) return fail();  // pieces of no entry
        j.ended = true;
        break;
      case Slot::Dot:
        if (DirEntryFirstCluster(e, geometry.fatType) != cluster) return fail();
        head = true;
        break;
      case Slot::DotDot: {
        if (!head) return fail();
        const uint32_t parent = DirEntryFirstCluster(e, geometry.fatType);
        if (parent != 0 && !geometry.InRange(parent)) return fail();
        j.parent = parent;
        break;
      }
      case Slot::Piece:
        if (piecesOpen == 0)
          piecesFromStart = i == 0 || SlotUnknown(at - kSlot, unreadable);
        if (i == 0 && (e[kLfnOrdinal] & kLfnLastPiece) == 0) {
          j.leadOrdinal = e[kLfnOrdinal];
          j.leadChecksum = e[kLfnChecksum];
        }
        ++piecesOpen;
        ++j.entries;
        break;
      case Slot::DeletedPiece:
        if (piecesOpen > 0) return fail();
        ++j.entries;
        break;
      case Slot::Short:
      case Slot::DeletedShort: {
        const uint8_t sum = ShortNameChecksum(e.first(11));
        if (i == 0 && s == Slot::Short) {
          j.leadShort = true;
          j.leadChecksum = sum;
        }
        if (piecesOpen > 0) {
          if (s == Slot::DeletedShort || !soundRun(i, sum)) return fail();
          piecesOpen = 0;
        }
        ++j.entries;
        ++j.shortEntries;
        break;
      }
    }
    if (i == 1 && head && s != Slot::DotDot) return fail();
    if (i == 0 && s == Slot::End) return fail();  // an empty cluster is nobody's folder
  }
  // Pieces at the very end belong to a short entry in the folder's next
  // cluster: what they say links the two.
  if (piecesOpen > 0) {
    if (!soundRun(slots, std::nullopt)) return fail();
    j.tailOrdinal = bytes[(slots - 1) * kSlot + kLfnOrdinal] & ~kLfnLastPiece;
    j.tailChecksum = bytes[(slots - 1) * kSlot + kLfnChecksum];
  }
  if (head) {
    j.kind = FolderClusterKind::Head;
  } else if (j.shortEntries > 0 || piecesOpen > 0) {
    j.kind = FolderClusterKind::Continuation;
  } else {
    return fail();
  }
  return j;
}

LostFolderScanner::LostFolderScanner(const ClusterGeometry& geometry) : geometry_(geometry) {}

void LostFolderScanner::Feed(const ClusterRun& run) {
  const uint32_t cb = geometry_.clusterBytes;
  if (!geometry_.Valid() || run.bytes.size() < uint64_t{run.count} * cb) return;
  for (uint32_t k = 0; k < run.count; ++k) {
    const uint32_t cluster = run.first + k;
    if (!geometry_.InRange(cluster)) continue;
    const uint64_t from = uint64_t{k} * cb;
    const std::vector<ByteRange> holes = UnreadableIn(run.unreadable, from, cb);
    uint64_t missing = 0;
    for (const ByteRange& h : holes) missing += h.length;
    if (missing >= cb) {
      unreadable_[cluster] = true;
      continue;
    }
    if (!holes.empty()) unreadable_[cluster] = false;
    const auto bytes = run.bytes.subspan(from, cb);
    // Most clusters fail on their first entry; only folder clusters go on.
    const FolderClusterJudgement j = JudgeFolderCluster(bytes, cluster, geometry_, holes);
    if (j.kind == FolderClusterKind::None) continue;
    Seen seen{j, {}};
    size_t keep = bytes.size();
    if (j.ended)
      for (size_t at = 0; at + kSlot <= bytes.size(); at += kSlot)
        if (bytes[at] == kDirEndMark && !SlotUnknown(at, holes)) {
          keep = at + kSlot;
          break;
        }
    seen.bytes.assign(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(keep));
    seen.reach = cluster;
    for (size_t at = 0; at + kSlot <= keep; at += kSlot) {
      if (SlotUnknown(at, holes)) {
        std::memcpy(seen.bytes.data() + at, kUnknownSlotFill, kSlot);
        continue;
      }
      const auto e = bytes.subspan(at, kSlot);
      if (IsLongNameEntry(e[kDirAttributes]) || IsDeletedMark(e[0]) || e[0] == kDirEndMark ||
          e[0] == '.')
        continue;
      const uint32_t first = DirEntryFirstCluster(e, geometry_.fatType);
      if (!geometry_.InRange(first)) continue;
      const uint64_t n = std::max<uint64_t>(1, (uint64_t{le32(e, kDirSize)} + cb - 1) / cb);
      seen.reach = std::max<uint32_t>(
          seen.reach, static_cast<uint32_t>(std::min<uint64_t>(first + n - 1, geometry_.lastCluster)));
    }
    clusters_[cluster] = std::move(seen);
  }
}

namespace {

struct Draft {
  uint32_t first = 0;
  std::vector<uint32_t> clusters;
  std::vector<uint32_t> unreadable;
  bool head = true;
  uint32_t parentCluster = 0;
  size_t parent = SIZE_MAX;
  // How the clusters joined so far end: with an end mark, or open with what
  // the last one says of the next.
  bool ended = false;
  uint8_t tailOrdinal = 0;
  uint8_t tailChecksum = 0;
  bool tailUnknown = false;
  uint32_t reach = 0;  // the highest cluster it or its files take
  bool taken = false;  // joined to another draft
  bool listed = false;  // a folder listed already: it takes its clusters, and is not shown
};

}  // namespace

LostFolderForest LostFolderScanner::Build(const LostFolderInputs& inputs) const {
  LostFolderForest forest;
  const ClusterGeometry& g = geometry_;
  if (!g.Valid()) return forest;
  const uint32_t cb = g.clusterBytes;
  const uint32_t mostClusters = std::max<uint32_t>(1, kMostFolderBytes / cb);
  auto taken = [&](uint32_t c) { return inputs.taken && inputs.taken(c); };
  auto kindOf = [&](uint32_t c) {
    const auto it = clusters_.find(c);
    return it == clusters_.end() ? FolderClusterKind::None : it->second.judgement.kind;
  };
  auto wholeHole = [&](uint32_t c) {
    const auto it = unreadable_.find(c);
    return it != unreadable_.end() && it->second;
  };

  std::set<uint32_t> used;  // continuation clusters joined to some folder
  // Whether a cluster's first entries complete the name whose pieces end
  // the draft's last cluster.
  auto completes = [](const FolderClusterJudgement& lead, const Draft& d) {
    return (lead.leadOrdinal != 0 && (lead.leadOrdinal & ~kLfnLastPiece) + 1 == d.tailOrdinal &&
            lead.leadChecksum == d.tailChecksum) ||
           (d.tailOrdinal == 1 && lead.leadShort && lead.leadChecksum == d.tailChecksum);
  };
  // Takes the state of the draft's end from its last cluster.
  auto settle = [&](Draft& d) {
    const Seen& last = clusters_.at(d.clusters.back());
    d.ended = last.judgement.ended;
    d.tailOrdinal = last.judgement.tailOrdinal;
    d.tailChecksum = last.judgement.tailChecksum;
    d.tailUnknown = last.judgement.tailUnknown;
    d.reach = std::max(d.reach, last.reach);
  };
  // A folder's clusters from its first: the FAT's chain where the FAT still
  // knows it, else the clusters right after it while they hold entries and
  // the one before had no end mark. Clusters that could not be read at all
  // are stepped over when entries follow them.
  auto gather = [&](Draft& d) {
    uint32_t c = d.clusters.back();
    std::vector<uint32_t> holes;
    while (!d.ended && d.clusters.size() + holes.size() < mostClusters) {
      uint32_t next = c + 1;
      if (inputs.fatEntry) {
        const uint32_t entry = inputs.fatEntry(c);
        if (g.InRange(entry)) next = entry;
        else if (entry != 0 && IsFatEndOrBad(entry, g.fatType)) break;
      }
      if (!g.InRange(next) || taken(next) || used.count(next) ||
          std::find(d.clusters.begin(), d.clusters.end(), next) != d.clusters.end())
        break;
      if (wholeHole(next)) {
        holes.push_back(next);
        c = next;
        continue;
      }
      if (kindOf(next) != FolderClusterKind::Continuation) break;
      const FolderClusterJudgement& j = clusters_.at(next).judgement;
      // A cluster that goes on with a name the one before did not begin, or
      // does not go on with the one it began, is another folder's.
      if (holes.empty() && !d.tailUnknown &&
          (d.tailOrdinal != 0 ? !completes(j, d) : j.leadOrdinal != 0))
        break;
      for (uint32_t h : holes) {
        d.clusters.push_back(h);
        d.unreadable.push_back(h);
      }
      holes.clear();
      d.clusters.push_back(next);
      used.insert(next);
      settle(d);
      c = next;
    }
  };

  std::vector<Draft> heads;
  for (const auto& [c, seen] : clusters_) {
    if (seen.judgement.kind != FolderClusterKind::Head || taken(c)) continue;
    Draft d;
    d.first = c;
    d.clusters.push_back(c);
    d.parentCluster = seen.judgement.parent;
    if (seen.judgement.unknownSlots > 0) d.unreadable.push_back(c);
    settle(d);
    gather(d);
    // A folder listed already still takes its clusters, so that no other
    // folder is given them.
    d.listed = inputs.reached && inputs.reached(c);
    heads.push_back(std::move(d));
  }
  // The continuation clusters left, in runs that follow on from each other.
  std::vector<Draft> pieces;
  for (const auto& [c, seen] : clusters_) {
    if (seen.judgement.kind != FolderClusterKind::Continuation || used.count(c) || taken(c))
      continue;
    Draft d;
    d.first = c;
    d.head = false;
    d.clusters.push_back(c);
    used.insert(c);
    if (seen.judgement.unknownSlots > 0) d.unreadable.push_back(c);
    settle(d);
    gather(d);
    pieces.push_back(std::move(d));
  }

  // A folder grows a cluster at a time, wherever a free one was then, so
  // after a format its later clusters lie apart from it. A run joins the
  // folder whose last cluster ends in long-name pieces that the run's first
  // entries complete (the checksum and the ordinals say so), or else -
  // following the order clusters are handed out in - the open folder that
  // last took a cluster before it: the run's first cluster is the first
  // free one after all that folder and its files hold.
  auto append = [&](Draft& d, Draft& p) {
    d.clusters.insert(d.clusters.end(), p.clusters.begin(), p.clusters.end());
    d.unreadable.insert(d.unreadable.end(), p.unreadable.begin(), p.unreadable.end());
    d.ended = p.ended;
    d.tailOrdinal = p.tailOrdinal;
    d.tailChecksum = p.tailChecksum;
    d.tailUnknown = p.tailUnknown;
    d.reach = std::max(d.reach, p.reach);
    p.taken = true;
  };
  auto leadOf = [&](const Draft& p) -> const FolderClusterJudgement& {
    return clusters_.at(p.first).judgement;
  };
  auto fits = [&](const Draft& d, const Draft& p) {
    return d.clusters.size() + p.clusters.size() <= mostClusters;
  };
  for (bool joined = true; joined;) {
    joined = false;
    for (Draft& d : heads) {
      if (d.ended || d.tailOrdinal == 0) continue;
      Draft* match = nullptr;
      size_t matches = 0;
      for (Draft& p : pieces) {
        if (p.taken || !fits(d, p)) continue;
        if (completes(leadOf(p), d)) {
          match = &p;
          ++matches;
        }
      }
      if (matches == 1) {
        append(d, *match);
        joined = true;
      }
    }
    if (joined) continue;
    // By the order of allocation: each open folder's first run after its
    // reach; where two folders want one run, the one that reached nearer.
    std::map<size_t, size_t> want;  // run -> folder
    for (size_t i = 0; i < heads.size(); ++i) {
      const Draft& d = heads[i];
      if (d.ended || d.tailOrdinal != 0) continue;
      size_t best = SIZE_MAX;
      for (size_t k = 0; k < pieces.size(); ++k) {
        const Draft& p = pieces[k];
        if (p.taken || p.first <= d.reach || !fits(d, p)) continue;
        if (leadOf(p).leadOrdinal != 0 && !d.tailUnknown) continue;
        if (best == SIZE_MAX || p.first < pieces[best].first) best = k;
      }
      if (best == SIZE_MAX) continue;
      const auto it = want.find(best);
      if (it == want.end() || heads[it->second].reach < d.reach) want[best] = i;
    }
    for (const auto& [k, i] : want) {
      append(heads[i], pieces[k]);
      joined = true;
    }
  }

  // Runs no folder took: a folder whose first cluster is gone. Two entries
  // at least, so that one stray entry-like cluster is not taken for one.
  std::vector<Draft> drafts;
  for (Draft& d : heads)
    if (!d.listed) drafts.push_back(std::move(d));
  for (Draft& p : pieces) {
    if (p.taken) continue;
    uint32_t shortEntries = 0, names = 0;
    for (uint32_t k : p.clusters)
      if (const auto it = clusters_.find(k); it != clusters_.end()) {
        shortEntries += it->second.judgement.shortEntries;
        names += it->second.judgement.entries - it->second.judgement.shortEntries;
      }
    if (shortEntries < 2 && !(shortEntries == 1 && names > 0)) continue;
    drafts.push_back(std::move(p));
  }

  // Parents through "..": the root (0, or a 32-bit volume's root cluster),
  // a folder listed already, or one not found make a folder a top one.
  std::unordered_map<uint32_t, size_t> byFirst;
  for (size_t i = 0; i < drafts.size(); ++i)
    if (drafts[i].head) byFirst[drafts[i].first] = i;
  for (Draft& d : drafts) {
    if (!d.head) continue;
    const uint32_t p = d.parentCluster;
    if (p == 0 || p == d.first || (g.rootCluster != 0 && p == g.rootCluster)) continue;
    if (const auto it = byFirst.find(p); it != byFirst.end()) d.parent = it->second;
  }
  // Folders whose ".." lead round in a ring: the ring is cut above the one of
  // lowest cluster, which becomes a top folder.
  {
    std::vector<uint8_t> state(drafts.size(), 0);  // 0 new, 1 on the current path, 2 done
    for (size_t start = 0; start < drafts.size(); ++start) {
      std::vector<size_t> path;
      size_t at = start;
      while (at != SIZE_MAX && state[at] == 0) {
        state[at] = 1;
        path.push_back(at);
        at = drafts[at].parent;
      }
      if (at != SIZE_MAX && state[at] == 1) {
        size_t lowest = at;
        for (size_t k = drafts[at].parent; k != at; k = drafts[k].parent)
          if (drafts[k].first < drafts[lowest].first) lowest = k;
        drafts[lowest].parent = SIZE_MAX;
      }
      for (size_t k : path) state[k] = 2;
    }
  }

  // Each folder's entries, from its clusters' bytes joined.
  struct Parsed {
    std::vector<uint8_t> dir;
  };
  std::vector<Parsed> parsed(drafts.size());
  for (size_t i = 0; i < drafts.size(); ++i) {
    std::vector<uint8_t>& dir = parsed[i].dir;
    for (uint32_t c : drafts[i].clusters) {
      if (const auto it = clusters_.find(c); it != clusters_.end()) {
        dir.insert(dir.end(), it->second.bytes.begin(), it->second.bytes.end());
      } else {
        for (uint32_t k = 0; k < cb / kSlot; ++k)
          dir.insert(dir.end(), std::begin(kUnknownSlotFill), std::end(kUnknownSlotFill));
      }
    }
  }

  // Folders in order, parents first: the tops by cluster, then each one's
  // children as its entries name them.
  std::vector<std::vector<size_t>> children(drafts.size());
  std::vector<size_t> tops;
  for (size_t i = 0; i < drafts.size(); ++i) {
    if (drafts[i].parent == SIZE_MAX) tops.push_back(i);
    else children[drafts[i].parent].push_back(i);
  }
  std::sort(tops.begin(), tops.end(),
            [&](size_t a, size_t b) { return drafts[a].first < drafts[b].first; });

  std::vector<bool> lostCluster(uint64_t{g.lastCluster} + 1, false);
  for (const Draft& d : drafts)
    for (uint32_t c : d.clusters) lostCluster[c] = true;
  auto overwritten = [&](uint32_t c) { return taken(c) || lostCluster[c]; };

  std::vector<size_t> finalIndex(drafts.size(), SIZE_MAX);
  std::vector<bool> deletedBranch;
  std::deque<size_t> queue(tops.begin(), tops.end());
  while (!queue.empty()) {
    const size_t d = queue.front();
    queue.pop_front();
    const size_t me = forest.folders.size();
    finalIndex[d] = me;
    LostFolder f;
    f.firstCluster = drafts[d].first;
    f.clusters = drafts[d].clusters;
    f.unreadableClusters = drafts[d].unreadable;
    f.headFound = drafts[d].head;
    f.parentCluster = drafts[d].parentCluster;
    f.name = LostFolderFallbackName(f.firstCluster);
    bool inDeleted = false;
    if (drafts[d].parent != SIZE_MAX) {
      f.parent = finalIndex[drafts[d].parent];
      const LostFolder& up = forest.folders[f.parent];
      inDeleted = deletedBranch[f.parent];
      // The entry of the folder above that names this one: a live one first.
      size_t best = SIZE_MAX;
      for (size_t e : up.entries) {
        const LostEntry& entry = forest.entries[e];
        if (!entry.file.folder || entry.file.startCluster != f.firstCluster) continue;
        if (best == SIZE_MAX || (forest.entries[best].deleted && !entry.deleted)) best = e;
      }
      if (best != SIZE_MAX) {
        LostEntry& naming = forest.entries[best];
        f.name = naming.file.name;
        f.named = true;
        f.longName = naming.file.longName;
        f.deleted = naming.deleted;
        naming.subfolder = me;
      }
      f.path = up.path;
    }
    f.path += "/" + f.name;
    deletedBranch.push_back(inDeleted || f.deleted);
    if (f.parent == SIZE_MAX) forest.tops.push_back(me);

    const std::span<const uint8_t> dir = parsed[d].dir;
    const size_t slots = dir.size() / kSlot;
    for (size_t i = 0; i < slots; ++i) {
      const auto e = dir.subspan(i * kSlot, kSlot);
      const uint8_t attributes = e[kDirAttributes];
      if (IsLongNameEntry(attributes)) continue;
      if (e[0] == kDirEndMark) break;
      if (attributes & kAttrVolumeLabel) continue;
      if (f.headFound && i < 2 && IsDotName(e, i == 1)) continue;
      const bool deleted = IsDeletedMark(e[0]);
      if (deleted && !PlausibleDeletedName(e)) continue;
      const EntryName name = LostEntryName(dir, i, deleted);
      LostEntry entry;
      entry.deleted = deleted;
      entry.folder = me;
      entry.createdDate = le16(e, kDirCreatedDate);
      entry.accessedDate = le16(e, kDirAccessedDate);
      DeletedFile& file = entry.file;
      file.name = name.text;
      file.longName = name.longName;
      file.path = f.path + "/" + name.text;
      file.folder = (attributes & kAttrFolder) != 0;
      file.attributes = attributes;
      file.size = le32(e, kDirSize);
      file.startCluster = DirEntryFirstCluster(e, g.fatType);
      file.modifiedDate = le16(e, kDirModifiedDate);
      file.modifiedTime = le16(e, kDirModifiedTime);
      file.inDeletedFolder = deletedBranch.back();
      if (!file.folder) {
        const RunJudgement run = JudgeFileRun(file.startCluster, file.size, cb, g.lastCluster, overwritten);
        file.state = run.state;
        file.clusters = run.clusters;
        file.overwritten = run.overwritten;
      } else {
        // Judged below, once it is known whether its folder was found.
        file.state = g.InRange(file.startCluster) ? DeletedState::PartlyOverwritten : DeletedState::Lost;
        file.clusters = file.overwritten = g.InRange(file.startCluster) ? 1 : 0;
      }
      f.entries.push_back(forest.entries.size());
      forest.entries.push_back(std::move(entry));
    }
    forest.folders.push_back(std::move(f));

    std::vector<size_t>& kids = children[d];
    // Children in the order the entries name them, the unnamed ones last.
    auto position = [&](size_t child) {
      const LostFolder& self = forest.folders[me];
      for (size_t k = 0; k < self.entries.size(); ++k) {
        const LostEntry& entry = forest.entries[self.entries[k]];
        if (entry.file.folder && entry.file.startCluster == drafts[child].first) return k;
      }
      return SIZE_MAX;
    };
    std::stable_sort(kids.begin(), kids.end(), [&](size_t a, size_t b) {
      const size_t pa = position(a), pb = position(b);
      return pa != pb ? pa < pb : drafts[a].first < drafts[b].first;
    });
    queue.insert(queue.end(), kids.begin(), kids.end());
  }

  // A folder entry whose folder was found counts that folder's clusters.
  for (LostEntry& entry : forest.entries) {
    if (!entry.file.folder || entry.subfolder == SIZE_MAX) continue;
    const LostFolder& sub = forest.folders[entry.subfolder];
    entry.file.clusters = static_cast<uint32_t>(sub.clusters.size());
    entry.file.overwritten = 0;
    for (uint32_t c : sub.clusters) entry.file.overwritten += taken(c) ? 1 : 0;
    entry.file.state =
        entry.file.overwritten == 0 ? DeletedState::Intact : DeletedState::PartlyOverwritten;
  }
  return forest;
}

LostFolderForest FindLostFolders(ClusterSource& source, const ClusterGeometry& geometry,
                                 const LostFolderInputs& inputs, const std::atomic<bool>* stop) {
  LostFolderScanner scanner(geometry);
  ClusterRunOptions options;
  options.skip = inputs.taken;
  options.stop = stop;
  (void)ForEachClusterRun(source, geometry, options,
                          [&](const ClusterRun& run) { scanner.Feed(run); });
  return scanner.Build(inputs);
}
