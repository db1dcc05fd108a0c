// What a running scan tells whoever shows it, as it goes: the window turns
// these into its dialog's lines and bar, gleaner-cli ignores them (it prints
// the scan's messages and questions only), tests record them. Every call
// comes from the thread that runs the scan.
#pragma once
#include <string_view>

class ScanEvents {
 public:
  virtual ~ScanEvents() = default;
  // What the scan does now: a phase or the cluster under test ("File
  // Allocation Table", "Scanning Free Cluster 9 of 100 Total"); empty
  // between phases.
  virtual void Phase(std::string_view /*text*/) {}
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
