#include "disk/undo_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr char kFileMagic[8] = {'G', 'L', 'U', 'N', 'D', 'O', '0', '1'};
constexpr char kRecordMagic[4] = {'G', 'L', 'U', 'R'};
constexpr size_t kHeaderSize = 16;
constexpr size_t kFixed = 36;  // record bytes before the path
constexpr size_t kTrailer = 32 + 8;
constexpr size_t kMaxPath = 4096;
constexpr size_t kSector = 512;

void Put64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
uint32_t Get32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Makes the file's directory entry durable too: a journal that vanished with
// the crash would guard nothing.
void SyncDir(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string UndoFileName(std::time_t when, uint32_t sequence, const std::string& drive) {
  char stamp[32];
  std::tm tm{};
  localtime_r(&when, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  char number[16];
  std::snprintf(number, sizeof number, "%03u", static_cast<unsigned>(sequence));
  return std::string(stamp) + "-" + number + "-" + drive + ".undo";
}

std::optional<UndoNameOrder> ParseUndoFileName(const std::string& name) {
  // YYYYMMDD-HHMMSS-NNN-DRIVE.undo, or as written before the sequence came
  // first: YYYYMMDD-HHMMSS-DRIVE.undo and YYYYMMDD-HHMMSS-DRIVE-N.undo.
  static constexpr std::string_view kExtension = ".undo";
  if (name.size() < 16 + kExtension.size() || name.compare(name.size() - kExtension.size(),
                                                           kExtension.size(), kExtension) != 0)
    return std::nullopt;
  auto digits = [&](size_t from, size_t count) {
    if (from + count > name.size()) return false;
    for (size_t i = from; i < from + count; ++i)
      if (name[i] < '0' || name[i] > '9') return false;
    return true;
  };
  if (!digits(0, 8) || name[8] != '-' || !digits(9, 6) || name[15] != '-') return std::nullopt;
  UndoNameOrder order;
  order.stamp = name.substr(0, 15);
  const std::string rest = name.substr(16, name.size() - 16 - kExtension.size());
  if (rest.size() > 4 && digits(16, 3) && rest[3] == '-') {
    order.sequence = static_cast<uint32_t>(std::stoul(rest.substr(0, 3)));
    order.drive = rest.substr(4);
    return order;
  }
  order.sequence = 1;
  order.drive = rest;
  const size_t dash = rest.rfind('-');
  if (dash != std::string::npos && dash + 1 < rest.size() &&
      rest.find_first_not_of("0123456789", dash + 1) == std::string::npos && rest.size() - dash <= 5) {
    order.sequence = static_cast<uint32_t>(std::stoul(rest.substr(dash + 1)));
    order.drive = rest.substr(0, dash);
  }
  return order;
}

std::string DefaultUndoDir() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/gleaner/undo";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/state/gleaner/undo";
}

bool PrepareUndoDir(const std::string& dir, std::string& why) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    why = ec.message();
    return false;
  }
  if (!fs::is_directory(dir, ec)) {
    why = std::strerror(ENOTDIR);
    return false;
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

UndoJournal::UndoJournal(std::string dir, const std::string& drivePath) : dir_(std::move(dir)) {
  std::error_code ec;
  const fs::path abs = fs::absolute(drivePath, ec);
  drivePath_ = ec ? drivePath : abs.lexically_normal().string();
  if (const char* kill = std::getenv("GLEANER_UNDO_TEST_KILL_AFTER"))
    killAfter_ = std::strtoull(kill, nullptr, 10);
}

UndoJournal::~UndoJournal() {
  if (fd_ >= 0) ::close(fd_);
}

void UndoJournal::StartNewFile() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  sequence_ = 0;
}

bool UndoJournal::Create() {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  if (ec) {
    error_ = "cannot make the undo folder " + dir_ + ": " + ec.message();
    return false;
  }
  const std::time_t now = std::time(nullptr);
  const std::string drive = fs::path(drivePath_).filename().string();
  for (uint32_t n = 1; n <= kUndoSequenceMost && fd_ < 0; ++n) {
    const std::string name = dir_ + "/" + UndoFileName(now, n, drive);
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd_ >= 0) file_ = name;
    else if (errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error_ = "cannot make an undo file in " + dir_ + ": " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> header(kFileMagic, kFileMagic + 8);
  Put64(header, static_cast<uint64_t>(now));
  if (!WriteAll(fd_, header) || ::fsync(fd_) != 0) {
    error_ = "cannot write the undo file " + file_ + ": " + std::strerror(errno);
    return false;
  }
  SyncDir(dir_);
  return true;
}

bool UndoJournal::Record(uint64_t driveSize, uint64_t firstSector, std::span<const uint8_t> old,
                         std::span<const uint8_t> fresh) {
  if (broken_ || old.size() != fresh.size() || drivePath_.size() > kMaxPath) return false;
  if (fd_ < 0 && !Create()) {
    broken_ = true;
    return false;
  }
  std::vector<uint8_t> out;
  uint64_t seq = sequence_;
  for (size_t at = 0; at < old.size(); at += kSector) {
    const size_t n = std::min(kSector, old.size() - at);
    const size_t start = out.size();
    out.insert(out.end(), kRecordMagic, kRecordMagic + 4);
    Put32(out, static_cast<uint32_t>(kFixed + drivePath_.size() + n + kTrailer));
    Put64(out, seq++);
    Put64(out, driveSize);
    Put64(out, firstSector + at / kSector);
    Put16(out, static_cast<uint16_t>(n));
    Put16(out, static_cast<uint16_t>(drivePath_.size()));
    out.insert(out.end(), drivePath_.begin(), drivePath_.end());
    out.insert(out.end(), old.begin() + static_cast<std::ptrdiff_t>(at),
               old.begin() + static_cast<std::ptrdiff_t>(at + n));
    const Sha256Digest h = Sha256(fresh.subspan(at, n));
    out.insert(out.end(), h.begin(), h.end());
    const Sha256Digest sum = Sha256(std::span<const uint8_t>(out).subspan(start));
    out.insert(out.end(), sum.begin(), sum.begin() + 8);
  }
  if (!WriteAll(fd_, out) || ::fsync(fd_) != 0) {
    error_ = "cannot write the undo file " + file_ + ": " + std::strerror(errno);
    broken_ = true;
    return false;
  }
  sequence_ = seq;
  if (killAfter_ != 0 && sequence_ >= killAfter_) ::raise(SIGKILL);
  return true;
}

UndoJournalContents ReadUndoJournal(const std::string& path) {
  UndoJournalContents c;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    c.error = "cannot read " + path + ": " + std::strerror(EISDIR);
    return c;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    c.error = "cannot read " + path + ": " + std::strerror(errno);
    return c;
  }
  const uint64_t size = fs::file_size(path, ec);
  uint8_t header[kHeaderSize];
  if (ec || !in.read(reinterpret_cast<char*>(header), kHeaderSize) ||
      std::memcmp(header, kFileMagic, 8) != 0) {
    c.error = path + " is no undo file of this program";
    return c;
  }
  c.created = static_cast<int64_t>(Get64(header + 8));
  uint64_t offset = kHeaderSize;
  std::vector<uint8_t> rec;
  constexpr size_t kMaxRecord = kFixed + kMaxPath + kSector + kTrailer;
  while (offset < size) {
    auto bad = [&](uint64_t declared) {
      c.badOffset = offset;
      // What a crash leaves: a record cut short, or one whose bytes did not
      // all reach the disk (zeros where the file grew), with nothing written
      // after it.
      bool last = declared != 0 ? offset + declared >= size : size - offset < kMaxRecord;
      if (!last) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset + (declared != 0 ? declared : 0)));
        last = true;
        char chunk[4096];
        while (last && in.read(chunk, sizeof chunk).gcount() > 0)
          last = std::all_of(chunk, chunk + in.gcount(), [](char b) { return b == 0; });
      }
      c.tail = last ? UndoJournalContents::Tail::Torn : UndoJournalContents::Tail::Damaged;
    };
    uint8_t head[8];
    if (size - offset < 8 || !in.read(reinterpret_cast<char*>(head), 8)) {
      bad(0);
      break;
    }
    const uint32_t len = Get32(head + 4);
    if (std::memcmp(head, kRecordMagic, 4) != 0 || len < kFixed + 1 + kTrailer || len > kMaxRecord) {
      bad(0);
      break;
    }
    if (size - offset < len) {
      bad(len);
      break;
    }
    rec.assign(head, head + 8);
    rec.resize(len);
    if (!in.read(reinterpret_cast<char*>(rec.data() + 8), len - 8)) {
      bad(len);
      break;
    }
    const uint8_t* p = rec.data();
    const uint16_t n = Get16(p + 32), pathLen = Get16(p + 34);
    const Sha256Digest sum = Sha256(std::span<const uint8_t>(rec).first(len - 8));
    if (n == 0 || n > kSector || kFixed + pathLen + n + kTrailer != len ||
        std::memcmp(sum.data(), p + len - 8, 8) != 0) {
      bad(len);
      break;
    }
    UndoRecord r;
    r.sequence = Get64(p + 8);
    r.driveSize = Get64(p + 16);
    r.sector = Get64(p + 24);
    r.drivePath.assign(reinterpret_cast<const char*>(p + kFixed), pathLen);
    r.oldBytes.assign(p + kFixed + pathLen, p + kFixed + pathLen + n);
    std::copy(p + kFixed + pathLen + n, p + kFixed + pathLen + n + 32, r.newHash.begin());
    c.records.push_back(std::move(r));
    offset += len;
  }
  return c;
}
