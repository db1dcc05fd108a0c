#include "recovery/rename_entry.h"

#include <algorithm>
#include <cstring>

#include "disk/memory_budget.h"
#include "recovery/directory_image.h"
#include "recovery/entry_names.h"
#include "recovery/undelete.h"
#include "recovery/fat_image.h"
#include "disk/dir_entry.h"
#include "disk/long_name.h"

namespace {

// The length of the UTF-8 sequence that starts with lead, 0 for a byte that
// starts none.
size_t SequenceLength(uint8_t lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// The code page byte whose character is the UTF-8 sequence, by the listing's
// own table; '?' when there is none.
char OemByteOf(std::string_view sequence) {
  if (sequence.size() == 1) return sequence[0];
  for (int b = 0x80; b <= 0xFF; ++b) {
    const char byte = static_cast<char>(b);
    if (OemNameToUtf8(std::string_view(&byte, 1)) == sequence) return byte;
  }
  return '?';
}

// name into bytes 0-7 and extension into 8-10, blanks after each.
void StoreShortName(std::span<uint8_t> entry, const ShortNameInput& input) {
  const std::string name = TypedTextToOem(input.name, kDirNameLength);
  const std::string extension = TypedTextToOem(input.extension, kDirExtensionLength);
  std::fill_n(entry.begin() + kDirName, kDirNameLength + kDirExtensionLength, ' ');
  std::memcpy(entry.data() + kDirName, name.data(), name.size());
  std::memcpy(entry.data() + kDirExtension, extension.data(), extension.size());
}

}  // namespace

std::string TypedTextToOem(std::string_view utf8, size_t maxChars) {
  std::string out;
  size_t at = 0;
  while (at < utf8.size() && out.size() < maxChars) {
    size_t length = SequenceLength(static_cast<uint8_t>(utf8[at]));
    bool valid = length != 0 && length <= utf8.size() - at;
    for (size_t i = 1; valid && i < length; ++i)
      valid = (static_cast<uint8_t>(utf8[at + i]) & 0xC0) == 0x80;
    if (!valid) {
      out += '?';
      ++at;
      continue;
    }
    out += OemByteOf(utf8.substr(at, length));
    at += length;
  }
  return out;
}

RenameResult RenameEntry(DiskAccess& access, MemoryBudget budget,
                         const ListedDirectory& directory, const ListedRow& row,
                         const ShortNameInput& name, PromptPort& prompt) {
  RenameResult result;
  // Only a folder needs the FAT (for its chain); the root is read without.
  FatImage fat;
  switch (LoadFatImage(access, budget, directory.node, fat)) {
    case FatImageLoad::NoMemory: prompt.Message(kRecoveryNoBuffer); return result;
    case FatImageLoad::Unreadable:
      prompt.Message(kFatsUnreadable);
      if (!directory.root) return result;
      break;
    case FatImageLoad::Loaded: break;
  }
  result.directoryLoaded = true;
  result.directory = LoadListedDirectory(access, budget, prompt, directory, fat.table);
  std::vector<uint8_t>().swap(fat.table);
  if (!result.directory.Loaded()) return result;

  const std::optional<size_t> offset = RowEntryOffset(result.directory, directory, row);
  if (!offset) return result;
  const std::span<uint8_t> image(result.directory.bytes);
  const bool revived = image[*offset] == kRevivedMark;
  StoreShortName(image.subspan(*offset, kDirEntrySize), name);
  // A revived entry given the short name its deleted long-name pieces were
  // made for gets its long name back. The entry's own sector goes first: a
  // piece written without it would name no entry.
  const std::optional<size_t> pieces =
      revived ? ReviveLongNamePieces(image, *offset / kDirEntrySize) : std::nullopt;
  result.written = WriteEntrySector(access, prompt, directory, result.directory, *offset);
  if (!result.written || !pieces) return result;
  const size_t entrySector = *offset / kSectorSize;
  for (size_t at = *pieces * kDirEntrySize; at < *offset; at += kSectorSize - at % kSectorSize)
    if (at / kSectorSize != entrySector &&
        !WriteEntrySector(access, prompt, directory, result.directory, at)) {
      result.written = false;
      return result;
    }
  return result;
}

RenameResult RenameAfterRecovery(ViewContext& ctx, const AskShortName& ask) {
  ListPaneState& pane = ctx.pane;
  const std::optional<ListedDirectory> dir = DirectoryOnShow(pane);
  if (!dir) return {};
  if (pane.selectedRows.size() != 1) {
    ctx.Prompt().Message(kOnlyOneFile);
    return {};
  }
  ShortNameInput input;
  if (!ask || !ask(input)) return {};
  const int row = pane.selectedRows.front();
  if (row < 0) return {};
  const DirectoryRow* record = RowRecord(pane, static_cast<size_t>(row));
  if (record == nullptr) return {};

  RenameResult result =
      RenameEntry(ctx.access, pane.budget, *dir, {static_cast<size_t>(row), *record}, input,
                  ctx.Prompt());
  if (result.directoryLoaded) {
    // The pane keeps the directory as written (its rows are not rebuilt).
    pane.sectorBuffer = result.directory.bytes;
    pane.clusterChain = result.directory.clusters;
    pane.chainLength = static_cast<uint32_t>(pane.clusterChain.size());
  }
  return result;
}
