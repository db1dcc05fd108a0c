// exFAT volumes as the tree holds them: a reader over the volume a node lies
// in (through the one road to a node's sectors), the boot region chosen for
// it, and the stream a file or folder node stands for. Every exFAT node
// carries its volume's address; the volume's parameters are read from its
// boot region each time a node is opened, so no packet holds a copy that
// could go stale.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/exfat_volume.h"
#include "disk/sector_reader.h"

// The tree's label of an exFAT volume, wherever it sits.
inline constexpr const char* kExfatVolumeLabel = "exFAT Disk";

// Reads 512-byte units from the start of the volume node lies in.
class ExfatNodeReader final : public ExfatReader {
 public:
  ExfatNodeReader(DiskAccess& access, const DrivePacket& node);
  [[nodiscard]] bool Read(uint64_t first, std::span<uint8_t> out) override;

 private:
  DiskAccess& access_;
  DrivePacket volume_;
};

// Reads 512-byte units through a SectorReader (the disk layout's probes).
class ExfatSectorReader final : public ExfatReader {
 public:
  explicit ExfatSectorReader(SectorReader read) : read_(std::move(read)) {}
  [[nodiscard]] bool Read(uint64_t first, std::span<uint8_t> out) override {
    return read_(first, out);
  }

 private:
  SectorReader read_;
};

// What the person is told of the region in use: "Boot region read from its
// backup at sector 12", or empty when the main one is sound.
std::string ExfatBootNote(const ExfatBootChoice& choice);

// An exFAT volume opened from any node on it. volume is empty when neither
// boot region is sound.
struct ExfatOpened {
  ExfatOpened(DiskAccess& access, const DrivePacket& node) : reader(access, node) {}
  ExfatNodeReader reader;
  ExfatBootChoice choice;
  std::optional<ExfatVolume> volume;
};
// node's totalSectors, when known, bounds the volume (its partition's size).
std::unique_ptr<ExfatOpened> OpenExfat(DiskAccess& access, const DrivePacket& node);

// The stream a file or folder node stands for (the root folder's runs to its
// chain's end).
ExfatStream ExfatNodeStream(const DrivePacket& node);
