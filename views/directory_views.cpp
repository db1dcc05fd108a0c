#include "views/directory_views.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "disk/cluster_place.h"
#include "disk/directory_loader.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/le.h"
#include "disk/sector_access.h"
#include "disk/dir_entry.h"
#include "views/format_cell.h"
#include "views/list_ops.h"
#include "disk/long_name.h"

namespace {

constexpr const char* kRootNotAccessible = "Root Directory not fully accessible!";
constexpr const char* kNoMemory = "Unable to allocate memory";
constexpr const char* kFatNotAccessible = "FAT not accessible!";
constexpr const char* kNoChainList = "Fatal Error!  Not able to allocate a buffer for FAT Entries!";
constexpr const char* kNoBuffer = "Fatal Error!  Not able to allocate a buffer!";
constexpr const char* kFolderNotLoaded = "Not able to fully load the sub-directory";

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Months 0 and 13-15 cannot be named; the date still shows, marked.
constexpr const char* kUnknownMonth = "??";

void AddDirectoryColumns(ViewPage& page) {
  page.columns = {{"MS-DOS Name"},  {"Long File Name"}, {"Starting Cluster"}, {"Attributes"},
                  {"Size"},         {"Modified Date"},  {"Created Date"},     {"Accessed Date"}};
}

DirectoryRow MakeRow(std::span<const uint8_t> entry, FatWidth fatType) {
  DirectoryRow row;
  for (size_t i = 0; i < kDirNameLength; ++i)
    row.dosName[i] = static_cast<char>(le8(entry, kDirName + i));
  row.dosName[kDirNameLength] = '.';
  for (size_t i = 0; i < kDirExtensionLength; ++i)
    row.dosName[kDirNameLength + 1 + i] = static_cast<char>(le8(entry, kDirExtension + i));
  row.dosName[12] = '\0';
  row.attributes = le8(entry, kDirAttributes);
  row.modifiedTime = le16(entry, kDirModifiedTime);
  row.modifiedDate = le16(entry, kDirModifiedDate);
  row.createdDate = le16(entry, kDirCreatedDate);
  row.accessedDate = le16(entry, kDirAccessedDate);
  row.firstCluster = DirEntryFirstCluster(entry, fatType);
  row.size = le32(entry, kDirSize);
  return row;
}

// A fresh rowStore block for `rows` records; false (and rowStore empty) when
// it is over the page's memory limit or cannot be had.
bool ReplaceRowStore(ViewPage& page, size_t rows) {
  std::vector<DirectoryRow>().swap(page.rowStore);
  if (rows > page.budget.limit / sizeof(DirectoryRow)) return false;
  try {
    page.rowStore.reserve(rows);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Lists the entries of sectorBuffer (at most sectorCount sectors of it) into
// rowStore and the rows. False when rowStore could not be had.
bool ListEntries(ViewContext& ctx, const DrivePacket& packet, bool skipDotEntries) {
  ViewPage& page = ctx.page;
  const std::span<const uint8_t> dir(page.sectorBuffer);
  const size_t entries = static_cast<size_t>(std::min<uint64_t>(
      uint64_t{packet.sectorCount} * kDirEntriesPerSector, dir.size() / kDirEntrySize));

  size_t listed = 0;
  for (size_t i = 0; i < entries; ++i) {
    const ListedEntry use =
        ClassifyListedEntry(dir.subspan(i * kDirEntrySize, kDirEntrySize), skipDotEntries);
    if (use == ListedEntry::End) break;
    if (use == ListedEntry::Row) ++listed;
  }
  if (!ReplaceRowStore(page, listed)) {
    page.viewKind = ViewKind::None;
    ctx.Prompt().Message(kNoMemory);
    return false;
  }
  page.rows.reserve(listed);

  for (size_t i = 0; i < entries; ++i) {
    const std::span<const uint8_t> entry = dir.subspan(i * kDirEntrySize, kDirEntrySize);
    const ListedEntry use = ClassifyListedEntry(entry, skipDotEntries);
    if (use == ListedEntry::End) break;
    if (use == ListedEntry::Skip) continue;
    DirectoryRow row = MakeRow(entry, packet.fatType);
    // The first entry of the buffer has no loaded entries in front of it. A
    // deleted entry's pieces lost their ordinals (each reads as the last), so
    // its name is gathered as Find Deleted gathers it, and shown only when
    // the pieces' checksum fits the entry.
    if (IsDeletedMark(entry[kDirName])) {
      if (const auto lfn = FindDeletedLongName(dir, i); lfn && lfn->firstByte)
        row.longName = lfn->text;
    } else if (i > 0) {
      AssembleLongName(dir, i, row.longName);
    }
    page.rows.push_back({page.rowStore.size(), {}});
    page.rowStore.push_back(std::move(row));
  }
  return true;
}

const char* MonthName(uint16_t date) {
  const unsigned month = (date >> 5) & 0x0F;
  return month >= 1 && month <= 12 ? kMonthNames[month - 1] : kUnknownMonth;
}

std::string DateText(uint16_t date) {
  if (date == 0) return {};
  return FormatText("%u %s %u", date & 0x1Fu, MonthName(date), 1980u + (date >> 9));
}

std::string DateTimeText(uint16_t date, uint16_t time) {
  if (date == 0) return {};
  return FormatText("%u %s %u %u:%02u:%02u", date & 0x1Fu, MonthName(date), 1980u + (date >> 9),
                static_cast<unsigned>(time >> 11), (time >> 5) & 0x3Fu, 2u * (time & 0x1Fu));
}

std::string AttributeText(const DirectoryRow& row) {
  static constexpr struct {
    uint8_t bit;
    char letter;
  } kLetters[] = {{kAttrReadOnly, 'R'}, {kAttrHidden, 'H'},      {kAttrSystem, 'S'},
                  {kAttrArchive, 'A'},  {kAttrVolumeLabel, 'V'}, {kAttrFolder, 'D'}};
  std::string text;
  for (const auto& l : kLetters)
    if (row.attributes & l.bit) text += l.letter;
  if (IsDeletedMark(static_cast<uint8_t>(row.dosName[0]))) text += "-Deleted";
  return text;
}

// The short name as stored, up to its first zero byte.
std::string ShortNameText(const DirectoryRow& row) {
  return OemNameToUtf8(std::string_view(row.dosName, strnlen(row.dosName, sizeof row.dosName)));
}

// Cuts text to the display buffer's size without splitting a UTF-8 character.
std::string CutToDisplay(std::string text) {
  if (text.size() <= kDisplayTextMax) return text;
  size_t end = kDisplayTextMax;
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

}  // namespace

void ShowRootDirectory(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  ResetList(ctx);
  page.viewKind = ViewKind::None;
  AddDirectoryColumns(page);
  std::vector<uint8_t>().swap(page.sectorBuffer);

  // The extent comes from the boot record: no more than a root can hold and
  // the volume has; what is cut off counts as not accessible.
  DrivePacket root = packet;
  root.kind = NodeKind::RootDir;  // whatever the caller's copy says: it is shown as a root
  DirectoryImage dir = LoadDirectory(ctx.access, page.budget, root, {});
  if (!dir.Loaded()) {
    ctx.Prompt().Message(kNoMemory);
    return;
  }
  page.viewKind = ViewKind::RootDirectory;
  page.sectorBuffer = std::move(dir.bytes);
  if (!dir.Complete()) ctx.Prompt().Message(kRootNotAccessible);

  DrivePacket extent = packet;
  extent.sectorCount = static_cast<uint32_t>(page.sectorBuffer.size() / kSectorSize);
  if (!ListEntries(ctx, extent, false)) return;
  ctx.Prompt().SetStatus(1, FormatText("Current Sector Number: %" PRIu32, packet.startSector));
  ctx.Prompt().SetStatus(0, "");
}

void ShowSubDirectory(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  page.viewKind = ViewKind::None;
  // Rows of the item shown before must not stay on show if this one stops early.
  ResetList(ctx);
  std::vector<DirectoryRow>().swap(page.rowStore);
  PromptPort& prompt = ctx.Prompt();

  // The chain's FAT sectors come through the cache: a folder listed after
  // the tree expanded it reads none again.
  FatReader fat(ctx.access, page.budget, packet);
  const uint32_t chainLength = ChainLength(packet.firstCluster, fat);
  switch (fat.Status()) {
    case FatCopyLoad::NoMemory: prompt.Message(kNoBuffer); return;
    case FatCopyLoad::Unreadable: prompt.Message(kFatNotAccessible); return;
    case FatCopyLoad::Loaded: break;
  }
  // Without a cluster size a chain has no bytes to hold.
  if (packet.sectorsPerCluster == 0 && chainLength != 0) {
    prompt.Message(kNoBuffer);
    return;
  }
  std::vector<uint8_t>().swap(page.sectorBuffer);
  DirectoryImage dir = LoadDirectory(ctx.access, page.budget, packet, fat);
  if (fat.Status() != FatCopyLoad::Loaded) {
    prompt.Message(kFatNotAccessible);
    return;
  }
  switch (dir.status) {
    case DirectoryImage::Status::NoChain: return;
    case DirectoryImage::Status::NoClusterList: prompt.Message(kNoChainList); return;
    case DirectoryImage::Status::NoBuffer: prompt.Message(kNoBuffer); return;
    case DirectoryImage::Status::Loaded: break;
  }
  page.sectorBuffer = std::move(dir.bytes);
  if (!dir.Complete()) prompt.Message(kFolderNotLoaded);

  DrivePacket listed = packet;
  listed.sectorCount = static_cast<uint32_t>(page.sectorBuffer.size() / kSectorSize);
  ListDirectoryEntries(ctx, listed);

  const uint64_t firstSector =
      ClusterFirstSector(packet, packet.firstCluster, packet.sectorsPerCluster);
  prompt.SetStatus(1, FormatText("Current Cluster Number: 0x%08" PRIX32
                             ", Current Sector Number: %" PRIu64,
                             packet.firstCluster, firstSector));
}

void ListDirectoryEntries(ViewContext& ctx, const DrivePacket& packet) {
  ResetList(ctx);  // puts "Wait...." in the first pane
  ctx.page.viewKind = ViewKind::SubDirectory;
  AddDirectoryColumns(ctx.page);
  if (!ListEntries(ctx, packet, true)) return;
  ctx.Prompt().SetStatus(0, "");
}

std::string FormatDirectoryCell(const ViewPage& page, const DirectoryRow& row, int column) {
  (void)page;
  switch (column) {
    case 0: return ShortNameText(row);
    case 1: return CutToDisplay(row.longName);
    case 2: return FormatText("%08" PRIX32, row.firstCluster);
    case 3: return AttributeText(row);
    case 4: return FormatText("%" PRIu32, row.size);
    case 5: return DateTimeText(row.modifiedDate, row.modifiedTime);
    case 6: return DateText(row.createdDate);
    case 7: return DateText(row.accessedDate);
    default: return {};
  }
}
