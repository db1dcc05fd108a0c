// The walkers of the carved formats: each follows one file's structure over
// its bytes as they come, a piece at a time, without holding them, and says
// where the file ends or where its structure broke. The carver and the
// structure check drive them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "recovery/carving.h"

enum class WalkStatus { More, Ended, Broken };

struct WalkStep {
  WalkStatus status = WalkStatus::More;
  uint64_t end = 0;  // Ended: the file's length; Broken: where the format stopped fitting
};

class FormatWalker {
 public:
  virtual ~FormatWalker() = default;

  // The next bytes of the file. Once a step is not More, further bytes are
  // not looked at.
  WalkStep Feed(std::span<const uint8_t> bytes);
  // The next n bytes could not be read.
  WalkStep Unknown(uint64_t n);

  // Inside a part whose length the structure gave (a chunk, a box, a
  // segment): a header at a cluster start here may be the file's own data.
  bool Bounded() const { return mode_ == Mode::Need || mode_ == Mode::Skip; }
  // Where the file ends when it is cut here: the end of its last whole box
  // or frame, its last %%EOF; nullopt when the structure has no end yet.
  virtual std::optional<uint64_t> EndIfCut() const { return std::nullopt; }
  // The structure has shown enough to be this format.
  virtual bool Confirmed() const = 0;
  virtual std::string Extension() const = 0;
  uint64_t Position() const { return pos_; }
  WalkStep Last() const { return step_; }

 protected:
  static constexpr size_t kMostNeed = 64;
  // Requests; one stands at a time.
  void Need(size_t n);       // the next n bytes go to Advance
  void Skip(uint64_t n);     // the next n bytes are passed over (Skipped sees them)
  void Scan();               // the bytes go to OnScan
  void Pause();              // Advance is called again, with nothing
  void End() { EndAt(pos_); }
  void EndAt(uint64_t at);
  void Break() { BreakAt(pos_); }
  void BreakAt(uint64_t at);
  // For a scan that looks for the file's last mark: ends the file just past
  // the mark when pastMark (in the bytes scanned) is not SIZE_MAX. Returns
  // what the scan took.
  size_t EndPastMark(size_t pastMark, size_t scanned);

  // Called when no request stands: got holds what the last Need asked for
  // (empty at the start and after a skip).
  virtual void Advance(std::span<const uint8_t> got) = 0;
  // Scan mode: takes a prefix of bytes and returns its length; it may make a
  // request, which then applies from there.
  virtual size_t OnScan(std::span<const uint8_t> bytes);
  virtual void Skipped(std::span<const uint8_t>) {}
  // Unknown bytes from holeStart fell where the structure had to be read:
  // pos_ is past them. Resynchronise (Scan) or end the walk; by default the
  // walk breaks at the hole.
  virtual void Lost(uint64_t holeStart);

  uint64_t pos_ = 0;

 private:
  enum class Mode { Idle, Need, Skip, Scan, Done };
  Mode mode_ = Mode::Idle;
  bool started_ = false;
  bool again_ = false;  // Idle on purpose: Advance is due again
  size_t need_ = 0;
  size_t have_ = 0;
  uint8_t buffer_[kMostNeed] = {};
  uint64_t skip_ = 0;
  WalkStep step_;
  void RunIdle(std::span<const uint8_t> got);
};

// A walker for type; strict adds the checks that need every byte (PNG's
// CRCs). clusterBytes: text runs end at cluster ends.
std::unique_ptr<FormatWalker> MakeFormatWalker(CarvedType type, bool strict,
                                               uint32_t clusterBytes);

// What a cluster's first bytes announce: a format, and whether the header
// alone is weak (MP3 frames without a tag, a QuickTime movie without ftyp):
// a weak start must confirm itself before it ends another file.
struct HeaderMatch {
  CarvedType type;
  bool weak = false;
};
std::optional<HeaderMatch> MatchHeader(std::span<const uint8_t> head);

// Whether a cluster can start a text file: text to its end or to a tail of
// zeros, with words in it.
bool TextClusterStart(std::span<const uint8_t> cluster);
