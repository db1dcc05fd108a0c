// The undo journal under both transfer paths: every write's old bytes are
// kept first, in records that name the drive and survive a crash cut short;
// undo puts them back and leaves alone what something else changed since.
#include "disk/undo_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "disk/disk_access.h"
#include "fixtures/scripted_prompt.h"
#include "disk/sector_access.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "tools/undo_writes.h"

namespace {

namespace fs = std::filesystem;

std::string Hex(const Sha256Digest& d) {
  std::string s;
  char b[3];
  for (uint8_t x : d) {
    std::snprintf(b, sizeof b, "%02x", x);
    s += b;
  }
  return s;
}

std::vector<std::string> UndoFiles(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> d(bytes);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(seed + i * 5 + i / 512);
  return d;
}

DrivePacket FloppyAt(uint32_t first, uint32_t count) {
  DrivePacket p;
  p.drive = 0;
  p.sector = 1;
  p.heads = 2;
  p.sectorsPerTrack = 18;
  p.startSector = first;
  p.sectorCount = count;
  return p;
}

TEST(UndoJournal, Sha256KnownAnswers) {
  auto of = [](const std::string& s) {
    return Hex(Sha256(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size())));
  };
  EXPECT_EQ(of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first padding block.
  EXPECT_EQ(of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(of(std::string(1000, 'a')), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
}

TEST(UndoJournal, EveryWriteIsJournalledFirstAndUndoneOnBothPaths) {
  TempDir dir;
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    const std::string image = dir.File(direct ? "direct.img" : "library.img");
    const std::string undoDir = dir.File(direct ? "undo-d" : "undo-l");
    ASSERT_TRUE(MustRun("cp " + ShellQuote(fd.image) + " " + ShellQuote(image)));
    const std::vector<uint8_t> original = ReadFileBytes(image);
    {
      DriveArgsResult args = ParseDriveArgs({"--floppy", image, "--undo-dir", undoDir});
      ASSERT_EQ(args.error, "");
      EXPECT_TRUE(args.config.undo);
      TestDrives drives(direct ? TestDrives::Direct : TestDrives::Library);
      ASSERT_TRUE(drives.BindAsProgram(args.config));
      ScriptedPrompt& prompt = drives.prompt;
      DiskAccess& access = drives.access;
      EXPECT_EQ(prompt.Messages(), std::vector<std::string>{});
      // Reading makes no undo file.
      std::vector<uint8_t> buf(4 * 512);
      EXPECT_TRUE(ReadSectors(access, FloppyAt(30, 4), buf.data()));
      EXPECT_EQ(UndoFiles(undoDir), std::vector<std::string>{});
      // Across a track end (two library chunks), then sector 31 again.
      EXPECT_TRUE(WriteSectors(access, FloppyAt(34, 3), Pattern(3 * 512, 1).data()));
      EXPECT_TRUE(WriteSectors(access, FloppyAt(35, 1), Pattern(512, 2).data()));
      access.Release();
    }
    const std::vector<std::string> files = UndoFiles(undoDir);
    ASSERT_EQ(files.size(), 1u);
    // Named by the time, the sequence within the second and the drive's file name.
    EXPECT_TRUE(std::regex_match(fs::path(files[0]).filename().string(),
                                 std::regex(R"(\d{8}-\d{6}-001-(direct|library)\.img\.undo)")))
        << files[0];
    const UndoJournalContents c = ReadUndoJournal(files[0]);
    ASSERT_EQ(c.error, "");
    EXPECT_EQ(c.tail, UndoJournalContents::Tail::Clean);
    ASSERT_EQ(c.records.size(), 4u);
    const std::vector<uint64_t> want = {34, 35, 36, 35};
    std::vector<uint8_t> after = original;
    for (size_t i = 0; i < 4; ++i) {
      const UndoRecord& r = c.records[i];
      EXPECT_EQ(r.sequence, i);
      EXPECT_EQ(r.sector, want[i]);
      EXPECT_EQ(r.drivePath, fs::absolute(image).string());
      EXPECT_EQ(r.driveSize, 1474560u);
      // The old bytes are what the sector held just before this write.
      EXPECT_EQ(r.oldBytes, std::vector<uint8_t>(after.begin() + r.sector * 512, after.begin() + r.sector * 512 + 512));
      const std::vector<uint8_t> three = Pattern(3 * 512, 1);
      const std::vector<uint8_t> fresh =
          i < 3 ? std::vector<uint8_t>(three.begin() + i * 512, three.begin() + (i + 1) * 512) : Pattern(512, 2);
      EXPECT_EQ(r.newHash, Sha256(fresh));
      std::copy(fresh.begin(), fresh.end(), after.begin() + r.sector * 512);
    }
    EXPECT_EQ(ReadFileBytes(image), after);

    // A dry run says what it would do and changes nothing.
    ScriptedPrompt prompt;
    UndoWritesOptions u{.journal = files[0], .dryRun = true};
    UndoWritesResult dry = UndoWrites(u, prompt);
    EXPECT_TRUE(dry.complete);
    ASSERT_EQ(dry.sectors.size(), 4u);
    for (const auto& s : dry.sectors) EXPECT_EQ(s.state, UndoSectorState::WouldRestore) << s.sector;
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{"4 sectors would be restored, 0 already as before, 0 left alone."});
    EXPECT_EQ(ReadFileBytes(image), after);

    prompt.Clear();
    u.dryRun = false;
    UndoWritesResult done = UndoWrites(u, prompt);
    EXPECT_TRUE(done.complete);
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{"4 sectors restored, 0 already as before, 0 left alone."});
    EXPECT_EQ(ReadFileBytes(image), original);
    // Again: everything is as before already.
    prompt.Clear();
    EXPECT_TRUE(UndoWrites(u, prompt).complete);
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{"0 sectors restored, 4 already as before, 0 left alone."});
  }
}

TEST(UndoJournal, NoUndoReadOnlyAndAnUnusableFolderKeepNoJournal) {
  TempDir dir;
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  const std::vector<uint8_t> original = ReadFileBytes(fd.image);
  auto bind = [&](std::vector<std::string> args, TestDrives& drives) {
    args.insert(args.begin(), {"--floppy", fd.image});
    DriveArgsResult r = ParseDriveArgs(args);
    ASSERT_EQ(r.error, "");
    ASSERT_TRUE(drives.BindAsProgram(r.config));
  };
  {
    TestDrives drives(TestDrives::Library);
    DiskAccess& access = drives.access;
    bind({"--undo-dir", dir.File("ro"), "--read-only"}, drives);
    EXPECT_FALSE(WriteSectors(access, FloppyAt(40, 1), Pattern(512, 3).data()));
    EXPECT_FALSE(fs::exists(dir.File("ro")));
  }
  {
    TestDrives drives(TestDrives::Library);
    DiskAccess& access = drives.access;
    bind({"--undo-dir", dir.File("off"), "--no-undo"}, drives);
    EXPECT_TRUE(WriteSectors(access, FloppyAt(40, 1), Pattern(512, 3).data()));
    EXPECT_FALSE(fs::exists(dir.File("off")));
  }
  WriteFileBytes(fd.image, original);
  {
    // A file where the folder should be: said, and nothing is written.
    const std::string notDir = dir.File("plain");
    std::ofstream(notDir) << "x";
    TestDrives drives(TestDrives::Library);
    ScriptedPrompt& prompt = drives.prompt;
    DiskAccess& access = drives.access;
    bind({"--undo-dir", notDir + "/undo"}, drives);
    EXPECT_EQ(prompt.Messages(),
              std::vector<std::string>{UndoDirUnusableText(notDir + "/undo", "Not a directory")});
    EXPECT_EQ(prompt.Messages()[0], "The undo folder " + notDir +
                                        "/undo cannot be used (Not a directory): the drives are opened "
                                        "read-only. Name another folder with --undo-dir, or write without "
                                        "undo with --no-undo.");
    EXPECT_FALSE(WriteSectors(access, FloppyAt(40, 1), Pattern(512, 3).data()));
    EXPECT_EQ(ReadFileBytes(fd.image), original);
  }
}

// A journal of three writes to sectors 10, 11 and 12 of a copy of an image.
struct ThreeWrites {
  TempDir dir;
  std::string image = dir.File("fd.img");
  std::vector<uint8_t> original;
  std::string journal;

  ThreeWrites() {
    FatVolume fd = MakeFloppy1440(image);
    original = ReadFileBytes(image);
    TestDrives drives(TestDrives::Direct);
    EXPECT_TRUE(drives.BindAsProgram(
        ParseDriveArgs({"--floppy", image, "--undo-dir", dir.File("undo"), "--direct"}).config));
    for (uint32_t s = 10; s < 13; ++s)
      EXPECT_TRUE(WriteSectors(drives.access, FloppyAt(s, 1), Pattern(512, static_cast<uint8_t>(s)).data()));
    drives.access.Release();
    journal = UndoFiles(dir.File("undo")).at(0);
  }
  std::vector<uint8_t> Sector(const std::vector<uint8_t>& bytes, uint64_t s) const {
    return std::vector<uint8_t>(bytes.begin() + s * 512, bytes.begin() + (s + 1) * 512);
  }
};

TEST(UndoJournal, ACutOrDamagedJournalRestoresTheWholeRecordsBeforeTheFault) {
  ThreeWrites w;
  const std::vector<uint8_t> journal = ReadFileBytes(w.journal);
  const size_t record = (journal.size() - 16) / 3;
  // Cut anywhere inside the last record, or its last byte flipped: the two
  // before it are used and the undo is whole (the cut record's write never
  // happened in a crash).
  for (const size_t keep : {journal.size() - 1, journal.size() - record + 7, journal.size() - record + 3,
                            journal.size() - record + 200}) {
    SCOPED_TRACE(keep);
    const std::string cut = w.dir.File("cut.undo");
    WriteFileBytes(cut, std::vector<uint8_t>(journal.begin(), journal.begin() + keep));
    WriteFileBytes(w.image, ReadFileBytes(w.image));
    std::vector<uint8_t> image = w.original;
    for (uint32_t s = 10; s < 12; ++s) {
      const auto p = Pattern(512, static_cast<uint8_t>(s));
      std::copy(p.begin(), p.end(), image.begin() + s * 512);
    }
    WriteFileBytes(w.image, image);
    ScriptedPrompt prompt;
    const UndoWritesResult r = UndoWrites({.journal = cut}, prompt);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(prompt.Messages(),
              (std::vector<std::string>{"The last record of " + cut +
                                            " was cut short (the program stopped while writing it) and is "
                                            "ignored; the 2 records before it are used.",
                                        "2 sectors restored, 0 already as before, 0 left alone."}));
    EXPECT_EQ(ReadFileBytes(w.image), w.original);
  }
  // Zeros where the file grew but its bytes never came.
  {
    std::vector<uint8_t> zeroed(journal.begin(), journal.end() - record);
    zeroed.resize(journal.size() + 3 * record, 0);
    const std::string z = w.dir.File("zero.undo");
    WriteFileBytes(z, zeroed);
    const UndoJournalContents c = ReadUndoJournal(z);
    EXPECT_EQ(c.tail, UndoJournalContents::Tail::Torn);
    EXPECT_EQ(c.records.size(), 2u);
  }
  // A damaged record with whole ones after it: the records before are used,
  // and the undo is not whole.
  {
    std::vector<uint8_t> bad = journal;
    bad[16 + record + 100] ^= 0x40;
    const std::string b = w.dir.File("bad.undo");
    WriteFileBytes(b, bad);
    WriteFileBytes(w.image, w.original);
    ScriptedPrompt prompt;
    const UndoWritesResult r = UndoWrites({.journal = b}, prompt);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(prompt.Messages(),
              (std::vector<std::string>{b + " is damaged at byte " + std::to_string(16 + record) +
                                            ": only the 1 record before it is used.",
                                        "0 sectors restored, 1 already as before, 0 left alone."}));
  }
  // Not a journal at all.
  ScriptedPrompt prompt;
  EXPECT_FALSE(UndoWrites({.journal = w.image}, prompt).complete);
  EXPECT_EQ(prompt.Messages(), std::vector<std::string>{"Cannot undo: " + w.image + " is no undo file of this program"});
  prompt.Clear();
  EXPECT_FALSE(UndoWrites({.journal = w.dir.File("none.undo")}, prompt).complete);
  EXPECT_EQ(prompt.Messages(),
            std::vector<std::string>{"Cannot undo: cannot read " + w.dir.File("none.undo") + ": No such file or directory"});
}

TEST(UndoJournal, ASectorChangedSinceIsLeftAloneAndSaid) {
  ThreeWrites w;
  std::vector<uint8_t> image = ReadFileBytes(w.image);
  // Another tool writes sector 11 after the program did.
  std::fill(image.begin() + 11 * 512, image.begin() + 12 * 512, 0x77);
  WriteFileBytes(w.image, image);
  ScriptedPrompt prompt;
  const UndoWritesResult r = UndoWrites({.journal = w.journal}, prompt);
  EXPECT_FALSE(r.complete);
  const std::string abs = fs::absolute(w.image).string();
  EXPECT_EQ(prompt.Messages(),
            (std::vector<std::string>{"2 sectors restored, 0 already as before, 1 left alone. 1 sector was "
                                      "changed since this program wrote it by something else."}));
  ASSERT_EQ(r.sectors.size(), 3u);
  EXPECT_EQ(r.sectors[0].sector, 12u);
  EXPECT_EQ(r.sectors[1].state, UndoSectorState::ChangedSince);
  const std::vector<uint8_t> now = ReadFileBytes(w.image);
  EXPECT_EQ(w.Sector(now, 10), w.Sector(w.original, 10));
  EXPECT_EQ(w.Sector(now, 11), std::vector<uint8_t>(512, 0x77));
  EXPECT_EQ(w.Sector(now, 12), w.Sector(w.original, 12));

  // A drive of another size is not the one the journal was made for.
  image.resize(image.size() + 512);
  WriteFileBytes(w.image, image);
  prompt.Clear();
  EXPECT_FALSE(UndoWrites({.journal = w.journal}, prompt).complete);
  EXPECT_EQ(prompt.Messages().front(), abs + " is not the drive the undo file was made for: it holds 1475072 "
                                             "bytes, the undo file says 1474560. Nothing of it was restored.");
  // Read-only: says why, writes nothing.
  image.resize(1474560);
  WriteFileBytes(w.image, image);
  prompt.Clear();
  EXPECT_FALSE(UndoWrites({.journal = w.journal, .readOnly = true}, prompt).complete);
  EXPECT_EQ(prompt.Messages().front(), abs + " is open read-only: nothing of it was restored.");
  EXPECT_EQ(ReadFileBytes(w.image), image);
}

}  // namespace
