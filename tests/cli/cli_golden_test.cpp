// Every gleaner-cli command run as the program on the sample images: its
// standard output, standard error, exit status and the files it leaves behind
// are compared byte for byte with tests/cli/golden/NAME.out, so that a change
// to how the commands are parsed or run cannot change what a script sees.
//
// GLEANER_GOLDEN_UPDATE=1 writes the expected files anew from this run (read
// the diff before committing them); a failure shows the diff.
//
// What differs from run to run is normalised before the comparison: the work
// folder's absolute path reads "WORK", the date and time in an undo file's
// name read "YYYYMMDD-HHMMSS", and the full --help text printed after a usage
// error reads "<the --help text>" (the "help" row pins that text itself).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "disk/sha256.h"
#include "fixtures/image_builder.h"
#include "fixtures/rescue_mapfile.h"

namespace fs = std::filesystem;

namespace {

// Node paths of the sample images.
const std::string kFloppy = "Floppy Disk 1";
const std::string kFloppyRoot = kFloppy + "/Root Directory";
const std::string kDisk = "Hard Disk 1";
const std::string kFat16 = kDisk + "/16-Bit FAT Disk";
const std::string kRoot16 = kFat16 + "/Root Directory";
const std::string kExtended = kDisk + "/Extended DOS Partition";
const std::string kFat32 = kExtended + "/32-Bit FAT Disk";
const std::string kFat12 = kExtended + "/Extended DOS Partition/12-Bit FAT Disk";
const std::string kRoot12 = kFat12 + "/Root Directory";
const std::string kDocs16 = kRoot16 + "/DOCS    .   ";

// Sets the entry of cluster in the FAT12 at byte fatOffset of image.
void SetFat12(std::vector<uint8_t>& image, uint64_t fatOffset, uint32_t cluster, uint16_t value) {
  const uint64_t at = fatOffset + cluster * 3 / 2;
  uint16_t pair = static_cast<uint16_t>(image[at] | image[at + 1] << 8);
  pair = cluster % 2 ? static_cast<uint16_t>((pair & 0x000F) | value << 4)
                     : static_cast<uint16_t>((pair & 0xF000) | value);
  image[at] = static_cast<uint8_t>(pair);
  image[at + 1] = static_cast<uint8_t>(pair >> 8);
}

// The images every row starts from, made once per run in a folder of their own.
struct Samples {
  TempDir dir;
  std::map<std::string, std::vector<uint8_t>> images;  // by file name
  std::string helpText;                                // gleaner-cli --help

  Samples() {
    // Files the program makes on a floppy (CRITICAL.BAK) are dated by it.
    ::setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
    MakeSampleDisk(dir.File("disk.img"));
    MakeSampleFloppy(dir.File("floppy.img"));
    MakeFloppy1440(dir.File("blank.img"), "BLANK");
    // The sample floppy with a lost chain of two clusters (in both FATs)
    // and a cluster the two FAT copies disagree on.
    std::vector<uint8_t> damaged = ReadFileBytes(dir.File("floppy.img"));
    for (const uint64_t fat : {512u, 512u + 9 * 512u}) {  // FAT 1 and FAT 2 of the floppy
      SetFat12(damaged, fat, 2000, 2001);
      SetFat12(damaged, fat, 2001, 0xFFF);
    }
    SetFat12(damaged, 512, 2100, 0xFFF);
    WriteFileBytes(dir.File("damaged.img"), damaged);
    // Unreadable sectors: the third cluster of the FAT16 volume's
    // DOCS/BIG.BIN (clusters 9-18 from sector 2124, 4 sectors each); the
    // second sector of its root directory (from 2092); the floppy's track 1;
    // two clusters of the blank floppy's data area.
    WriteRescueMapfile(dir.File("disk.map"), 131072 * 512, {{2160, 1}});
    WriteRescueMapfile(dir.File("root.map"), 131072 * 512, {{2093, 1}});
    WriteRescueMapfile(dir.File("floppy.map"), 2880 * 512, {{18, 18}});
    WriteRescueMapfile(dir.File("blank.map"), 2880 * 512, {{40, 2}});
    for (const char* name : {"disk.img", "floppy.img", "blank.img", "damaged.img", "disk.map",
                             "root.map", "floppy.map", "blank.map"})
      images[name] = ReadFileBytes(dir.File(name));
    RunCommand(ShellQuote(std::string(GLEANER_BIN_DIR) + "/gleaner-cli") + " --help 2>/dev/null",
               &helpText);
    // The rows' runs are given the clock on their command line; the tests
    // that run after these in the same process keep the real one.
    ::unsetenv("SOURCE_DATE_EPOCH");
  }
};

Samples& SampleSet() {
  static Samples samples;
  return samples;
}

// A copy of an image that holds only its blocks with data: the sample disk is
// mostly zeros, and every row starts from a fresh copy of it.
bool WriteSparse(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  constexpr size_t kBlock = 4096;
  for (size_t at = 0; ok && at < bytes.size(); at += kBlock) {
    const size_t n = std::min(kBlock, bytes.size() - at);
    const auto block = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    if (std::all_of(block, block + static_cast<std::ptrdiff_t>(n), [](uint8_t b) { return b == 0; }))
      continue;
    ok = ::pwrite(fd, bytes.data() + at, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

std::string GoldenDir() { return std::string(GLEANER_SOURCE_DIR) + "/tests/cli/golden"; }

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string Hex(const Sha256Digest& digest) {
  static const char* const kDigits = "0123456789abcdef";
  std::string hex;
  for (const uint8_t b : digest) hex += {kDigits[b >> 4], kDigits[b & 15]};
  return hex;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

std::string Normalised(std::string text, const std::string& work) {
  ReplaceAll(text, work, "WORK");
  // Undo files of one drive made in the same second are told apart by their
  // sequence ("-001-", "-002-"): which one a file gets is a matter of timing.
  static const std::regex kUndoStamp("[0-9]{8}-[0-9]{6}-[0-9]{3}(-[^/\\s]*?)\\.undo");
  return std::regex_replace(text, kUndoStamp, "YYYYMMDD-HHMMSS-NNN$1.undo");
}

// The undo files a row's runs left, relative to its work folder, sorted.
std::vector<std::string> UndoFiles(const std::string& work) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(work + "/state", ec))
    if (e.is_regular_file() && e.path().extension() == ".undo")
      files.push_back(fs::relative(e.path(), work).string());
  std::sort(files.begin(), files.end());
  return files;
}

// One run of the program in the work folder; `{undo}` in a word stands for
// the first undo file the row's runs made (undoMade, in the order made).
std::string RunStep(const std::vector<std::string>& words, const std::string& work,
                    const std::string& helpText, std::vector<std::string>& undoMade) {
  std::string shown = "$ gleaner-cli";
  std::string command = "cd " + ShellQuote(work) +
                        " && LC_ALL=C SOURCE_DATE_EPOCH=1000000000 XDG_STATE_HOME=" +
                        ShellQuote(work + "/state") + " " +
                        ShellQuote(std::string(GLEANER_BIN_DIR) + "/gleaner-cli");
  for (std::string word : words) {
    ReplaceAll(word, "{undo}", undoMade.empty() ? std::string("none.undo") : undoMade.front());
    shown += " " + ShellQuote(word);
    command += " " + ShellQuote(word);
  }
  const std::string outFile = work + "/../stdout", errFile = work + "/../stderr";
  command += " >" + ShellQuote(outFile) + " 2>" + ShellQuote(errFile);
  const int status = RunCommand(command);
  for (const std::string& file : UndoFiles(work))
    if (std::find(undoMade.begin(), undoMade.end(), file) == undoMade.end()) undoMade.push_back(file);
  std::string out = Normalised(ReadText(outFile), work);
  std::string err = Normalised(ReadText(errFile), work);
  if (!helpText.empty()) ReplaceAll(err, helpText, "<the --help text>\n");
  std::ostringstream text;
  text << Normalised(shown, work) << "\nstatus " << status << "\nstdout " << out.size()
       << " bytes\n"
       << out << (out.empty() || out.back() == '\n' ? "" : "\n") << "stderr " << err.size()
       << " bytes\n"
       << err << (err.empty() || err.back() == '\n' ? "" : "\n");
  return text.str();
}

// Whether the file at path holds bytes, read a block at a time: a fresh 64 MiB
// buffer a row costs more than the row itself.
bool SameBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  static std::vector<char> block(1 << 20);
  for (size_t at = 0;; at += block.size()) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got > bytes.size() - std::min(at, bytes.size()) ||
        !std::equal(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got),
                    reinterpret_cast<const char*>(bytes.data()) + at))
      return false;
    if (got < block.size()) return at + got == bytes.size();
  }
}

// Every file in the work folder after the runs: a sample image "unchanged"
// or with the SHA-256 of what it holds now, any other file with its size and
// SHA-256; undo files by name only (they hold the time they were made).
std::string FilesLeft(const std::string& work, const Samples& samples) {
  std::vector<std::string> lines;
  for (const auto& e : fs::recursive_directory_iterator(work)) {
    if (!e.is_regular_file()) continue;
    const std::string path = fs::relative(e.path(), work).string();
    const auto sample = samples.images.find(path);
    if (path.ends_with(".undo")) {
      lines.push_back(Normalised(path, work));
    } else if (sample != samples.images.end() && SameBytes(e.path(), sample->second)) {
      lines.push_back(path + " unchanged");
    } else {
      const std::vector<uint8_t> bytes = ReadFileBytes(e.path());
      lines.push_back(path + " " + std::to_string(bytes.size()) + " sha256 " + Hex(Sha256(bytes)));
    }
  }
  std::sort(lines.begin(), lines.end());
  std::string text = "files\n";
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

struct GoldenCase {
  const char* name;
  std::vector<std::vector<std::string>> runs;  // command lines, run in turn
};

std::ostream& operator<<(std::ostream& os, const GoldenCase& c) { return os << c.name; }

const std::vector<GoldenCase>& Cases() {
  using W = std::vector<std::string>;
  static const std::vector<GoldenCase> kCases = {
      {"help", {W{"--help"}}},
      {"help_show", {W{"disk.img", "show", "--help"}}},
      {"help_diskcopy", {W{"diskcopy", "-h"}}},
      {"help_scan", {W{"scan", "1", "--yes", "--help"}}},
      {"drives", {W{"floppy.img", "disk.img", "drives"}}},
      {"drives_direct", {W{"--direct", "--floppy", "floppy.img", "--disk", "disk.img", "drives"}}},
      {"tree", {W{"floppy.img", "disk.img", "tree"}}},
      {"tree_direct", {W{"--direct", "floppy.img", "disk.img", "tree"}}},

      // show: every kind of node, decoded and in both dump modes.
      {"show_floppy", {W{"floppy.img", "show", kFloppy}}},
      {"show_floppy_sector_dump", {W{"floppy.img", "show", kFloppy, "--sector-dump"}}},
      {"show_floppy_raw_dump", {W{"floppy.img", "show", kFloppy, "--raw-dump"}}},
      {"show_disk", {W{"disk.img", "show", kDisk}}},
      {"show_disk_sector_dump", {W{"disk.img", "show", kDisk, "--sector-dump"}}},
      {"show_disk_raw_dump", {W{"disk.img", "show", kDisk, "--raw-dump"}}},
      {"show_fat16", {W{"disk.img", "show", kFat16}}},
      {"show_fat16_sector_dump", {W{"disk.img", "show", kFat16, "--sector-dump"}}},
      {"show_fat16_raw_dump", {W{"disk.img", "show", kFat16, "--raw-dump"}}},
      {"show_fat16_direct", {W{"--direct", "disk.img", "show", kFat16, "--raw-dump"}}},
      {"show_extended", {W{"disk.img", "show", kExtended}}},
      {"show_extended_sector_dump", {W{"disk.img", "show", kExtended, "--sector-dump"}}},
      {"show_extended_raw_dump", {W{"disk.img", "show", kExtended, "--raw-dump"}}},
      {"show_fat32", {W{"disk.img", "show", kFat32}}},
      {"show_fat32_sector_dump", {W{"disk.img", "show", kFat32, "--sector-dump"}}},
      {"show_fat32_raw_dump", {W{"disk.img", "show", kFat32, "--raw-dump"}}},
      {"show_fat", {W{"disk.img", "show", kFat12 + "/FAT 1"}}},
      {"show_fat_sector_dump", {W{"disk.img", "show", kFat12 + "/FAT 2", "--sector-dump"}}},
      {"show_fat_raw_dump", {W{"disk.img", "show", kFat12 + "/FAT 1", "--raw-dump"}}},
      {"show_root", {W{"disk.img", "show", kRoot16}}},
      {"show_root_direct", {W{"--direct", "disk.img", "show", kRoot16}}},
      {"show_root_sector_dump", {W{"disk.img", "show", kRoot16, "--sector-dump"}}},
      {"show_root_raw_dump", {W{"disk.img", "show", kRoot16, "--raw-dump"}}},
      {"show_folder", {W{"disk.img", "show", kDocs16}}},
      {"show_folder_sector_dump", {W{"disk.img", "show", kDocs16, "--sector-dump"}}},
      {"show_folder_raw_dump", {W{"disk.img", "show", kDocs16, "--raw-dump"}}},
      {"show_file", {W{"disk.img", "show", kDocs16 + "/BIG     .BIN"}}},
      {"show_file_sector_dump", {W{"disk.img", "show", kDocs16 + "/BIG     .BIN", "--sector-dump"}}},
      {"show_file_raw_dump", {W{"disk.img", "show", kDocs16 + "/BIG     .BIN", "--raw-dump"}}},
      {"show_long_name", {W{"floppy.img", "show", kFloppyRoot + "/DOCS    .   /Long File Name Document.txt"}}},
      {"show_page", {W{"disk.img", "show", kRoot16, "--raw-dump", "--page", "2"}}},
      {"show_page_past_end", {W{"disk.img", "show", kDocs16 + "/BIG     .BIN", "--sector-dump", "--page", "99"}}},
      {"show_goto", {W{"disk.img", "show", kFat16, "--goto", "100"}}},
      {"show_goto_page", {W{"disk.img", "show", kFat32, "--goto", "40", "--page", "3"}}},
      {"show_goto_outside", {W{"disk.img", "show", kFat12, "--goto", "999999"}}},
      {"show_unreadable", {W{"disk.img", "--mapfile", "root.map", "show", kRoot16, "--raw-dump", "--page", "1"}}},
      {"deleted_unreadable", {W{"disk.img", "--mapfile", "root.map", "deleted", kFat16}}},
      {"show_no_node", {W{"disk.img", "show", kDisk + "/Nothing"}}},

      // Writes: each on its own copies of the images.
      {"undelete", {W{"floppy.img", "undelete", kFloppyRoot, "4", "7"},
                    W{"floppy.img", "show", kFloppyRoot}}},
      {"undelete_direct", {W{"--direct", "disk.img", "undelete", kRoot12, "7"}}},
      {"undelete_read_only", {W{"--read-only", "floppy.img", "undelete", kFloppyRoot, "7"}}},
      {"undelete_live_row", {W{"floppy.img", "undelete", kFloppyRoot, "2"}}},
      {"rename", {W{"floppy.img", "undelete", kFloppyRoot, "7"},
                  W{"floppy.img", "rename", kFloppyRoot, "7", "DELETED", "TXT"},
                  W{"floppy.img", "show", kFloppyRoot}}},
      {"rename_direct", {W{"--direct", "floppy.img", "undelete", kFloppyRoot, "7"},
                         W{"--direct", "floppy.img", "rename", kFloppyRoot, "7", "DELETED", "TXT"}}},
      {"rename_dash_name", {W{"floppy.img", "undelete", kFloppyRoot, "7"},
                            W{"floppy.img", "rename", kFloppyRoot, "7", "-GONE", "-"}}},
      {"rename_refused", {W{"floppy.img", "undelete", kFloppyRoot, "7"},
                          W{"floppy.img", "rename", kFloppyRoot, "7", "A*B", "TXT"},
                          W{"floppy.img", "rename", kFloppyRoot, "7", "README", "TXT"}}},
      {"backup", {W{"--floppy", "blank.img", "--disk", "disk.img", "backup", "--verify"}}},
      {"backup_direct", {W{"--direct", "--floppy", "blank.img", "--disk", "disk.img", "backup"}}},
      {"backup_read_only", {W{"--read-only", "--floppy", "blank.img", "--disk", "disk.img", "backup"}}},
      {"restore", {W{"--floppy", "blank.img", "--disk", "disk.img", "backup"},
                   W{"--floppy", "blank.img", "--disk", "disk.img", "restore", "--floppy", "1",
                     "--disk", "1"},
                   W{"--floppy", "blank.img", "--disk", "disk.img", "restore",
                     "--no-partition-table"},
                   W{"--floppy", "blank.img", "--disk", "disk.img", "restore",
                     "--no-boot-records"}}},
      {"restore_nothing_saved", {W{"--floppy", "blank.img", "--disk", "disk.img", "restore"}}},
      {"diskcopy", {W{"--floppy", "floppy.img", "diskcopy", "--target", "copy1.img", "--target",
                      "copy2.img", "--verify"}}},
      {"diskcopy_bad_track", {W{"--floppy", "floppy.img", "--mapfile", "floppy.map", "diskcopy",
                                "--target", "copy.img"}}},
      {"diskcopy_abort", {W{"--floppy", "floppy.img", "--mapfile", "floppy.map", "diskcopy",
                            "--abort", "--target", "copy.img"}}},
      {"diskcopy_retry", {W{"--floppy", "floppy.img", "--mapfile", "floppy.map", "diskcopy",
                            "--retry", "--yes", "--target", "copy.img"}}},
      {"copy_to_floppy", {W{"--floppy", "blank.img", "--mapfile", "blank.map", "--disk", "disk.img",
                            "copy-to-floppy", kDocs16, "3"},
                          W{"blank.img", "tree"}}},
      {"copy_to_floppy_unreadable", {W{"--floppy", "blank.img", "--disk", "disk.img", "--mapfile",
                                       "disk.map", "copy-to-floppy", kDocs16, "3"}}},

      // Search: hex and text, with and without its progress.
      {"search_hex", {W{"disk.img", "search", kRoot16, "--hex", "50 6C 61 6E"}}},
      {"search_hex_direct", {W{"--direct", "disk.img", "search", kRoot16, "--hex", "50 6C 61 6E"}}},
      {"search_text_progress", {W{"disk.img", "search", kFat32, "--text", "Gone with its folder", "--progress"}}},
      {"search_start", {W{"floppy.img", "search", kFloppyRoot, "--text", "Sample", "--start", "40"}}},
      {"search_not_found", {W{"floppy.img", "search", kFloppyRoot, "--text", "not on this disk"}}},

      // Deleted files and copying out.
      {"deleted", {W{"disk.img", "deleted", kFat16}}},
      {"deleted_direct", {W{"--direct", "floppy.img", "deleted", kFloppyRoot}}},
      {"deleted_none", {W{"blank.img", "deleted", kFloppy}}},
      {"extract_folder", {W{"disk.img", "extract", kRoot16, "--to", "out"}}},
      {"extract_rows", {W{"floppy.img", "extract", kFloppyRoot, "2", "4", "7", "--to", "out",
                          "--skip-allocated"}}},
      {"extract_direct", {W{"--direct", "disk.img", "extract", kDocs16, "--to", "out"}}},
      {"extract_unreadable", {W{"disk.img", "--mapfile", "disk.map", "extract", kDocs16, "3", "--to",
                                "out"}}},
      {"rescue", {W{"disk.img", "rescue", kFat16, "--to", "out/rescued"}}},
      {"rescue_floppy_direct", {W{"--direct", "floppy.img", "rescue", kFloppy, "--to", "out", "--no-carve"}}},
      {"rescue_unreadable", {W{"disk.img", "--mapfile", "disk.map", "rescue", kFat16, "--to", "out"}}},

      // Scan Disk for Errors.
      {"scan_list", {W{"floppy.img", "disk.img", "scan"}}},
      {"scan_clean", {W{"floppy.img", "scan", "1"}}},
      {"scan_no", {W{"damaged.img", "scan", "1", "--no"}}},
      {"scan_yes", {W{"damaged.img", "scan", "1", "--yes"}, W{"damaged.img", "scan", "1"}}},
      {"scan_yes_direct", {W{"--direct", "damaged.img", "scan", "1", "--yes"}}},
      {"scan_thorough", {W{"disk.img", "--mapfile", "disk.map", "scan", "1", "--thorough", "--yes"}}},
      {"scan_no_volume", {W{"floppy.img", "scan", "9"}}},

      // Undo of a run's writes.
      {"undo", {W{"floppy.img", "undelete", kFloppyRoot, "7"},
                W{"undo", "{undo}", "--dry-run"},
                W{"undo", "{undo}"}}},
      {"undo_direct", {W{"--direct", "floppy.img", "undelete", kFloppyRoot, "7"},
                       W{"--direct", "--no-undo", "undo", "{undo}"}}},
      {"undo_not_an_undo_file", {W{"undo", "floppy.img"}}},

      // Usage and drive errors: exit status 2.
      {"usage_no_command", {W{"floppy.img"}}},
      {"usage_unknown_command", {W{"floppy.img", "frobnicate"}}},
      {"usage_floppy_without_file", {W{"--floppy"}}},
      {"usage_mapfile_first", {W{"--mapfile", "disk.map", "disk.img", "tree"}}},
      {"usage_bad_mapfile", {W{"disk.img", "--mapfile", "floppy.img", "tree"}}},
      {"usage_drive_missing", {W{"--disk", "nope.img", "tree"}}},
      {"usage_drives_argument", {W{"disk.img", "drives", "extra"}}},
      {"usage_tree_argument", {W{"disk.img", "tree", "extra"}}},
      {"usage_show_no_node", {W{"disk.img", "show", "--raw-dump"}}},
      {"usage_show_page", {W{"disk.img", "show", kRoot16, "--page", "x"}}},
      {"usage_show_page_missing", {W{"disk.img", "show", kRoot16, "--page"}}},
      {"usage_show_goto", {W{"disk.img", "show", kRoot16, "--goto", "0x10"}}},
      {"usage_show_unexpected", {W{"disk.img", "show", kRoot16, "--bogus"}}},
      {"usage_undelete_no_row", {W{"floppy.img", "undelete", kFloppyRoot}}},
      {"usage_undelete_row_zero", {W{"floppy.img", "undelete", kFloppyRoot, "0"}}},
      {"usage_rename_no_name", {W{"floppy.img", "rename", kFloppyRoot, "6"}}},
      {"usage_rename_long_name", {W{"floppy.img", "rename", kFloppyRoot, "7", "NINECHARS"}}},
      {"usage_rename_long_ext", {W{"floppy.img", "rename", kFloppyRoot, "7", "NAME", "TEXT"}}},
      {"usage_copy_to_floppy_rows", {W{"floppy.img", "copy-to-floppy", kFloppyRoot, "1", "2"}}},
      {"usage_backup_floppy", {W{"--floppy", "blank.img", "--disk", "disk.img", "backup", "--floppy", "0"}}},
      {"usage_backup_no_disk", {W{"--floppy", "blank.img", "--disk", "disk.img", "backup", "--disk", "2"}}},
      {"usage_restore_verify", {W{"--floppy", "blank.img", "--disk", "disk.img", "restore", "--verify"}}},
      {"usage_diskcopy_no_target", {W{"--floppy", "floppy.img", "diskcopy"}}},
      {"usage_diskcopy_from", {W{"--floppy", "floppy.img", "diskcopy", "--from", "x", "--target", "c.img"}}},
      {"usage_search_no_pattern", {W{"disk.img", "search", kRoot16}}},
      {"usage_search_two_patterns", {W{"disk.img", "search", kRoot16, "--hex", "41", "--text", "A"}}},
      {"usage_search_start", {W{"disk.img", "search", kRoot16, "--text", "A", "--start", "x"}}},
      {"usage_search_bad_hex", {W{"disk.img", "search", kRoot16, "--hex", "zz"}}},
      {"usage_deleted_no_volume", {W{"disk.img", "deleted"}}},
      {"usage_extract_no_target", {W{"disk.img", "extract", kRoot16}}},
      {"usage_rescue_no_target", {W{"disk.img", "rescue", kFat16}}},
      {"usage_extract_row", {W{"disk.img", "extract", kRoot16, "x", "--to", "out"}}},
      {"usage_scan_yes_without_volume", {W{"disk.img", "scan", "--yes"}}},
      {"usage_scan_yes_and_no", {W{"disk.img", "scan", "1", "--yes", "--no"}}},
      {"usage_scan_volume_zero", {W{"disk.img", "scan", "0"}}},
      {"usage_undo_no_file", {W{"undo", "--dry-run"}}},
      {"usage_undo_two_files", {W{"undo", "a.undo", "b.undo"}}},
  };
  return kCases;
}

class CliGolden : public testing::TestWithParam<GoldenCase> {};

TEST_P(CliGolden, OutputAsExpected) {
  const GoldenCase& c = GetParam();
  Samples& samples = SampleSet();
  TempDir row;
  const std::string work = row.File("work");
  fs::create_directory(work);
  fs::create_directory(work + "/out");  // where extract copies to
  // Copies of the samples the row names, so that its writes stay its own.
  for (const auto& [name, bytes] : samples.images)
    for (const auto& run : c.runs)
      if (std::find(run.begin(), run.end(), name) != run.end()) {
        ASSERT_TRUE(WriteSparse(work + "/" + name, bytes)) << name;
        break;
      }

  std::string actual;
  std::vector<std::string> undoMade;
  for (const auto& run : c.runs) actual += RunStep(run, work, samples.helpText, undoMade) + "\n";
  actual += FilesLeft(work, samples);

  const std::string expectedFile = GoldenDir() + "/" + c.name + ".out";
  if (const char* update = std::getenv("GLEANER_GOLDEN_UPDATE"); update && std::string(update) == "1") {
    fs::create_directories(GoldenDir());
    std::ofstream(expectedFile, std::ios::binary) << actual;
    return;
  }
  const std::string expected = ReadText(expectedFile);
  if (actual == expected) return;
  const std::string actualFile = row.File("actual.out");
  std::ofstream(actualFile, std::ios::binary) << actual;
  std::string diff;
  RunCommand("diff -u " + ShellQuote(expectedFile) + " " + ShellQuote(actualFile), &diff);
  ADD_FAILURE() << "gleaner-cli's output differs from " << expectedFile
                << " (GLEANER_GOLDEN_UPDATE=1 writes it anew):\n"
                << diff;
}

INSTANTIATE_TEST_SUITE_P(Commands, CliGolden, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
