// The sector library's contract: transfers by BIOS drive number with a CHS
// triple, an LBA and the drive's extensions flag; the extension test; and the
// floppy count that stands in for the old driver's control code 1.
#pragma once
#include <cstdint>

#include "disk/device.h"

class SectorLibrary {
 public:
  virtual ~SectorLibrary() = default;
  // Nonzero when every sector moved. With ext 0 the CHS triple is honoured
  // (cylinder bits 0-7; head; sector in bits 0-5 with cylinder bits 8-9 in
  // bits 6-7), otherwise the LBA.
  virtual uint32_t ReadSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                              uint32_t count, void* buffer, uint32_t lba, uint32_t ext) = 0;
  virtual uint32_t WriteSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                               uint32_t count, const void* buffer, uint32_t lba,
                               uint32_t ext) = 0;
  // The same by a 64-bit LBA, for the sectors past 2^32 of a large disk (GPT
  // partitions of a 4 TB disk start there). CHS cannot reach them: with ext 0
  // the triple is honoured as above and lba plays no part.
  virtual uint32_t ReadSect64(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                              uint32_t count, void* buffer, uint64_t lba, uint32_t ext) = 0;
  virtual uint32_t WriteSect64(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                               uint32_t count, const void* buffer, uint64_t lba,
                               uint32_t ext) = 0;
  virtual uint32_t CheckInt13Extension32(uint32_t drive) = 0;
  virtual uint32_t FloppyCount() = 0;
  // The geometry the library converts CHS triples with for `drive`, decided
  // once when it opened the drive; false when it has none for it. The program
  // converts with the same geometry, so a triple names the sector its LBA does.
  [[nodiscard]] virtual bool DriveGeometry(uint32_t drive, Geometry& out) = 0;
  // The drive's size in bytes when the library can tell it without a
  // transfer; 0 when it cannot (the loaded library exports no such call).
  virtual uint64_t DriveBytes(uint32_t /*drive*/) { return 0; }
  // The drive's next write starts an undo file of its own; a library without
  // the call keeps one file for the run.
  virtual void StartUndoFile(uint32_t /*drive*/) {}
  // Whether the drive's reads may be made from several threads at once; a
  // library without the call is read by one thread at a time.
  virtual bool ParallelReads(uint32_t /*drive*/) { return false; }
};

// The C entry points exported by libsect32.so.
extern "C" {
using ReadSect32Fn = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, void*,
                                  uint32_t, uint32_t);
using WriteSect32Fn = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                   const void*, uint32_t, uint32_t);
using ReadSect64Fn = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, void*,
                                  uint64_t, uint32_t);
using WriteSect64Fn = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                   const void*, uint64_t, uint32_t);
using CheckInt13Extension32Fn = uint32_t (*)(uint32_t);
// Hands the library its drive map (DriveMapConfig::Serialize form); nonzero
// when every drive of it could be opened.
using Sect32OpenDrivesFn = uint32_t (*)(const char*);
using Sect32FloppyCountFn = uint32_t (*)();
// The drive's CHS geometry; nonzero when the drive is known.
using Sect32DriveGeometryFn = uint32_t (*)(uint32_t, uint32_t*, uint32_t*, uint32_t*);
using Sect32StartUndoFileFn = void (*)(uint32_t);
using Sect32ParallelReadsFn = uint32_t (*)(uint32_t);
}
