// Scan Disk for Errors over a hostile drive, every question answered Yes, as
// "Automatically Fix Errors" runs it: nothing may crash or reach outside the
// volume whatever the boot record, the FATs and the folders claim, and a
// scan that repaired everything without a failure leaves no cross-link for a
// second scan to find.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scan/disk_scan.h"
#include "scan/scan_texts.h"
#include "scan/scan_volumes.h"
#include "sparse_image.h"

namespace {

// Answers every question one way and keeps the messages said.
class RecordingPort final : public PromptPort {
 public:
  explicit RecordingPort(bool yes) : yes_(yes) {}
  void Message(std::string_view text, std::string_view, PromptIcon) override {
    messages.emplace_back(text);
  }
  bool AskYesNo(std::string_view, std::string_view, PromptIcon) override { return yes_; }
  PromptAnswer AskAbortRetryIgnore(std::string_view, std::string_view, PromptIcon) override {
    return PromptAnswer::Ignore;
  }
  void SetStatus(int, std::string_view) override {}

  std::vector<std::string> messages;

 private:
  bool yes_;
};

// Whether the scan said only its closing count: any other message is a
// repair or a read that failed, after which cross-links may rightly remain.
bool OnlyCountSaid(const std::vector<std::string>& messages) {
  for (const std::string& m : messages)
    if (m.find("Lost Clusters found!!") == std::string::npos) return false;
  return true;
}

// Volumes this small get the thorough test too; larger ones would spend
// the run reading empty sectors.
constexpr uint32_t kThoroughSectors = 1u << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RecordingPort listing(false);
  FuzzDisk disk;
  if (!BindFuzzDisk({data, size}, listing, disk)) return 0;
  DiskAccess& access = disk.Access();
  const std::vector<ScanVolumeEntry> volumes = ListScanVolumes(access, listing);
  size_t scanned = 0;
  for (const ScanVolumeEntry& volume : volumes) {
    if (++scanned > 3) break;
    ScanOptions options;
    options.autoFix = true;
    options.thorough = volume.packet.sectorCount <= kThoroughSectors;
    RecordingPort yes(true);
    ScanFlags flags;
    flags.running = true;
    ScanEvents quiet;
    const ScanResult first = DiskScan(access, yes, flags, quiet).Run(volume, options);

    RecordingPort no(false);
    ScanFlags again;
    again.running = true;
    ScanOptions check;
    check.repairUnasked = false;
    const ScanResult second = DiskScan(access, no, again, quiet).Run(volume, check);
    if (!disk.readOnly && first.scanned && !first.stopped && OnlyCountSaid(yes.messages) &&
        second.scanned && second.crossLinks != 0) {
      std::fprintf(stderr, "a repaired volume still has %u cross-links\n", second.crossLinks);
      std::abort();
    }
  }
  if (std::getenv("GLEANER_FUZZ_VERBOSE") != nullptr)
    std::fprintf(stderr, "%zu volumes, %llu bytes written\n", volumes.size(),
                 static_cast<unsigned long long>(disk.device->bytesWritten));
  return 0;
}
