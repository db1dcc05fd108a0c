#include "disk/disk_access.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include "disk/sect32_engine.h"
#include "disk/undo_journal.h"

namespace {

// libsect32.so loaded with dlopen; unloaded when the binding is released.
class LoadedSectorLibrary final : public SectorLibrary {
 public:
  LoadedSectorLibrary(void* handle, ReadSect32Fn r, WriteSect32Fn w, ReadSect64Fn r64,
                      WriteSect64Fn w64, CheckInt13Extension32Fn c, Sect32FloppyCountFn f,
                      Sect32DriveGeometryFn g, Sect32StartUndoFileFn u, Sect32ParallelReadsFn p)
      : handle_(handle), read_(r), write_(w), read64_(r64), write64_(w64), check_(c),
        floppies_(f), geometry_(g), undoFile_(u), parallel_(p) {}
  ~LoadedSectorLibrary() override {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  uint32_t ReadSect32(uint32_t d, uint32_t c, uint32_t h, uint32_t s, uint32_t n, void* b,
                      uint32_t lba, uint32_t ext) override {
    return read_(d, c, h, s, n, b, lba, ext);
  }
  uint32_t WriteSect32(uint32_t d, uint32_t c, uint32_t h, uint32_t s, uint32_t n,
                       const void* b, uint32_t lba, uint32_t ext) override {
    return write_(d, c, h, s, n, b, lba, ext);
  }
  uint32_t ReadSect64(uint32_t d, uint32_t c, uint32_t h, uint32_t s, uint32_t n, void* b,
                      uint64_t lba, uint32_t ext) override {
    return read64_(d, c, h, s, n, b, lba, ext);
  }
  uint32_t WriteSect64(uint32_t d, uint32_t c, uint32_t h, uint32_t s, uint32_t n,
                       const void* b, uint64_t lba, uint32_t ext) override {
    return write64_(d, c, h, s, n, b, lba, ext);
  }
  uint32_t CheckInt13Extension32(uint32_t d) override { return check_(d); }
  uint32_t FloppyCount() override { return floppies_ != nullptr ? floppies_() : 0; }
  bool DriveGeometry(uint32_t drive, Geometry& out) override {
    uint32_t cylinders = 0, heads = 0, perTrack = 0;
    if (geometry_ == nullptr || geometry_(drive, &cylinders, &heads, &perTrack) == 0) return false;
    if (heads > 0xFFFF || perTrack > 0xFFFF) return false;
    out = Geometry{cylinders, static_cast<uint16_t>(heads), static_cast<uint16_t>(perTrack)};
    return true;
  }
  void StartUndoFile(uint32_t drive) override {
    if (undoFile_ != nullptr) undoFile_(drive);
  }
  bool ParallelReads(uint32_t drive) override {
    return parallel_ != nullptr && parallel_(drive) != 0;
  }

 private:
  void* handle_;
  ReadSect32Fn read_;
  WriteSect32Fn write_;
  ReadSect64Fn read64_;
  WriteSect64Fn write64_;
  CheckInt13Extension32Fn check_;
  Sect32FloppyCountFn floppies_;
  Sect32DriveGeometryFn geometry_;
  Sect32StartUndoFileFn undoFile_;
  Sect32ParallelReadsFn parallel_;
};

}  // namespace

DiskAccess::~DiskAccess() { Release(); }

uint32_t DiskAccess::WatchedLibrary::ReadSect32(uint32_t drive, uint32_t cylinder, uint32_t head,
                                                uint32_t sector, uint32_t count, void* buffer,
                                                uint32_t lba, uint32_t ext) {
  return access_.library_->ReadSect32(drive, cylinder, head, sector, count, buffer, lba, ext);
}

namespace {

// Drops the kept FAT sectors a library write is about to reach. The sectors
// are named as the library will take them; a triple that cannot be placed (no
// geometry) drops every kept sector of the drive instead. Dropped before the
// write and whatever its outcome: a failed one may have moved part of its
// sectors.
void NoteLibraryWrite(DiskAccess& access, SectorLibrary& library, uint32_t drive,
                      uint32_t cylinder, uint32_t head, uint32_t sector, uint32_t count,
                      uint64_t lba, uint32_t ext) {
  Geometry geometry;
  uint64_t first = 0;
  const bool placed = (ext != 0 || library.DriveGeometry(drive, geometry)) &&
                      Sect32Engine::Address(geometry, cylinder, head, sector, lba, ext, first);
  if (drive <= 0xFFFF) {
    if (placed)
      access.NoteWrite(static_cast<uint16_t>(drive), first, count);
    else
      access.NoteWrite(static_cast<uint16_t>(drive), 0, UINT64_MAX);
  }
}

}  // namespace

uint32_t DiskAccess::WatchedLibrary::WriteSect32(uint32_t drive, uint32_t cylinder, uint32_t head,
                                                 uint32_t sector, uint32_t count,
                                                 const void* buffer, uint32_t lba, uint32_t ext) {
  if (access_.RefuseWrite()) return 0;
  NoteLibraryWrite(access_, *access_.library_, drive, cylinder, head, sector, count, lba, ext);
  return access_.library_->WriteSect32(drive, cylinder, head, sector, count, buffer, lba, ext);
}

uint32_t DiskAccess::WatchedLibrary::ReadSect64(uint32_t drive, uint32_t cylinder, uint32_t head,
                                                uint32_t sector, uint32_t count, void* buffer,
                                                uint64_t lba, uint32_t ext) {
  return access_.library_->ReadSect64(drive, cylinder, head, sector, count, buffer, lba, ext);
}

uint32_t DiskAccess::WatchedLibrary::WriteSect64(uint32_t drive, uint32_t cylinder, uint32_t head,
                                                 uint32_t sector, uint32_t count,
                                                 const void* buffer, uint64_t lba, uint32_t ext) {
  if (access_.RefuseWrite()) return 0;
  NoteLibraryWrite(access_, *access_.library_, drive, cylinder, head, sector, count, lba, ext);
  return access_.library_->WriteSect64(drive, cylinder, head, sector, count, buffer, lba, ext);
}

uint32_t DiskAccess::WatchedLibrary::CheckInt13Extension32(uint32_t drive) {
  return access_.library_->CheckInt13Extension32(drive);
}

uint32_t DiskAccess::WatchedLibrary::FloppyCount() { return access_.library_->FloppyCount(); }

bool DiskAccess::WatchedLibrary::DriveGeometry(uint32_t drive, Geometry& out) {
  return access_.library_->DriveGeometry(drive, out);
}

void DiskAccess::UseDirect(DeviceMap map) {
  useSectorLibrary_ = false;
  devices_ = std::move(map);
}

void DiskAccess::UseLibrary(SectorLibrary* library, std::unique_ptr<SectorLibrary> owned) {
  useSectorLibrary_ = true;
  ownedLibrary_ = std::move(owned);
  library_ = library;
}

bool DiskAccess::OpenDrive(uint16_t drive) {
  Device* dev = devices_.Find(drive);
  if (dev == nullptr) return false;
  dev->Close();
  return dev->Open();
}

void DiskAccess::CloseDrive(uint16_t drive) {
  if (Device* dev = devices_.Find(drive)) dev->Close();
}

bool DiskAccess::DriveOpen(uint16_t drive) const {
  Device* dev = devices_.Find(drive);
  return dev != nullptr && dev->IsOpen();
}

int64_t DiskAccess::DeviceRead(uint16_t drive, uint64_t offset, uint8_t* buffer, size_t len) {
  Device* dev = devices_.Find(drive);
  return dev != nullptr ? dev->ReadAt(offset, buffer, len) : -1;
}

int64_t DiskAccess::DeviceWrite(uint16_t drive, uint64_t offset, const uint8_t* buffer,
                                size_t len) {
  if (RefuseWrite()) return -1;
  Device* dev = devices_.Find(drive);
  // Dropped whether or not the write succeeds: a failed one may have moved
  // part of its bytes.
  NoteWrite(drive, offset / kSectorSize, (offset % kSectorSize + len + kSectorSize - 1) / kSectorSize);
  return dev != nullptr ? dev->WriteAt(offset, buffer, len) : -1;
}

bool DiskAccess::HardDiskExists(uint16_t drive) {
  if (useSectorLibrary_) {
    if (library_ == nullptr) return false;
    uint8_t sector[512];
    return library_->ReadSect32(drive, 0, 0, 1, 1, sector, 0, 0) != 0;
  }
  return OpenDrive(drive);
}

bool DiskAccess::DriveGeometry(uint16_t drive, Geometry& out) const {
  if (useSectorLibrary_) return library_ != nullptr && library_->DriveGeometry(drive, out);
  const Device* dev = devices_.Find(drive);
  if (dev == nullptr) return false;
  out = dev->geometry;
  return true;
}

bool DiskAccess::ParallelReads(uint16_t drive) const {
  // A floppy whose read fails is opened again, under any other reader.
  if (drive < 0x80) return false;
  if (useSectorLibrary_) return library_ != nullptr && library_->ParallelReads(drive);
  const Device* dev = devices_.Find(drive);
  return dev != nullptr && dev->ParallelReads();
}

void DiskAccess::StartUndoFile(uint16_t drive) {
  if (!useSectorLibrary_) devices_.StartUndoFile(drive);
  else if (library_ != nullptr) library_->StartUndoFile(drive);
}

uint32_t DiskAccess::Int13Extensions(uint16_t drive) {
  return useSectorLibrary_ && library_ != nullptr ? library_->CheckInt13Extension32(drive) : 0;
}

uint64_t DiskAccess::DiskSectors(uint16_t drive) {
  if (!useSectorLibrary_) {
    if (!OpenDrive(drive)) return 0;
    const Device* dev = devices_.Find(drive);
    return dev != nullptr ? dev->Size() / kSectorSize : 0;
  }
  if (library_ != nullptr) {
    const uint64_t bytes = library_->DriveBytes(drive);
    if (bytes != 0) return bytes / kSectorSize;
  }
  // The loaded library tells no sizes: the file it opened for the drive does.
  const size_t index = drive - kFirstHardDisk;
  if (drive >= kFirstHardDisk && index < drives_.disks.size()) {
    const int fd = ::open(drives_.disks[index].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      const off_t end = ::lseek(fd, 0, SEEK_END);
      ::close(fd);
      if (end > 0) return static_cast<uint64_t>(end) / kSectorSize;
    }
  }
  Geometry geometry;
  if (!DriveGeometry(drive, geometry)) return 0;
  return uint64_t{geometry.cylinders} * geometry.heads * geometry.sectorsPerTrack;
}

void DiskAccess::Release() {
  fats_.Clear();
  devices_.CloseAll();
  library_ = nullptr;
  ownedLibrary_.reset();
  drivesReady_ = false;
}

DiskCapabilities DiskAccess::Capabilities() const {
  DiskCapabilities caps;
  caps.biosTransfers = useSectorLibrary_ && library_ != nullptr;
  caps.reopensRemovable = !useSectorLibrary_;
  return caps;
}

template <bool Write, typename Buf>
bool DiskAccess::MoveAbsolute(uint16_t drive, uint64_t sector, uint32_t count, Buf buffer,
                              const Geometry* chs) {
  if (count == 0) return true;
  if (sector > UINT64_MAX / kSectorSize - count) return false;
  if (!useSectorLibrary_) {
    if (!DriveOpen(drive) && !OpenDrive(drive)) return false;
    const uint64_t len = uint64_t{count} * kSectorSize;
    int64_t moved;
    if constexpr (Write)
      moved = DeviceWrite(drive, sector * kSectorSize, buffer, len);
    else
      moved = DeviceRead(drive, sector * kSectorSize, buffer, len);
    return moved >= 0 && static_cast<uint64_t>(moved) == len;
  }
  SectorLibrary* lib = Library();
  if (lib == nullptr) return false;
  const uint32_t ext = chs != nullptr ? 0 : Int13Extensions(drive);
  uint32_t c = 0, h = 0, s = 1;
  if (ext != 0) {
    // Sectors past the 32-bit LBA go by the 64-bit entry points; the rest by
    // the ones every library has always had.
    if (sector + count - 1 > UINT32_MAX) {
      if constexpr (Write)
        return lib->WriteSect64(drive, 0, 0, 1, count, buffer, sector, ext) != 0;
      else
        return lib->ReadSect64(drive, 0, 0, 1, count, buffer, sector, ext) != 0;
    }
  } else {
    Geometry g;
    if (chs != nullptr) g = *chs;
    else if (!DriveGeometry(drive, g)) g = Geometry{};
    if (g.heads != 0 && g.sectorsPerTrack != 0) {
      const uint64_t track = sector / g.sectorsPerTrack;
      s = static_cast<uint32_t>(sector % g.sectorsPerTrack) + 1;
      h = static_cast<uint32_t>(track % g.heads);
      const uint64_t cylinder = track / g.heads;
      // A packed triple holds ten cylinder bits.
      if (cylinder > 1023) return false;
      c = static_cast<uint32_t>(cylinder);
    } else if (sector != 0) {
      // Without a geometry only the first sector has a triple.
      return false;
    }
    s |= (c >> 2) & 0xC0;
    c &= 0xFF;
  }
  const auto lba = ext != 0 ? static_cast<uint32_t>(sector) : 0u;
  if constexpr (Write)
    return lib->WriteSect32(drive, c, h, s, count, buffer, lba, ext) != 0;
  else
    return lib->ReadSect32(drive, c, h, s, count, buffer, lba, ext) != 0;
}

bool DiskAccess::ReadAbsolute(uint16_t drive, uint64_t sector, uint32_t count, uint8_t* buffer,
                              const Geometry* chs) {
  return MoveAbsolute<false>(drive, sector, count, buffer, chs);
}

bool DiskAccess::WriteAbsolute(uint16_t drive, uint64_t sector, uint32_t count,
                               const uint8_t* buffer, const Geometry* chs) {
  return MoveAbsolute<true>(drive, sector, count, buffer, chs);
}

bool DiskAccess::ReopenRemovable(uint16_t drive) {
  if (useSectorLibrary_) return true;
  CloseDrive(drive);
  return OpenDrive(drive);
}

void DiskAccess::ReleaseRemovable(uint16_t drive) {
  if (!useSectorLibrary_) CloseDrive(drive);
}

const char* DiskAccess::UnreadableText(UnreadablePlace place) const {
  switch (place) {
    case UnreadablePlace::PartitionTable:
      return useSectorLibrary_ ? "Partition Table inaccessible!" : "Partition Table not accessible!";
    case UnreadablePlace::BootRecord:
      return useSectorLibrary_ ? "Boot Record inaccessible!" : "Boot Record not accessible!";
    case UnreadablePlace::OwnSector:
      return useSectorLibrary_ ? "Sector not accessible!" : "Boot Record not accessible!";
    case UnreadablePlace::ItemSector: break;
  }
  return "Sector not accessible!";
}

std::string ProgramFolderFromCommandLine(const std::string& commandLine) {
  std::string s = commandLine;
  if (!s.empty() && s[0] == '"') {
    // A quoted program path ends at its closing quote; the arguments after it
    // may hold slashes of their own.
    const auto close = s.find('"', 1);
    s = s.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  const auto slash = s.rfind('/');
  if (slash == std::string::npos) return {};
  return s.substr(0, slash + 1);
}

std::string RunningProgramFolder(const char* argv0) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) return ProgramFolderFromCommandLine(std::string(buf, static_cast<size_t>(n)));
  return ProgramFolderFromCommandLine(argv0 != nullptr ? argv0 : "");
}

bool BindDiskAccess(DiskAccess& access, const BindOptions& requested) {
  PromptPort& prompt = access.Prompt();
  BindOptions options = requested;
  if (options.drives.undo && !options.drives.readOnly) {
    // No write without its undo record: when the journal has nowhere to go,
    // nothing is written at all.
    if (options.drives.undoDir.empty()) options.drives.undoDir = DefaultUndoDir();
    std::string why;
    if (!PrepareUndoDir(options.drives.undoDir, why)) {
      prompt.Message(UndoDirUnusableText(options.drives.undoDir, why));
      options.drives.readOnly = true;
    }
  }
  access.SetProgramFolder(options.programFolder);
  access.SetDrives(options.drives);
  access.SetDrivesReady(false);
  access.SetFloppyCount(0);
  access.SetHardDiskCount(0);

  // A drive that cannot be opened is named with the reason and left out: it
  // must not hide the drives after it, nor (on the library path) every drive.
  DriveMapConfig drives = options.drives;
  for (const std::string& problem : DropUnopenableDrives(drives)) prompt.Message(problem);

  if (drives.direct) {
    DeviceMap map = BuildDeviceMap(drives);
    access.SetFloppyCount(map.FloppyCount());
    access.UseDirect(std::move(map));
    access.SetDrivesReady(true);
    return true;
  }

  std::string path = options.programFolder + options.libraryFile;
  // Without a folder the library is the one in the current folder, never one
  // that dlopen would look up on the system's library path.
  if (path.find('/') == std::string::npos) path = "./" + path;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    prompt.Message(kLibraryNotFound);
    return false;
  }
  auto read = reinterpret_cast<ReadSect32Fn>(::dlsym(handle, "ReadSect32"));
  if (read == nullptr) {
    prompt.Message(kReadSectMissing);
    ::dlclose(handle);
    return false;
  }
  auto write = reinterpret_cast<WriteSect32Fn>(::dlsym(handle, "WriteSect32"));
  if (write == nullptr) {
    prompt.Message(kWriteSectMissing);
    ::dlclose(handle);
    return false;
  }
  auto read64 = reinterpret_cast<ReadSect64Fn>(::dlsym(handle, "ReadSect64"));
  if (read64 == nullptr) {
    prompt.Message(kReadSect64Missing);
    ::dlclose(handle);
    return false;
  }
  auto write64 = reinterpret_cast<WriteSect64Fn>(::dlsym(handle, "WriteSect64"));
  if (write64 == nullptr) {
    prompt.Message(kWriteSect64Missing);
    ::dlclose(handle);
    return false;
  }
  auto check = reinterpret_cast<CheckInt13Extension32Fn>(::dlsym(handle, "CheckInt13Extension32"));
  if (check == nullptr) {
    prompt.Message(kCheckExtMissing);
    ::dlclose(handle);
    return false;
  }
  auto open = reinterpret_cast<Sect32OpenDrivesFn>(::dlsym(handle, "Sect32OpenDrives"));
  auto floppies = reinterpret_cast<Sect32FloppyCountFn>(::dlsym(handle, "Sect32FloppyCount"));
  // A library without the geometry query gives no geometry: a CHS transfer
  // past a drive's first sector then fails rather than land at a guessed place.
  auto geometry = reinterpret_cast<Sect32DriveGeometryFn>(::dlsym(handle, "Sect32DriveGeometry"));
  // Without the undo-file call the run's writes share one undo file.
  auto undoFile = reinterpret_cast<Sect32StartUndoFileFn>(::dlsym(handle, "Sect32StartUndoFile"));
  // Without it the library is read by one thread at a time.
  auto parallel = reinterpret_cast<Sect32ParallelReadsFn>(::dlsym(handle, "Sect32ParallelReads"));
  auto lib = std::make_unique<LoadedSectorLibrary>(handle, read, write, read64, write64, check,
                                                   floppies, geometry, undoFile, parallel);
  SectorLibrary* raw = lib.get();
  access.UseLibrary(raw, std::move(lib));

  // The drive map stands where the old driver stood: without it the library
  // has no floppies to count, but the program still lists what it can reach.
  const std::string map = drives.Serialize();
  if (open == nullptr || floppies == nullptr || open(map.c_str()) == 0) {
    prompt.Message(kDriverOpenFailed);
    access.SetFloppyCount(0);
    access.SetDrivesReady(true);
    return true;
  }
  access.SetFloppyCount(floppies());
  access.SetDrivesReady(true);
  return true;
}
