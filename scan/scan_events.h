// What a running scan tells whoever shows it, as it goes: the window turns
// these into its dialog's lines and bar, gleaner-cli ignores them (it prints
// the scan's messages and questions only), tests record them. Every call
// comes from the thread that runs the scan.
#pragma once
#include <cstdint>
#include <string_view>

// What a scan is doing: comparing the FAT copies (at a sector), reading a
// file's or folder's cluster or a free one (of the volume's last), or
// nothing between two phases. The window words it (app/scan_dialog.cpp).
struct ScanPhase {
  enum class Kind { None, Fat, FatSector, FileCluster, FreeCluster, LostClusters };
  Kind kind = Kind::None;
  uint64_t number = 0;  // the FAT sector, the cluster, or the lost clusters counted
  uint64_t last = 0;    // FreeCluster: the volume's last cluster
  bool operator==(const ScanPhase&) const = default;
};

class ScanEvents {
 public:
  virtual ~ScanEvents() = default;
  // What the scan does now: a phase or the cluster under test.
  virtual void Phase(const ScanPhase& /*phase*/) {}
  // A question answered Yes without being shown (Automatically Fix Errors):
  // its text stands where the phase does.
  virtual void AutoAnswered(std::string_view /*question*/) {}
  // The share of the present walk done, 0-100, each time it changes.
  virtual void Progress(int /*percent*/) {}
  // The directory entry being checked ("NAME.EXT"); empty when none is.
  virtual void Entry(std::string_view /*name*/) {}
  // The scan is over, whatever ended it: what started it may act again.
  virtual void Ended() {}
};
