#include "views/exfat_views.h"

#include <cinttypes>
#include <cstdio>

#include "disk/exfat_node.h"
#include "views/fat_views.h"
#include "views/hex_dump.h"
#include "views/list_ops.h"

namespace {

constexpr const char* kBitmapUnreadable = "Allocation bitmap not accessible!";
constexpr const char* kUpcaseUnreadable = "Up-case table not accessible!";
constexpr const char* kFolderUnreadable = "Not able to load the sub-directory";
// The bitmap of a large card has few runs, a damaged one may have millions:
// the view lists this many and says there are more.
constexpr size_t kMaxBitmapRuns = 100000;

std::string Number(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

std::string Hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, value);
  return text;
}

std::string Checked(uint64_t stored, uint64_t computed, int digits) {
  std::string text = Hex(stored, digits);
  if (stored != computed) text += " (should be " + Hex(computed, digits) + ")";
  return text;
}

std::string FlagNames(uint64_t value, int digits, std::initializer_list<std::pair<uint64_t, const char*>> bits) {
  std::string names;
  for (const auto& [bit, name] : bits) {
    if ((value & bit) == 0) continue;
    names += names.empty() ? " (" : ", ";
    names += name;
  }
  return Hex(value, digits) + (names.empty() ? "" : names + ")");
}

std::string AttributesText(uint16_t a) {
  std::string text;
  const std::pair<uint16_t, char> bits[] = {{kExfatAttrReadOnly, 'R'}, {kExfatAttrHidden, 'H'},
                                           {kExfatAttrSystem, 'S'},   {kExfatAttrDirectory, 'D'},
                                           {kExfatAttrArchive, 'A'}};
  for (const auto& [bit, letter] : bits)
    if (a & bit) text += letter;
  return text;
}

std::string ProblemsText(const ExfatEntrySet& set) {
  std::string text;
  for (const ExfatSetProblem p : set.problems) {
    if (!text.empty()) text += "; ";
    text += ExfatSetProblemText(p);
  }
  return text;
}

}  // namespace

std::string ExfatTimestampText(const ExfatTimestamp& t) {
  if (!t.Valid()) return "Invalid (" + Hex(t.raw, 8) + ")";
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%02u", unsigned{t.year}, unsigned{t.month},
                unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second},
                static_cast<unsigned>(t.millisecond / 10));
  std::string out = text;
  if (t.utcOffsetValid) {
    const int minutes = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
    std::snprintf(text, sizeof text, " UTC%c%02d:%02d", t.utcOffsetMinutes < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    out += text;
  }
  return out;
}

DecodedView ExfatBootView(const ExfatBootRegion& region, const std::string& note) {
  DecodedView view;
  view.columns = {{"Field"}, {"Value"}};
  if (!note.empty()) view.rows.push_back({"Note", note});
  if (region.read) {
    const ExfatBootSector& b = region.boot;
    char jump[16], revision[16];
    std::snprintf(jump, sizeof jump, "%02X %02X %02X", b.jumpBoot[0], b.jumpBoot[1], b.jumpBoot[2]);
    std::snprintf(revision, sizeof revision, "%u.%02u", unsigned{b.RevisionMajor()}, unsigned{b.RevisionMinor()});
    const std::vector<std::vector<std::string>> rows = {
        {"Jump Boot", jump},
        {"File System Name", b.fileSystemName},
        {"Must Be Zero", b.mustBeZeroClear ? "Zero" : "Not zero"},
        {"Partition Offset", Number(b.partitionOffset)},
        {"Volume Length", Number(b.volumeLength)},
        {"FAT Offset", Number(b.fatOffset)},
        {"FAT Length", Number(b.fatLength)},
        {"Cluster Heap Offset", Number(b.clusterHeapOffset)},
        {"Cluster Count", Number(b.clusterCount)},
        {"First Cluster of Root Directory", Number(b.rootCluster)},
        {"Volume Serial Number", Hex(b.volumeSerial, 8)},
        {"File System Revision", revision},
        {"Volume Flags", FlagNames(b.volumeFlags, 4,
                                   {{kExfatActiveFat, "Second FAT active"}, {kExfatVolumeDirty, "Volume dirty"},
                                    {kExfatMediaFailure, "Media failure"}, {kExfatClearToZero, "Clear to zero"}})},
        {"Bytes per Sector Shift", Number(b.bytesPerSectorShift) + " (" +
                                       (b.bytesPerSectorShift < 32 ? Number(uint64_t{1} << b.bytesPerSectorShift) : "?") +
                                       " bytes)"},
        {"Sectors per Cluster Shift", Number(b.sectorsPerClusterShift) + " (" +
                                          (b.sectorsPerClusterShift < 32 ? Number(uint64_t{1} << b.sectorsPerClusterShift) : "?") +
                                          " sectors)"},
        {"Number of FATs", Number(b.numberOfFats)},
        {"Drive Select", Hex(b.driveSelect, 2)},
        {"Percent in Use", b.percentInUse == 0xFF ? "Not known" : Number(b.percentInUse)},
        {"Boot Signature", Hex(b.bootSignature, 4)},
        {"Boot Checksum", Checked(region.storedChecksum, region.computedChecksum, 8)},
    };
    view.rows.insert(view.rows.end(), rows.begin(), rows.end());
  }
  for (const ExfatBootProblem p : region.problems) view.rows.push_back({"Problem", ExfatBootProblemText(p)});
  return view;
}

DecodedView ExfatBitmapView(const ExfatBitmap& bitmap) {
  DecodedView view;
  view.columns = {{"First Cluster"}, {"Last Cluster"}, {"Clusters"}, {"State"}};
  const auto runs = bitmap.Runs(kExfatFirstCluster, kMaxBitmapRuns + 1);
  for (size_t i = 0; i < runs.size() && i < kMaxBitmapRuns; ++i) {
    const auto& r = runs[i];
    view.rows.push_back({Number(r.first), Number(uint64_t{r.first} + r.count - 1), Number(r.count),
                         r.used ? "Used" : "Free"});
  }
  if (runs.size() > kMaxBitmapRuns) view.rows.push_back({"...", "", "", "More runs not listed"});
  return view;
}

DecodedView ExfatDirectoryView(const ExfatDirectory& dir) {
  DecodedView view;
  view.columns = {{"Entry"},      {"Type"},         {"State"},         {"Name"},     {"Attributes"},
                  {"Size"},       {"Valid Size"},   {"First Cluster"}, {"Chain"},    {"Created"},
                  {"Modified"},   {"Accessed"},     {"Name Hash"},     {"Set Checksum"}, {"Problems"}};
  for (const ExfatEntrySet& s : dir.sets) {
    std::vector<std::string> row(view.columns.size());
    const ExfatEntry& e = s.primary;
    row[0] = Number(s.firstEntry);
    row[1] = ExfatEntryKindName(s.kind);
    row[2] = s.deleted ? "Deleted" : "In use";
    switch (s.kind) {
      case ExfatEntryKind::File:
        row[3] = s.name;
        row[4] = AttributesText(e.attributes);
        row[9] = ExfatTimestampText(e.created);
        row[10] = ExfatTimestampText(e.modified);
        row[11] = ExfatTimestampText(e.accessed);
        if (s.hasStream) {
          row[5] = Number(s.stream.dataLength);
          row[6] = Number(s.stream.validDataLength);
          row[7] = Number(s.stream.firstCluster);
          row[8] = s.NoFatChain() ? "NoFatChain" : "FAT";
          row[12] = s.computedNameHash ? Checked(s.stream.nameHash, *s.computedNameHash, 4) : Hex(s.stream.nameHash, 4);
        }
        break;
      case ExfatEntryKind::VolumeLabel: row[3] = ExfatNameToUtf8(e.units); break;
      case ExfatEntryKind::AllocationBitmap:
        row[3] = (e.flags & 1) ? "Second bitmap" : "First bitmap";
        [[fallthrough]];
      case ExfatEntryKind::UpcaseTable:
        if (s.kind == ExfatEntryKind::UpcaseTable) row[3] = "Table checksum " + Hex(e.tableChecksum, 8);
        row[5] = Number(e.dataLength);
        row[7] = Number(e.firstCluster);
        row[8] = "FAT";
        break;
      case ExfatEntryKind::VolumeGuid: {
        Guid guid;
        std::copy(std::begin(e.guid), std::end(e.guid), guid.begin());
        row[3] = GuidText(guid);
        break;
      }
      default: break;
    }
    if (s.checksumChecked) row[13] = Checked(e.setChecksum, s.computedChecksum, 4);
    row[14] = ProblemsText(s);
    view.rows.push_back(std::move(row));
  }
  return view;
}

namespace {

void ShowBoot(ViewContext& ctx, ExfatOpened& opened) {
  const ExfatBootChoice& c = opened.choice;
  if (c.source == ExfatBootSource::None) {
    DecodedView view = ExfatBootView(c.main, "Main boot region");
    DecodedView backup = ExfatBootView(c.backup, "Backup boot region");
    view.rows.insert(view.rows.end(), backup.rows.begin(), backup.rows.end());
    FillPage(ctx.page, std::move(view));
    return;
  }
  FillPage(ctx.page, ExfatBootView(c.source == ExfatBootSource::Backup ? c.backup : c.main,
                                   ExfatBootNote(c)));
}

void ShowUpcase(ViewContext& ctx, const ExfatMetadata& meta) {
  if (!meta.upcaseEntry) {
    ctx.Prompt().Message(kUpcaseUnreadable);
    return;
  }
  const ExfatEntry& e = meta.upcaseEntry->primary;
  DecodedView view;
  view.columns = {{"Field"}, {"Value"}};
  view.rows = {{"First Cluster", Number(e.firstCluster)},
               {"Data Length", Number(e.dataLength)},
               {"Table Checksum", Checked(e.tableChecksum, meta.upcaseComputedChecksum, 8)},
               {"Characters Mapped", meta.upcase ? Number(meta.upcase->Mapped()) : ""}};
  for (const ExfatMetaProblem p : meta.problems)
    if (p == ExfatMetaProblem::UpcaseTooLarge || p == ExfatMetaProblem::UpcaseUnreadable ||
        p == ExfatMetaProblem::UpcaseChecksumMismatch)
      view.rows.push_back({"Problem", ExfatMetaProblemText(p)});
  FillPage(ctx.page, std::move(view));
}

}  // namespace

void ShowExfatNode(ViewContext& ctx, const DrivePacket& node) {
  ResetList(ctx);
  ctx.page.viewKind = ViewKind::None;
  switch (node.kind) {
    case NodeKind::ExfatFat: ShowFat32Table(ctx, node); return;
    case NodeKind::ExfatFile:
      // An empty file has no sectors; its extent would name the volume's own.
      if (node.sectorCount != 0) ShowSectorDump(ctx, node);
      return;
    default: break;
  }
  const auto opened = OpenExfat(ctx.access, node);
  if (node.kind == NodeKind::ExfatVolume || node.kind == NodeKind::ExfatBoot) {
    ShowBoot(ctx, *opened);
    return;
  }
  if (!opened->volume) {
    ShowBoot(ctx, *opened);
    return;
  }
  ExfatVolume& volume = *opened->volume;
  if (node.kind == NodeKind::ExfatDir) {
    const ExfatMetadata meta = LoadExfatMetadata(volume);
    const ExfatDirectory dir = ReadExfatDirectory(volume, ExfatNodeStream(node),
                                                  volume.Context(meta.upcase ? &*meta.upcase : nullptr));
    if (!dir.unreadable.empty()) ctx.Prompt().Message(kFolderUnreadable);
    FillPage(ctx.page, ExfatDirectoryView(dir));
    return;
  }
  const ExfatMetadata meta = LoadExfatMetadata(volume);
  if (node.kind == NodeKind::ExfatBitmap) {
    if (!meta.bitmap) {
      ctx.Prompt().Message(kBitmapUnreadable);
      return;
    }
    FillPage(ctx.page, ExfatBitmapView(*meta.bitmap));
  } else if (node.kind == NodeKind::ExfatUpcase) {
    ShowUpcase(ctx, meta);
  }
}
