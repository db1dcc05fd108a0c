#include "recovery/rename_entry.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

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
// own table; nullopt when there is none.
std::optional<char> OemByteOf(std::string_view sequence) {
  if (sequence.size() == 1) return sequence[0];
  for (int b = 0x80; b <= 0xFF; ++b) {
    const char byte = static_cast<char>(b);
    if (OemNameToUtf8(std::string_view(&byte, 1)) == sequence) return byte;
  }
  return std::nullopt;
}

// One typed character: its UTF-8 bytes and its code page byte (nullopt for
// a character the page lacks or bytes that are no UTF-8).
struct TypedCharacter {
  std::string_view text;
  std::optional<char> oem;
};

// The first maxChars characters of a typed text.
std::vector<TypedCharacter> TypedCharacters(std::string_view utf8, size_t maxChars) {
  std::vector<TypedCharacter> out;
  size_t at = 0;
  while (at < utf8.size() && out.size() < maxChars) {
    const size_t length = SequenceLength(static_cast<uint8_t>(utf8[at]));
    bool valid = length != 0 && length <= utf8.size() - at;
    for (size_t i = 1; valid && i < length; ++i)
      valid = (static_cast<uint8_t>(utf8[at + i]) & 0xC0) == 0x80;
    if (!valid) {
      out.push_back({utf8.substr(at, 1), std::nullopt});
      ++at;
      continue;
    }
    out.push_back({utf8.substr(at, length), OemByteOf(utf8.substr(at, length))});
    at += length;
  }
  return out;
}

// A character as a message shows it: controls and bytes that are no UTF-8
// by number, the rest as typed.
std::string CharacterShown(const TypedCharacter& c) {
  const auto b = static_cast<uint8_t>(c.text[0]);
  if (c.text.size() == 1 && (b < 0x20 || b >= 0x7F)) {
    static const char kHex[] = "0123456789ABCDEF";
    return std::string("0x") + kHex[b >> 4] + kHex[b & 15];
  }
  return std::string(c.text);
}

// The problem of one part of the name (name or extension); nullopt when none.
std::optional<std::string> PartRefusal(std::string_view typed, size_t maxChars,
                                       const char* badCharacter, const char* innerSpace) {
  bool blank = false;
  for (const TypedCharacter& c : TypedCharacters(typed, maxChars)) {
    if (!c.oem || !ShortNameByte(static_cast<uint8_t>(*c.oem)))
      return badCharacter + CharacterShown(c);
    if (*c.oem == ' ') {
      blank = true;
    } else if (blank) {
      return std::string(innerSpace);
    }
  }
  return std::nullopt;
}

// name into bytes 0-7 and extension into 8-10, blanks after each.
void StoreShortName(std::span<uint8_t> entry, const ShortNameInput& input) {
  const std::string name = TypedTextToOem(input.name, kDirNameLength);
  const std::string extension = TypedTextToOem(input.extension, kDirExtensionLength);
  std::fill_n(entry.begin() + kDirName, kDirNameLength + kDirExtensionLength, ' ');
  std::memcpy(entry.data() + kDirName, name.data(), name.size());
  std::memcpy(entry.data() + kDirExtension, extension.data(), extension.size());
}

uint8_t AsciiUpper(uint8_t b) { return b >= 'a' && b <= 'z' ? static_cast<uint8_t>(b - 32) : b; }

// Another live short entry of the directory (before its end mark) whose
// eleven name bytes are those of the entry at offset, letters compared
// without case: DOS and Windows find files by name regardless of case.
bool NameTaken(std::span<const uint8_t> dir, size_t offset) {
  const std::span<const uint8_t> name = dir.subspan(offset, 11);
  for (size_t at = 0; at + kDirEntrySize <= dir.size(); at += kDirEntrySize) {
    const uint8_t first = dir[at];
    if (first == kDirEndMark) break;
    if (at == offset || IsDeletedMark(first) || IsLongNameEntry(dir[at + kDirAttributes]))
      continue;
    bool same = true;
    for (size_t i = 0; i < 11 && same; ++i) same = AsciiUpper(dir[at + i]) == AsciiUpper(name[i]);
    if (same) return true;
  }
  return false;
}

// The refusal of a name another row of the listing on show already has (the
// rename's row aside), as RenameEntry words it after reading the disk.
std::optional<std::string> ListedNameTaken(const ViewPage& pane, size_t row,
                                           const ShortNameInput& input) {
  std::vector<uint8_t> typed(kDirEntrySize, 0);
  StoreShortName(typed, input);
  for (size_t r = 0; r < pane.rows.size(); ++r) {
    const DirectoryRow* other = RowRecord(pane, r);
    if (r == row || other == nullptr || IsDeletedMark(static_cast<uint8_t>(other->dosName[0]))) continue;
    bool same = true;
    for (size_t i = 0; i < 11 && same; ++i) {
      const auto b = static_cast<uint8_t>(other->dosName[i < 8 ? i : i + 1]);  // '.' between
      same = AsciiUpper(b) == AsciiUpper(typed[i]);
    }
    if (same) return kRenameNameTaken + ShortNameOf(typed, false);
  }
  return std::nullopt;
}

}  // namespace

std::string TypedTextToOem(std::string_view utf8, size_t maxChars) {
  std::string out;
  for (const TypedCharacter& c : TypedCharacters(utf8, maxChars)) out += c.oem.value_or('?');
  return out;
}

std::optional<std::string> ShortNameRefusal(const ShortNameInput& input) {
  const std::string name = TypedTextToOem(input.name, kDirNameLength);
  if (name.find_first_not_of(' ') == std::string::npos) return std::string(kRenameEmptyName);
  if (name == "." || name == "..") return std::string(kRenameDotName);
  if (auto problem = PartRefusal(input.name, kDirNameLength, kRenameBadNameCharacter,
                                 kRenameNameInnerSpace))
    return problem;
  if (auto problem = PartRefusal(input.extension, kDirExtensionLength,
                                 kRenameBadExtensionCharacter, kRenameExtensionInnerSpace))
    return problem;
  if (static_cast<uint8_t>(name[0]) == kDirDeletedMark) return std::string(kRenameDeletedMarkFirst);
  return std::nullopt;
}

RenameResult RenameEntry(DiskAccess& access, MemoryBudget budget,
                         const ListedDirectory& directory, const ListedRow& row,
                         const ShortNameInput& name, PromptPort& prompt) {
  RenameResult result;
  if (const std::optional<std::string> refusal = ShortNameRefusal(name)) {
    prompt.Message(*refusal);
    result.refused = true;
    return result;
  }
  if (directory.root) {
    // The root is read without the FAT: a FAT that cannot be read is said
    // and the rename goes on. A fixed root's FAT is at most 256 sectors.
    FatImage fat;
    switch (LoadFatImage(access, budget, directory.node, fat)) {
      case FatImageLoad::NoMemory: prompt.Message(kRecoveryNoBuffer); return result;
      case FatImageLoad::Unreadable: prompt.Message(kFatsUnreadable); break;
      case FatImageLoad::Loaded: break;
    }
    std::vector<uint8_t>().swap(fat.table);
    result.directoryLoaded = true;
    result.directory = LoadListedDirectory(access, budget, prompt, directory, {});
  } else {
    // A folder needs only its chain, read through the FAT cache: no whole
    // FAT is held (a terabyte volume's is a gigabyte), and none is written.
    FatReader fat(access, budget, directory.node);
    result.directory = LoadListedDirectory(access, budget, prompt, directory, fat);
    result.directoryLoaded = fat.Status() == FatCopyLoad::Loaded;
  }
  if (!result.directory.Loaded()) return result;

  const std::optional<size_t> offset = RowEntryOffset(result.directory, directory, row);
  if (!offset) return result;
  const std::span<uint8_t> image(result.directory.bytes);
  const size_t index = *offset / kDirEntrySize;
  // A deleted entry's clusters were never claimed: a name would make it a
  // live file over clusters another file may hold. The disk decides, not the
  // listing, which may show the row from before an undelete.
  if (IsDeletedMark(image[*offset])) {
    prompt.Message(kRenameDeletedRow);
    result.refused = true;
    return result;
  }
  const bool revived = image[*offset] == kRevivedMark;
  const std::optional<size_t> ownPieces =
      OwnLongNamePieces(image, index, ShortNameChecksum(image.subspan(*offset, 11)));
  const std::vector<uint8_t> before(image.begin() + static_cast<ptrdiff_t>(*offset),
                                    image.begin() + static_cast<ptrdiff_t>(*offset + 11));
  StoreShortName(image.subspan(*offset, kDirEntrySize), name);
  if (NameTaken(image, *offset)) {
    prompt.Message(kRenameNameTaken + ShortNameOf(image.subspan(*offset, kDirEntrySize), false));
    std::copy(before.begin(), before.end(), image.begin() + static_cast<ptrdiff_t>(*offset));
    result.refused = true;
    return result;
  }
  // The long name stays the entry's: its pieces carry the checksum of the
  // short name. A revived entry given the short name its deleted long-name
  // pieces were made for gets its long name back. The entry's own sector
  // goes first: a piece written without it would name no entry.
  std::optional<size_t> pieces;
  if (ownPieces) {
    const uint8_t sum = ShortNameChecksum(image.subspan(*offset, 11));
    for (size_t at = *ownPieces; at < index; ++at) image[at * kDirEntrySize + kLfnChecksum] = sum;
    pieces = ownPieces;
  } else if (revived) {
    pieces = ReviveLongNamePieces(image, index);
  }
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

RenameResult RenameAfterRecovery(ViewContext& ctx, const DrivePacket& node,
                                 std::span<const int> rows, const AskShortName& ask) {
  ViewPage& pane = ctx.page;
  const std::optional<ListedDirectory> dir = DirectoryOnShow(pane, node);
  if (!dir) return {};
  if (rows.size() != 1) {
    ctx.Prompt().Message(kOnlyOneFile);
    return {};
  }
  // Said before the name is asked for: nothing could be written.
  if (ctx.access.WritesRefused()) {
    ctx.Prompt().Message(kDrivesReadOnly);
    return {};
  }
  const int row = rows.front();
  if (row < 0) return {};
  const DirectoryRow* record = RowRecord(pane, static_cast<size_t>(row));
  if (record == nullptr) return {};
  // The question starts from the entry's present name, blanks trimmed.
  ShortNameInput input;
  auto trimmed = [](std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  };
  input.name = trimmed(std::string(record->dosName, 8));
  input.extension = trimmed(std::string(record->dosName + 9, 3));
  const ShortNameCheck check = [&](const ShortNameInput& typed) {
    if (std::optional<std::string> refusal = ShortNameRefusal(typed)) return refusal;
    return ListedNameTaken(pane, static_cast<size_t>(row), typed);
  };
  if (!ask || !ask(input, check)) return {};

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
