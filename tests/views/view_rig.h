// A list pane over one in-memory drive, on either access path, for the view
// tests; and the few decoders the tests need to address real images.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/le.h"
#include "fixtures/scripted_prompt.h"
#include "disk/sect32_engine.h"
#include "fixtures/fault_device.h"
#include "views/format_cell.h"
#include "views/view_context.h"

struct ViewRig {
  enum Path { Direct, Library };

  ViewRig(std::vector<uint8_t> bytes, Path path = Direct, uint16_t drive = 0x80) {
    auto device = std::make_unique<FaultDevice>(std::move(bytes));
    dev = device.get();
    dev->geometry = {1024, 16, 63};
    DeviceMap devices;
    devices.Add(drive, std::move(device));
    if (path == Direct) {
      access.UseDirect(std::move(devices));
    } else {
      map = std::make_unique<DeviceMap>(std::move(devices));
      engine = std::make_unique<Sect32Engine>(*map);
      access.UseLibrary(engine.get());
    }
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
  std::vector<int> ColumnWidths() const {
    std::vector<int> widths;
    for (const auto& c : pane.columns) widths.push_back(c.width);
    return widths;
  }

  ScriptedPrompt prompt;
  DiskAccess access{prompt};
  ListPaneState pane;
  ViewContext ctx{access, pane};
  FaultDevice* dev = nullptr;
  std::unique_ptr<DeviceMap> map;
  std::unique_ptr<Sect32Engine> engine;
};

// The volume parameters of the FAT boot sector at sector `start` of image,
// as the tree puts them into a volume's packets.
inline DrivePacket VolumeFromImage(const std::vector<uint8_t>& image, uint32_t start,
                                   uint16_t fatType, uint16_t drive = 0x80) {
  std::span<const uint8_t> boot(image.data() + uint64_t{start} * 512, 512);
  DrivePacket p;
  p.drive = drive;
  p.int13Extensions = 1;
  p.partitionStart = start;
  p.fatType = fatType;
  p.reservedSectors = le16(boot, 14);
  p.sectorsPerCluster = le8(boot, 13);
  p.sectorsPerFat = le16(boot, 22) != 0 ? le16(boot, 22) : le32(boot, 36);
  p.heads = le16(boot, 26);
  p.sectorsPerTrack = le16(boot, 24);
  p.totalSectors = le16(boot, 19) != 0 ? le16(boot, 19) : le32(boot, 32);
  const uint32_t rootSectors = le16(boot, 17) * 32u / 512u;
  const uint32_t rootStart = p.reservedSectors + le8(boot, 16) * p.sectorsPerFat;
  p.dataStart = rootStart + rootSectors;
  p.startSector = rootStart;
  p.sectorCount = rootSectors;
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
