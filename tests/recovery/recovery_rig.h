// A directory listing on show over one in-memory drive, for the recovery
// tests: the root or a folder of a real mkfs.fat/mtools volume (or of a small
// FAT12 volume made by hand), selected as the tree would select it, with the
// rows picked by their short names.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "disk/boot_sector.h"
#include "disk/fat_codec.h"
#include "fixtures/image_builder.h"
#include "disk/dir_entry.h"
#include "views/dir_entry_builder.h"
#include "views/show_node.h"
#include "views/view_rig.h"

struct RecoveryRig : ViewRig {
  explicit RecoveryRig(std::vector<uint8_t> bytes) : ViewRig(std::move(bytes), Direct, 0x80) {}

  std::vector<uint8_t>& Bytes() { return dev->Bytes(); }
  std::span<const uint8_t> Boot() { return std::span<const uint8_t>(Bytes()).first(512); }

  // The volume's root node as the tree makes it: the fixed root of a FAT12/16
  // volume, the root folder of a FAT32 one.
  DrivePacket RootNode(FatWidth fatType) {
    DrivePacket p = VolumeFromImage(Bytes(), 0, fatType, 0x80);
    if (fatType != FatWidth::Fat32) {
      p.kind = NodeKind::RootDir;
      return p;
    }
    p.kind = NodeKind::DirEntry;
    p.attributes = kAttrFolder;
    p.sectorCount = 0;
    p.firstCluster = le32(Boot(), kBootRootCluster);
    return p;
  }
  DrivePacket FolderNode(FatWidth fatType, uint32_t firstCluster) {
    DrivePacket p = VolumeFromImage(Bytes(), 0, fatType, 0x80);
    p.kind = NodeKind::DirEntry;
    p.attributes = kAttrFolder;
    p.startSector = p.dataStart;
    p.sectorCount = 0;
    p.firstCluster = firstCluster;
    return p;
  }

  // Selects node in the tree: its listing goes on show.
  // Selects node in the tree, as the window does, and shows it.
  void Show(const DrivePacket& node) {
    pane.selectedPacket = node;
    ShowNode(ctx, node, {});
  }

  // The list row whose short name column reads name83 ("README  .TXT", raw
  // bytes); -1 when there is none.
  int RowNamed(const std::string& name83) const {
    for (size_t r = 0; r < pane.rows.size(); ++r)
      if (std::string(pane.rowStore[pane.rows[r].value].dosName) == name83)
        return static_cast<int>(r);
    ADD_FAILURE() << "no row " << name83;
    return -1;
  }
  void Select(std::vector<std::string> names) {
    std::vector<int> rows;
    for (const auto& n : names) rows.push_back(RowNamed(n));
    std::sort(rows.begin(), rows.end());
    pane.Select(std::move(rows));
  }

  // The 32-byte entry at a byte offset of the image.
  std::vector<uint8_t> EntryAt(uint64_t offset) {
    return {Bytes().begin() + static_cast<ptrdiff_t>(offset),
            Bytes().begin() + static_cast<ptrdiff_t>(offset + 32)};
  }
  // Byte offset of the first entry whose 11 name bytes are name11, searched
  // from `from` for `length` bytes.
  uint64_t FindEntry(const std::string& name11, uint64_t from, uint64_t length) {
    for (uint64_t at = from; at + 32 <= from + length; at += 32)
      if (std::memcmp(Bytes().data() + at, name11.data(), 11) == 0) return at;
    ADD_FAILURE() << "no entry " << name11;
    return 0;
  }

  // Device writes that touch [from, to) bytes.
  int WritesWithin(uint64_t from, uint64_t to) const {
    int n = 0;
    for (const auto& [offset, length] : dev->writeLog)
      if (offset < to && offset + length > from) ++n;
    return n;
  }
};

// An entry of the FAT copy at byte fatOffset of image, as stored (32-bit:
// all 32 bits, the reserved nibble too).
inline uint32_t RawFatEntry(const std::vector<uint8_t>& image, uint64_t fatOffset, FatWidth width,
                            uint32_t cluster) {
  const std::span<const uint8_t> fat(image.data() + fatOffset, image.size() - fatOffset);
  switch (width) {
    case FatWidth::Fat12: {
      const uint16_t word = le16(fat, cluster * 3 / 2);
      return (cluster & 1) ? word >> 4 : word & 0xFFFu;
    }
    case FatWidth::Fat16:
      return le16(fat, cluster * 2);
    default:
      return le32(fat, cluster * 4);
  }
}

// The first byte offset where two images differ outside the given byte
// ranges [from, to); -1 when they agree there.
inline int64_t FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                               const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  if (a.size() != b.size()) return static_cast<int64_t>(std::min(a.size(), b.size()));
  for (uint64_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    bool masked = false;
    for (const auto& [from, to] : ranges) masked = masked || (i >= from && i < to);
    if (!masked) return static_cast<int64_t>(i);
  }
  return -1;
}

// Short entries of the hand-made volumes; a deleted one is named by its
// 10 bytes after the mark.
inline EntryBytes Deleted(const std::string& name10, uint32_t cluster, uint32_t size,
                          uint8_t attributes = kAttrArchive, char mark = '\xE5') {
  return ShortEntry({std::string(1, mark) + name10, attributes, cluster, size});
}
inline EntryBytes Live(const std::string& name11, uint32_t cluster, uint32_t size) {
  return ShortEntry({name11, kAttrArchive, cluster, size});
}
inline EntryBytes Dot(const std::string& name11, uint32_t cluster) {
  return ShortEntry({name11, kAttrFolder, cluster, 0});
}

// A small FAT12 volume made by hand, for layouts mtools would not make: 512
// bytes a sector and a cluster, 1 reserved sector, `fats` FATs of one sector,
// a root of one sector (16 entries), 300 sectors. Cluster c is sector 2 + fats + c - 1.
struct TinyVolume {
  std::vector<uint8_t> bytes;
  uint32_t fats = 2;

  explicit TinyVolume(uint32_t fatCount = 2) : bytes(300 * 512, 0), fats(fatCount) {
    std::span<uint8_t> boot(bytes.data(), 512);
    bytes[0] = 0xEB;
    bytes[1] = 0x3C;
    bytes[2] = 0x90;
    std::memcpy(bytes.data() + 3, "MSWIN4.1", 8);
    putLe16(boot, kBootBytesPerSector, 512);
    putLe8(boot, kBootSectorsPerCluster, 1);
    putLe16(boot, kBootReservedSectors, 1);
    putLe8(boot, kBootFatCount, static_cast<uint8_t>(fats));
    putLe16(boot, kBootRootEntries, 16);
    putLe16(boot, kBootTotalSectors16, 300);
    putLe8(boot, kBootMedia, 0xF8);
    putLe16(boot, kBootSectorsPerFat16, 1);
    putLe16(boot, kBootSectorsPerTrack, 63);
    putLe16(boot, kBootHeads, 16);
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
    for (uint32_t f = 0; f < fats; ++f) SetFat(f, 0, 0xFF8), SetFat(f, 1, 0xFFF);
  }
  uint64_t FatOffset(uint32_t copy) const { return (1 + copy) * 512ull; }
  uint64_t RootOffset() const { return (1 + fats) * 512ull; }
  uint64_t ClusterOffset(uint32_t c) const { return RootOffset() + 512 + (c - 2) * 512ull; }
  void SetFat(uint32_t copy, uint32_t cluster, uint32_t value) {
    EXPECT_TRUE(SetFatEntry(cluster, FatWidth::Fat12, std::span<uint8_t>(bytes.data() + FatOffset(copy), 512), value));
  }
  void SetFatAll(uint32_t cluster, uint32_t value) {
    for (uint32_t f = 0; f < fats; ++f) SetFat(f, cluster, value);
  }
  uint32_t Fat(uint32_t copy, uint32_t cluster) const {
    return RawFatEntry(bytes, FatOffset(copy), FatWidth::Fat12, cluster);
  }
  void PutEntries(uint64_t offset, const std::vector<std::vector<uint8_t>>& entries) {
    for (const auto& e : entries) {
      std::memcpy(bytes.data() + offset, e.data(), e.size());
      offset += e.size();
    }
  }
};
