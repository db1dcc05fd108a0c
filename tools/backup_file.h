// The file a backup of critical areas is kept in on its floppy: CRITICAL.BAK
// in the root directory, whose FAT chain covers exactly the slot clusters the
// backup wrote (all of each cluster; clusters skipped as bad stay bad). The
// floppy stays a consistent FAT volume, and nothing written to it later takes
// the slots. Before the slots are written it tells which files and folders
// lie in them now and would be lost.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "disk/dir_entry.h"
#include "disk/directory_loader.h"
#include "disk/disk_access.h"
#include "disk/drive_packet.h"

// The entry's eleven name bytes.
inline constexpr char kBackupFileName[] = "CRITICALBAK";

// What Commit did.
enum class BackupFileWrite { Written, RootFull, WriteFailed };

class BackupFile {
 public:
  // root: the floppy's root-directory node (its drive, geometry and layout);
  // fat: a copy of its FAT as read, which Commit changes and writes to every
  // copy.
  BackupFile(DiskAccess& access, const DrivePacket& root, std::vector<uint8_t> fat);

  // Reads the root directory and every folder below it. False when the root
  // cannot be loaded. Sectors that cannot be read hold no entries.
  [[nodiscard]] bool Survey();
  // Whether the root holds a live CRITICAL.BAK (from an earlier backup).
  bool Exists() const { return backupEntry_ >= 0; }
  // Whether CRITICAL.BAK finds a root entry once the files in slots are gone.
  bool RootHasRoom(std::span<const uint32_t> slots) const;

  // The files and folders ("/DOCS/" for a folder, which stands for all it
  // holds) that own clusters among slots; CRITICAL.BAK's own do not count,
  // since a backup overwrites its own file.
  std::vector<std::string> Overwritten(std::span<const uint32_t> slots) const;

  // After the slots are written: the files and folders that lay in them are
  // removed (their entries and long-name pieces deleted, the clusters they
  // held that no other file holds freed), an older CRITICAL.BAK's clusters
  // freed, and CRITICAL.BAK made to own the slots: the changed directory
  // sectors, then the changed FAT sectors of every copy, are written.
  // `when` dates the entry.
  [[nodiscard]] BackupFileWrite Commit(std::span<const uint32_t> slots, std::time_t when);

 private:
  struct Directory {
    DrivePacket node;
    DirectoryImage image;
    std::vector<uint8_t> loaded;  // the bytes as read
    int owner = -1;               // the folder entry it belongs to; -1 for the root
  };
  struct Entry {
    size_t directory = 0;
    size_t offset = 0;  // of the short entry in its directory's bytes
    std::string path;
    bool folder = false;
    int parent = -1;  // the entry of the folder holding it; -1 in the root
    std::vector<uint32_t> chain;
  };

  bool Load(const DrivePacket& node, int owner);
  void Entries(size_t directory, const std::string& path, int parent);
  // Whether entry i or a folder above it is in lost (indexed by entry).
  bool UnderLost(int i, const std::vector<bool>& lost) const;
  std::vector<bool> Lost(std::span<const uint32_t> slots) const;
  // The root entry CRITICAL.BAK is to take: its own, else the first deleted
  // one (the entries of gone files included), else the end mark; -1 when the
  // root is full.
  int RootSlot(const std::vector<bool>& gone) const;
  bool WriteChanges();

  DiskAccess& access_;
  DrivePacket root_;
  std::vector<uint8_t> fat_;
  std::vector<uint8_t> fatLoaded_;  // as read: only the sectors that differ are written
  uint32_t lastCluster_ = 0;
  std::vector<Directory> directories_;
  std::vector<Entry> entries_;
  int backupEntry_ = -1;
};
