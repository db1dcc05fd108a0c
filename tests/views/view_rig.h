// A list pane over one in-memory test drive, on either access path, for the
// view tests; and the nodes the tests need to address real images.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/le.h"
#include "disk/volume_layout.h"
#include "app/list_pane_state.h"
#include "fixtures/test_drives.h"
#include "views/format_cell.h"
#include "views/view_context.h"

struct ViewRig : TestDrives {
  ViewRig(std::vector<uint8_t> bytes, Path path = Direct, uint16_t drive = 0x80) : TestDrives(path) {
    dev = Add(drive, std::move(bytes));
    Bind();
  }

  // Column texts of one row, as the list would paint them.
  std::vector<std::string> Row(size_t row) const {
    std::vector<std::string> texts;
    for (size_t c = 0; c < pane.columns.size(); ++c)
      texts.push_back(FormatCell(pane, row, static_cast<int>(c)));
    return texts;
  }
  std::vector<std::string> ColumnTitles() const {
    std::vector<std::string> titles;
    for (const auto& c : pane.columns) titles.push_back(c.title);
    return titles;
  }

  // The page with what the window keeps beside it (the rows and the node
  // selected), as the window hands them to the commands.
  ListPaneState pane;
  ViewContext ctx{access, pane};
  FaultDevice* dev = nullptr;
};

// The volume parameters of the FAT boot sector at sector `start` of image,
// as the tree puts them into a volume's packets.
inline DrivePacket VolumeFromImage(const std::vector<uint8_t>& image, uint32_t start,
                                   FatWidth fatType, uint16_t drive = 0x80) {
  DrivePacket p;
  p.drive = drive;
  p.int13Extensions = 1;
  p.partitionStart = start;
  p.fatType = fatType;
  const std::optional<VolumeLayout> v =
      DecodeVolume(std::span<const uint8_t>(image).subspan(uint64_t{start} * 512, 512));
  if (!v) {
    ADD_FAILURE() << "no FAT boot record at sector " << start;
    return p;
  }
  p.reservedSectors = v->reservedSectors;
  p.sectorsPerCluster = v->sectorsPerCluster;
  p.sectorsPerFat = v->sectorsPerFat;
  p.heads = v->heads;
  p.sectorsPerTrack = v->sectorsPerTrack;
  p.totalSectors = v->totalSectors;
  p.dataStart = v->dataStart;
  p.lastCluster = v->lastCluster;
  p.startSector = v->rootStart;
  p.sectorCount = v->rootSectors;
  return p;
}

// A file or folder node of a FAT12/16 volume: the root entry named `name83`
// (11 characters, blank-padded).
inline DrivePacket RootEntryNode(const std::vector<uint8_t>& image, const DrivePacket& volume,
                                 const char* name83) {
  DrivePacket p = volume;
  p.kind = NodeKind::DirEntry;
  p.startSector = volume.dataStart;
  p.sectorCount = 0;
  const uint64_t root = (uint64_t{volume.partitionStart} + volume.startSector) * 512;
  for (uint64_t at = root; at < root + uint64_t{volume.sectorCount} * 512; at += 32) {
    if (std::memcmp(image.data() + at, name83, 11) == 0) {
      std::span<const uint8_t> entry(image.data() + at, 32);
      p.firstCluster = le16(entry, 26);
      p.attributes = le8(entry, 11);
      return p;
    }
  }
  ADD_FAILURE() << "no root entry " << name83;
  return p;
}
