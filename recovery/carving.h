// Carving: files found in the free clusters of a FAT volume by what they
// begin with, and ended where their own structure says they end - JPEG at
// its EOI with every marker walked, PNG at IEND with every chunk walked, GIF
// at its trailer, PDF at its last %%EOF, ZIP (and the office and Java formats
// built on it) after its end-of-central-directory record and comment, MP4 and
// MOV after their last sound top-level box, MP3 after its last frame - and
// plain text as runs of text clusters. A file that cannot be closed that way
// is cut where the next known header starts a cluster, at a gap, or at its
// type's size limit, and says so. Works over cluster runs in order, as
// ForEachClusterRun reads them; reads only what it is handed.
#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery/cluster_source.h"

enum class CarvedType : uint8_t { Jpeg, Png, Gif, Pdf, Zip, Mp4, Mp3, Text };
inline constexpr size_t kCarvedTypeCount = 8;

// "JPEG", "PNG", "GIF", "PDF", "ZIP", "MP4", "MP3", "Text".
const char* CarvedTypeName(CarvedType type);

struct CarvedFile {
  uint32_t firstCluster = 0;
  uint64_t length = 0;      // bytes, from the start of firstCluster on, contiguous
  CarvedType type = CarvedType::Text;
  std::string extension;    // "jpg", "png", "gif", "pdf", "zip", "docx", "xlsx", "pptx",
                            // "odt", "ods", "odp", "epub", "jar", "mp4", "mov", "m4a",
                            // "3gp", "mp3", "txt"
  bool endFound = false;    // false: cut at the next header, a gap or the size limit
  std::vector<uint32_t> unreadableClusters;  // its clusters with sectors that could not be read
  uint32_t LastCluster(uint32_t clusterBytes) const;
};

struct CarveLimits {
  // The most bytes a carved file of each type may have (CarvedType order); a
  // file that reaches it is cut there. FAT holds no file of 4 GiB or more.
  std::array<uint64_t, kCarvedTypeCount> most = {
      256ull << 20,  // JPEG
      256ull << 20,  // PNG
      64ull << 20,   // GIF
      1ull << 30,    // PDF
      0xFFFFFFFFull, // ZIP
      0xFFFFFFFFull, // MP4
      256ull << 20,  // MP3
      64ull << 20,   // text
  };
  // Files followed at once; a header inside a file whose structure vouches
  // for the bytes around it is followed beside it, up to this many.
  uint32_t mostOpen = 16;
};

// The byte-stream walker of one format (carving.cpp); opaque here.
class FormatWalker;

class Carver {
 public:
  explicit Carver(const ClusterGeometry& geometry, const CarveLimits& limits = {});
  ~Carver();
  Carver(const Carver&) = delete;
  Carver& operator=(const Carver&) = delete;

  // Runs must come in increasing cluster order; a cluster that does not
  // follow the one before ends the files that are open (their clusters are
  // taken to be contiguous).
  void Feed(const ClusterRun& run);
  // Ends what is still open and returns every carved file, by first cluster.
  std::vector<CarvedFile> Finish();

 private:
  struct Open;
  void OneCluster(uint32_t cluster, std::span<const uint8_t> bytes,
                  std::span<const ByteRange> holes);
  void Close(Open& open, uint64_t length, bool endFound);
  void Cut(Open& open, uint64_t at);
  void CutAll(bool onlyUnbounded);
  void Start(CarvedType type, bool weak, uint32_t cluster);

  ClusterGeometry geometry_;
  CarveLimits limits_;
  std::vector<std::unique_ptr<Open>> open_;
  std::vector<CarvedFile> done_;
  uint32_t expected_ = 0;  // the cluster that continues the files open (0: none)
};

// One pass over the data area (the clusters skip leaves) for carving alone.
std::vector<CarvedFile> CarveDataArea(ClusterSource& source, const ClusterGeometry& geometry,
                                      const std::function<bool(uint32_t)>& skip,
                                      const CarveLimits& limits = {},
                                      const std::atomic<bool>* stop = nullptr);

// Carved files that start in a cluster claimed already (a live, deleted or
// lost-folder file holds it) go; those that run into one are cut before it
// and lose their found end.
void DropClaimedCarvings(std::vector<CarvedFile>& files, uint32_t clusterBytes,
                         const std::function<bool(uint32_t)>& claimed);

// The type whose header the bytes begin with (at least 16 of them to tell).
std::optional<CarvedType> CarvedTypeOfHeader(std::span<const uint8_t> head);

// Whether a whole candidate byte stream (a deleted file read one way or
// another) parses as its format from start to end: markers, chunks with
// their CRCs, blocks, boxes, frames, a ZIP's central directory pointing at
// its local headers, a PDF's startxref pointing at its cross-reference.
enum class StructureVerdict { Complete, Broken, CannotTell };
struct StructureCheck {
  StructureVerdict verdict = StructureVerdict::CannotTell;
  uint64_t end = 0;          // Complete: where the structure ends
  bool tailClean = false;    // Complete: nothing but zeros or blanks after end
  bool ChecksOut() const { return verdict == StructureVerdict::Complete && tailClean; }
};
StructureCheck CheckStructure(CarvedType type, std::span<const uint8_t> bytes);
