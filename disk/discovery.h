// The growth of the disk tree: the drive listing puts one node per floppy
// drive and hard disk; expanding a node reads its sectors and makes its
// children (partitions from a master or extended boot record, FAT copies and
// the root directory from a boot record, files and folders from a directory;
// an exFAT volume's structures and folders),
// each with a packet in the packet pool.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>

#include "disk/disk_access.h"
#include "disk/disk_layout.h"
#include "disk/memory_budget.h"
#include "disk/packet_store.h"
#include "disk/tree_sink.h"

class DriveDiscovery {
 public:
  explicit DriveDiscovery(PacketStore& store) : store_(store) {}

  // Rewinds both stores and lists the drives: "Floppy Disk n" for each
  // floppy, then "Hard Disk n" for 0x80, 0x81, ... while the disk exists.
  // Sets the access's hard-disk count. Every packet handed out before is invalid.
  void ListDrives(DiskAccess& access, TreeSink& sink);

  // Expands node once: node must be the packet the listing or an earlier
  // expansion handed out (not a copy), so that logical drives and loops are
  // placed by where the node came from. Buffers sized from disk data stay
  // within budget. False only when the expansion is refused (a floppy drive
  // that cannot be opened on the direct path).
  [[nodiscard]] bool ExpandNode(DiskAccess& access, MemoryBudget budget, const DrivePacket& node,
                  TreeSink& sink);

  // The last hard disk the listing made; nullptr when there is none.
  const DrivePacket* LastHardDisk() const { return lastHardDisk_; }

 private:
  // What one expansion works with.
  struct Walk {
    DiskAccess& access;
    MemoryBudget budget;
    // What the status bar says once the expansion is done (a record read
    // from its backup); empty clears it.
    std::string status;
    PromptPort& Prompt() const { return access.Prompt(); }
  };

  // Where a node came from: its parent node and, for extended boot records,
  // the start of the extended partition that the chain's links count from.
  struct Origin {
    const DrivePacket* parent = nullptr;
    uint64_t extendedBase = 0;
  };

  // A new pool packet under parent; nullptr (with the message) when the pool
  // is full. Its origin is remembered only when it may have children of its
  // own (a file never has): a folder of thousands of files costs no entry
  // for each.
  DrivePacket* TakeChild(Walk& ctx, const DrivePacket& parent, const char* name = nullptr,
                         bool mayHaveChildren = true);
  // What a child reads by that its parent knows: the drive and how it is
  // reached; with Volume also where the volume lies (its start, size and boot
  // record's CHS); with FatVolume also the FAT geometry its sectors and
  // clusters are counted by.
  enum class Shared : uint8_t { Drive, Volume, FatVolume };
  // TakeChild, the packet holding only its name and parent's fields of shared.
  DrivePacket* TakeChildOf(Walk& ctx, const DrivePacket& parent, Shared shared, const char* name = nullptr,
                           bool mayHaveChildren = true);
  void Add(TreeSink& sink, DrivePacket* packet, std::string label, bool hasChildren,
           bool labelByCallback = false);
  // Whether node stands for the same extended boot record or folder as one of
  // its ancestors: expanding it again would repeat the walk for ever.
  bool RepeatsAncestor(const DrivePacket& node) const;
  void Count(const DrivePacket& node);

  void ExpandPartitionTable(Walk& ctx, const DrivePacket& node, TreeSink& sink,
                            bool extended);
  // The children of a hard disk that is not an MBR disk: a GPT's header,
  // entry array and partitions, or the volume that fills the whole disk.
  void ExpandDiskLayout(Walk& ctx, const DrivePacket& node, const DiskLayout& layout,
                        TreeSink& sink);
  [[nodiscard]] bool ExpandVolume(Walk& ctx, const DrivePacket& node, TreeSink& sink);
  void ExpandRootDirectory(Walk& ctx, const DrivePacket& node, TreeSink& sink);
  void ExpandFolder(Walk& ctx, const DrivePacket& node, TreeSink& sink);
  // An exFAT volume's boot region, FATs, allocation bitmap, up-case table and
  // root folder; a folder's live files and folders.
  void ExpandExfatVolume(Walk& ctx, const DrivePacket& node, TreeSink& sink);
  void ExpandExfatFolder(Walk& ctx, const DrivePacket& node, TreeSink& sink);
  // A child of an exFAT node, on the same volume.
  DrivePacket* TakeExfatChild(Walk& ctx, const DrivePacket& parent, NodeKind kind,
                              const char* name = nullptr);
  // The entry rule over a directory's bytes.
  void WalkEntries(Walk& ctx, const DrivePacket& node, std::span<const uint8_t> dir,
                   bool rootWalk, TreeSink& sink);

  PacketStore& store_;
  const DrivePacket* lastHardDisk_ = nullptr;
  std::unordered_map<const DrivePacket*, Origin> origins_;
  // How many extended boot record and folder nodes stand for each place.
  std::unordered_map<uint64_t, uint32_t> places_;
};

// The text of a file or folder node: its nameText ("" when it has none).
const char* NodeLabel(const DrivePacket& node);

// The labels of the partition types the tree recognises; nullptr for a type
// it does not ("Unknown").
const char* PartitionTypeLabel(uint8_t type);
