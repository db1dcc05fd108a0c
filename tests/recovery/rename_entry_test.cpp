// Rename After Recovery: the eleven name bytes as typed, over real and
// hand-made volumes, and its refusals and failures.
#include "recovery/rename_entry.h"

#include <gtest/gtest.h>

#include "recovery/undelete.h"
#include "recovery_rig.h"

namespace {

using Texts = std::vector<std::string>;

AskShortName Typed(const std::string& name, const std::string& extension, int* asked = nullptr) {
  return [=](ShortNameInput& in, const ShortNameCheck&) {
    if (asked) ++*asked;
    in.name = name;
    in.extension = extension;
    return true;
  };
}

std::string NameBytes(const std::vector<uint8_t>& entry) {
  return std::string(entry.begin(), entry.begin() + 11);
}

TEST(RenameAfterRecovery, StoresTheTypedNamePaddedWithBlanks) {
  TinyVolume v;
  const EntryBytes revived = ShortEntry(
      {"!EADME  TXT", kAttrArchive | kAttrReadOnly, 7, 1234, 0x5C6F, 0x2B3A, 0x2B39, 0x2B3B});
  v.PutEntries(v.RootOffset(), {Live("KEEP    TXT", 3, 1), revived});
  v.SetFatAll(3, 0xFFF);
  v.SetFatAll(7, 0xFFF);
  RecoveryRig rig(v.bytes);
  const DrivePacket root = rig.RootNode(FatWidth::Fat12);
  const uint64_t entry = v.RootOffset() + 32;
  auto rename = [&](const std::string& name, const std::string& ext) {
    rig.Show(root);
    rig.pane.Select({1});
    rig.prompt.Clear();
    rig.dev->writeLog.clear();
    static_cast<void>(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed(name, ext)));
    return NameBytes(rig.EntryAt(entry));
  };

  EXPECT_EQ(rename("README", "TXT"), "README  TXT");
  EXPECT_TRUE(rig.prompt.Messages().empty());
  // Only the name changed, and only the entry's sector was written.
  std::vector<uint8_t> expected = revived;
  std::memcpy(expected.data(), "README  TXT", 11);
  EXPECT_EQ(rig.EntryAt(entry), expected);
  EXPECT_EQ(rig.dev->writeLog, (std::vector<std::pair<uint64_t, size_t>>{{v.RootOffset(), 512}}));
  EXPECT_EQ(FirstDifference(rig.Bytes(), v.bytes, {{entry, entry + 11}}), -1);
  // The pane keeps the directory as written; the rows still show the old name.
  EXPECT_TRUE(std::equal(rig.pane.sectorBuffer.begin(), rig.pane.sectorBuffer.end(),
                         rig.Bytes().begin() + static_cast<ptrdiff_t>(v.RootOffset())));
  EXPECT_EQ(rig.Row(1)[0], "!EADME  .TXT");

  EXPECT_EQ(rename("A", "Z"), "A       Z  ");
  EXPECT_EQ(rename("README", "TXT"), "README  TXT");
  EXPECT_EQ(rename("README", "X"), "README  X  ");
  EXPECT_EQ(rename("readme", "txt"), "readme  txt");
  EXPECT_EQ(rename("NOEXT", ""), "NOEXT      ");
  EXPECT_EQ(rename("AB  ", "X "), "AB      X  ");  // blanks may pad
  // Longer texts (the command line has no edit limits) are cut to 8 and 3.
  EXPECT_EQ(rename("LONGERNAME", "HTML"), "LONGERNAHTM");
  // Characters go into code page 437, as the listing shows short names.
  EXPECT_EQ(rename("caf\xC3\xA9", "\xC3\xA9"), "caf\x82    \x82  ");
  EXPECT_EQ(NameBytes(rig.EntryAt(v.RootOffset())), "KEEP    TXT");
}

TEST(RenameAfterRecovery, TypedTextToOem) {
  EXPECT_EQ(TypedTextToOem("README", 8), "README");
  EXPECT_EQ(TypedTextToOem("ABCDEFGHIJ", 8), "ABCDEFGH");
  EXPECT_EQ(TypedTextToOem("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\x82\x82\x82");
  EXPECT_EQ(TypedTextToOem("\xC3\x89t\xC3\xA9", 8), "\x90t\x82");
  EXPECT_EQ(TypedTextToOem("\xCF\x83", 8), "\xE5");  // sigma: the byte of a deleted mark
  EXPECT_EQ(TypedTextToOem("a\xFF"
                           "b\xC3",
                           8),
            "a?b?");  // not UTF-8
  EXPECT_EQ(TypedTextToOem("\xF0\x9F\x98\x80!", 8), "?!");
}

TEST(RenameAfterRecovery, RenamesInAFolderOfAnyWidth) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), 32, 69632, "-s 1");
  ASSERT_TRUE(v.MakeDir("::/DOCS"));
  ASSERT_TRUE(v.PutFile("::/DOCS/Long file name.txt", "long"));
  ASSERT_TRUE(v.PutFile("::/DOCS/SHORT.TXT", "short"));
  RecoveryRig rig(ReadFileBytes(v.image));
  rig.Show(rig.RootNode(FatWidth::Fat32));
  const uint32_t docs =
      rig.pane.rowStore[static_cast<size_t>(rig.RowNamed("DOCS    .   "))].firstCluster;
  rig.Show(rig.FolderNode(FatWidth::Fat32, docs));
  rig.Select({"SHORT   .TXT"});
  static_cast<void>(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed("Renamed", "doc")));
  EXPECT_TRUE(rig.prompt.Messages().empty());
  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  const std::string list = v.ListAll();
  EXPECT_NE(list.find("::/DOCS/Renamed.doc"), std::string::npos) << list;
  EXPECT_NE(list.find("::/DOCS/Long file name.txt"), std::string::npos) << list;
  EXPECT_EQ(v.ReadFile("::/DOCS/Renamed.doc"), std::vector<uint8_t>({'s', 'h', 'o', 'r', 't'}));

  // A FAT larger than the memory a command may take (as a terabyte
  // volume's is): the folder is listed and renamed through its chain's FAT
  // sector alone. Undelete holds the whole FAT to write it back, and says
  // it cannot, writing nothing.
  ASSERT_TRUE(v.PutFile("::/DOCS/GONE.TXT", "gone"));
  ASSERT_TRUE(v.Delete("::/DOCS/GONE.TXT"));
  rig.Bytes() = ReadFileBytes(v.image);
  rig.access.Fats().Clear();
  const uint64_t fatBytes = uint64_t{rig.RootNode(FatWidth::Fat32).sectorsPerFat} * 512;
  rig.pane.budget.limit = 64 * 1024;
  ASSERT_GT(fatBytes, rig.pane.budget.limit);
  rig.prompt.Clear();
  rig.Show(rig.FolderNode(FatWidth::Fat32, docs));
  rig.Select({"Renamed .doc"});
  static_cast<void>(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed("AGAIN", "TXT")));
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_LE(rig.access.Fats().Size(), 1u);
  rig.Show(rig.FolderNode(FatWidth::Fat32, docs));
  rig.Select({"\xE5"
              "ONE    .TXT"});
  rig.prompt.Clear();
  rig.dev->writeLog.clear();
  static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
  EXPECT_EQ(rig.prompt.Messages(),
            Texts({"Fatal Error!  Not able to allocate a buffer!"}));
  EXPECT_TRUE(rig.dev->writeLog.empty());
  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  std::string fsck;
  EXPECT_TRUE(v.Check(&fsck)) << fsck;
  EXPECT_EQ(v.ReadFile("::/DOCS/AGAIN.TXT"), std::vector<uint8_t>({'s', 'h', 'o', 'r', 't'}));
}

TEST(RenameAfterRecovery, NeverWritesASectorThatCouldNotBeRead) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), 16, 20480, "-s 4");
  ASSERT_TRUE(v.PutFile("::/ONE.TXT", "one"));
  RecoveryRig rig(ReadFileBytes(v.image));
  const DrivePacket root = rig.RootNode(FatWidth::Fat16);
  rig.dev->badReadSectors = {root.startSector};
  rig.Show(root);
  // The unreadable sector's fill is listed as 16 deleted rows.
  ASSERT_EQ(rig.pane.rows.size(), 16u);
  ASSERT_EQ(rig.Row(0)[3], "RSA-Deleted");
  const std::vector<uint8_t> before = rig.Bytes();
  rig.pane.Select({0});
  rig.prompt.Clear();
  static_cast<void>(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed("NEW", "TXT")));
  EXPECT_EQ(rig.prompt.Messages(), Texts({"Root Directory not fully accessible!"}));
  EXPECT_TRUE(rig.dev->writeLog.empty());
  // Listed while readable, unreadable when renamed.
  rig.dev->badReadSectors.clear();
  rig.Show(root);
  rig.Select({"ONE     .TXT"});
  rig.dev->badReadSectors = {root.startSector};
  rig.prompt.Clear();
  static_cast<void>(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed("NEW", "TXT")));
  EXPECT_EQ(rig.prompt.Messages(), Texts({"Root Directory not fully accessible!"}));
  EXPECT_TRUE(rig.dev->writeLog.empty());
  EXPECT_TRUE(rig.Bytes() == before) << "the fill went over the root's first sector";
}

TEST(RenameAfterRecovery, RefusesAndFails) {
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {Live("ONE     TXT", 3, 1), Live("TWO     TXT", 4, 1),
                                ShortEntry({"SUB        ", kAttrFolder, 5, 0})});
  v.SetFatAll(3, 0xFFF);
  v.SetFatAll(4, 0xFFF);
  v.SetFatAll(5, 0xFFF);
  v.PutEntries(v.ClusterOffset(5),
               {ShortEntry({".          ", kAttrFolder, 5, 0}),
                ShortEntry({"..         ", kAttrFolder, 0, 0}), Live("INNER   TXT", 0, 0)});
  const std::vector<uint8_t> image = v.bytes;

  struct Case {
    RecoveryRig rig;
    int asked = 0;
    explicit Case(const std::vector<uint8_t>& bytes) : rig(bytes) {}
    void Run(std::vector<int> rows, bool ok = true) {
      rig.pane.Select(std::move(rows));
      rig.prompt.Clear();
      rig.dev->readLog.clear();
      rig.dev->writeLog.clear();
      static_cast<void>(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), [&](ShortNameInput& in, const ShortNameCheck&) {
        ++asked;
        in.name = "NEW";
        in.extension = "TXT";
        return ok;
      }));
    }
  };
  {  // Two rows or none: refused before any dialog.
    Case c(image);
    c.rig.Show(c.rig.RootNode(FatWidth::Fat12));
    c.Run({0, 1});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({"Only one file can be selected!"}));
    c.Run({});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({"Only one file can be selected!"}));
    EXPECT_EQ(c.asked, 0);
    // Cancel: nothing read or written.
    c.Run({0}, false);
    EXPECT_EQ(c.asked, 1);
    EXPECT_TRUE(c.rig.dev->readLog.empty());
    EXPECT_TRUE(c.rig.dev->writeLog.empty());
    // A cluster dump on show: nothing at all.
    c.rig.pane.viewKind = ViewKind::ClusterDump;
    c.Run({0});
    EXPECT_EQ(c.asked, 1);
    EXPECT_TRUE(c.rig.prompt.Events().empty());
  }
  {  // Both FATs unreadable: the root is renamed all the same, a folder is not.
    Case c(image);
    c.rig.Show(c.rig.RootNode(FatWidth::Fat12));
    c.rig.dev->badReadSectors = {1, 2};
    c.Run({0});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({"FATs cannot be read successfully!"}));
    EXPECT_EQ(NameBytes(c.rig.EntryAt(v.RootOffset())), "NEW     TXT");
    c.rig.dev->badReadSectors.clear();
    c.rig.Show(c.rig.FolderNode(FatWidth::Fat12, 5));
    // The folder's FAT sector, kept since the listing, serves the rename
    // (it is the disk's: any write to it drops it) ...
    c.rig.dev->badReadSectors = {1, 2};
    c.Run({0});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({}));
    EXPECT_EQ(NameBytes(c.rig.EntryAt(v.ClusterOffset(5) + 64)), "NEW     TXT");
    // ... and once it is gone (Refresh), the unreadable copies stop it.
    c.rig.access.Fats().Clear();
    c.rig.dev->writeLog.clear();
    c.Run({0});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({"FATs cannot be read successfully!"}));
    EXPECT_TRUE(c.rig.dev->writeLog.empty());
  }
  {  // Folder rows skip "." and "..": row 0 is INNER.
    Case c(image);
    c.rig.Show(c.rig.FolderNode(FatWidth::Fat12, 5));
    c.Run({0});
    EXPECT_EQ(NameBytes(c.rig.EntryAt(v.ClusterOffset(5) + 64)), "NEW     TXT");
    c.rig.dev->badWriteSectors = {v.ClusterOffset(5) / 512};
    c.Run({0});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({"Not able to fully write the sub-directory"}));
  }
  {  // Root failures: a write, and the root's buffer.
    Case c(image);
    c.rig.Show(c.rig.RootNode(FatWidth::Fat12));
    c.rig.dev->badWriteSectors = {v.RootOffset() / 512};
    c.Run({1});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({"Root Directory not fully accessible!"}));
    EXPECT_EQ(NameBytes(c.rig.EntryAt(v.RootOffset() + 32)), "TWO     TXT");
    c.rig.dev->badWriteSectors.clear();
    c.rig.pane.budget.limit = 100;
    c.Run({1});
    EXPECT_EQ(c.rig.prompt.Messages(), Texts({"Fatal Error!  Not able to allocate a buffer!"}));
    EXPECT_TRUE(c.rig.dev->writeLog.empty());
  }
}

TEST(RenameAfterRecovery, RefusesNamesAVolumeDoesNotAccept) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), 12, 2880);
  ASSERT_TRUE(v.PutFile("::/ONE.TXT", "one"));
  ASSERT_TRUE(v.PutFile("::/TWO.TXT", "two"));
  ASSERT_TRUE(v.PutFile("::/GONE.TXT", "gone"));
  ASSERT_TRUE(v.Delete("::/GONE.TXT"));
  RecoveryRig rig(ReadFileBytes(v.image));
  const DrivePacket root = rig.RootNode(FatWidth::Fat12);
  const std::vector<uint8_t> image = rig.Bytes();
  auto refusal = [&](const std::string& row, const std::string& name, const std::string& ext) {
    rig.Show(root);
    rig.Select({row});
    rig.prompt.Clear();
    rig.dev->writeLog.clear();
    const RenameResult r = RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed(name, ext));
    EXPECT_TRUE(r.refused) << name << "." << ext;
    EXPECT_FALSE(r.written);
    EXPECT_TRUE(rig.dev->writeLog.empty()) << name << "." << ext;
    return rig.prompt.Messages().size() == 1 ? rig.prompt.Messages()[0] : "";
  };
  const std::string bad = "The name contains a character a short name cannot hold: ";
  EXPECT_EQ(refusal("ONE     .TXT", "a b*?", "TXT"),
            "The name has a space before another character: a short name may only end in spaces.");
  EXPECT_EQ(refusal("ONE     .TXT", "ab*?", "TXT"), bad + "*");
  EXPECT_EQ(refusal("ONE     .TXT", "t/x", ""), bad + "/");
  for (const char c : std::string("\"*+,./:;<=>?[\\]|"))
    EXPECT_EQ(refusal("ONE     .TXT", std::string("A") + c, "TXT"), bad + c);
  EXPECT_EQ(refusal("ONE     .TXT", "A\tB", "TXT"), bad + "0x09");
  EXPECT_EQ(refusal("ONE     .TXT", "A\x7F", "TXT"), bad + "0x7F");
  EXPECT_EQ(refusal("ONE     .TXT", "A\xFF", "TXT"), bad + "0xFF");  // no UTF-8
  EXPECT_EQ(refusal("ONE     .TXT", "\xE2\x82\xAC", "TXT"), bad + "\xE2\x82\xAC");  // not in the code page
  EXPECT_EQ(refusal("ONE     .TXT", "NEW", "T;X"),
            "The extension contains a character a short name cannot hold: ;");
  EXPECT_EQ(refusal("ONE     .TXT", "NEW", "T X"),
            "The extension has a space before another character: a short name may only end in "
            "spaces.");
  EXPECT_EQ(refusal("ONE     .TXT", " NEW", "TXT"),
            "The name has a space before another character: a short name may only end in spaces.");
  EXPECT_EQ(refusal("ONE     .TXT", "", "TXT"), "The name is empty.");
  EXPECT_EQ(refusal("ONE     .TXT", "   ", ""), "The name is empty.");
  EXPECT_EQ(refusal("ONE     .TXT", ".", ""), "The names . and .. belong to a folder's own entries.");
  EXPECT_EQ(refusal("ONE     .TXT", "..", ""), "The names . and .. belong to a folder's own entries.");
  // Sigma is the code page's 0xE5: as a first byte it would delete the file.
  EXPECT_EQ(refusal("ONE     .TXT", "\xCF\x83" "B", "TXT"),
            "The name cannot begin with \xCF\x83: its byte (0xE5) marks a deleted entry.");
  EXPECT_EQ(refusal("ONE     .TXT", "TWO", "TXT"),
            "Another entry of this directory is already named TWO.TXT");
  EXPECT_EQ(refusal("ONE     .TXT", "two", "txt"),
            "Another entry of this directory is already named two.txt");
  const int gone = rig.RowNamed("\xE5ONE    .TXT");
  ASSERT_GE(gone, 0);
  rig.Show(root);
  rig.pane.Select({gone});
  rig.prompt.Clear();
  EXPECT_TRUE(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed("GONE", "TXT")).refused);
  EXPECT_EQ(rig.prompt.Messages(),
            Texts({"The entry is still deleted: undelete it before giving it a name."}));
  EXPECT_TRUE(rig.Bytes() == image);

  // An entry keeps its own name without a refusal.
  rig.Show(root);
  rig.Select({"ONE     .TXT"});
  rig.prompt.Clear();
  EXPECT_TRUE(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed("ONE", "TXT")).written);
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_TRUE(rig.Bytes() == image);
}

TEST(RenameAfterRecovery, AcceptedNamesLeaveTheVolumeClean) {
  TempDir dir;
  for (const int bits : {12, 16, 32}) {
    SCOPED_TRACE(bits);
    FatVolume v = MakeFatImage(dir.File("v" + std::to_string(bits) + ".img"), bits,
                               bits == 32 ? 69632 : bits == 16 ? 20480 : 4000, "-s 1");
    ASSERT_TRUE(v.MakeDir("::/DOCS"));
    ASSERT_TRUE(v.PutFile("::/DOCS/A rather long file name.txt", "long"));
    ASSERT_TRUE(v.PutFile("::/DOCS/SHORT.TXT", "short"));
    ASSERT_TRUE(v.PutFile("::/Top level long name.doc", "top"));
    RecoveryRig rig(ReadFileBytes(v.image));
    const DrivePacket root = rig.RootNode(bits == 12   ? FatWidth::Fat12
                                              : bits == 16 ? FatWidth::Fat16
                                                           : FatWidth::Fat32);
    auto rename = [&](const std::string& row, const std::string& name, const std::string& ext) {
      rig.Select({row});
      rig.prompt.Clear();
      const RenameResult r = RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), Typed(name, ext));
      EXPECT_TRUE(r.written) << name;
      EXPECT_TRUE(rig.prompt.Messages().empty()) << rig.prompt.Messages()[0];
    };
    rig.Show(root);
    // The short name mtools made for the long one, whatever it is.
    std::string topRow;
    for (size_t r = 0; r < rig.pane.rows.size(); ++r) {
      const std::string n = rig.pane.rowStore[rig.pane.rows[r].value].dosName;
      if (n.substr(9) == "DOC") topRow = n;
    }
    ASSERT_FALSE(topRow.empty());
    rename(topRow, "TOP\xCF\x83", "doc");  // lower case and sigma after the first byte
    rig.Show(root);
    const uint32_t docs =
        rig.pane.rowStore[static_cast<size_t>(rig.RowNamed("DOCS    .   "))].firstCluster;
    rig.Show(rig.FolderNode(root.fatType, docs));
    std::string longRow;
    for (size_t r = 0; r < rig.pane.rows.size(); ++r) {
      const std::string n = rig.pane.rowStore[rig.pane.rows[r].value].dosName;
      if (n[0] == 'A') longRow = n;
    }
    ASSERT_FALSE(longRow.empty());
    rename(longRow, "LONGONE", "TXT");
    rig.Show(rig.FolderNode(root.fatType, docs));
    rename("SHORT   .TXT", "short2", "");
    ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
    std::string report;
    EXPECT_TRUE(v.Check(&report)) << report;
    // The long names stay, now over the new short names.
    const std::string list = v.ListAll();
    EXPECT_NE(list.find("::/DOCS/A rather long file name.txt"), std::string::npos) << list;
    EXPECT_NE(list.find("::/Top level long name.doc"), std::string::npos) << list;
    EXPECT_NE(list.find("::/DOCS/short2"), std::string::npos) << list;
    EXPECT_EQ(v.ReadFile("::/DOCS/A rather long file name.txt"),
              std::vector<uint8_t>({'l', 'o', 'n', 'g'}));
  }
}

// The check the dialog is given refuses, with the core's own words, what the
// rename would refuse, so the dialog can keep the name for correction.
struct DialogCheckCase {
  const char* name;
  const char* extension;
  const char* refusal;  // "" for a name that may be stored
};

class RenameDialogCheck : public ::testing::TestWithParam<DialogCheckCase> {};

TEST_P(RenameDialogCheck, RefusesWhatTheRenameWould) {
  const DialogCheckCase& c = GetParam();
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {Live("KEEP    TXT", 3, 1), Live("!EADME  TXT", 7, 1)});
  v.SetFatAll(3, 0xFFF);
  v.SetFatAll(7, 0xFFF);
  RecoveryRig rig(v.bytes);
  rig.Show(rig.RootNode(FatWidth::Fat12));
  rig.pane.Select({1});
  std::optional<std::string> said;
  const RenameResult result = RenameAfterRecovery(
      rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(),
      [&](ShortNameInput&, const ShortNameCheck& check) {
        said = check({c.name, c.extension});
        return false;
      });
  EXPECT_FALSE(result.written);
  EXPECT_EQ(said.value_or(""), c.refusal) << c.name << "." << c.extension;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RenameDialogCheck,
    ::testing::Values(DialogCheckCase{"README", "TXT", ""},
                      DialogCheckCase{"!EADME", "TXT", ""},  // its own name
                      DialogCheckCase{"KEEP", "", ""},
                      DialogCheckCase{"keep", "txt", "Another entry of this directory is already named keep.txt"},
                      DialogCheckCase{"A*B", "", "The name contains a character a short name cannot hold: *"},
                      DialogCheckCase{"", "TXT", "The name is empty."}),
    [](const ::testing::TestParamInfo<DialogCheckCase>& i) {
      return (*i.param.refusal ? "refused" : "taken") + std::to_string(i.index);
    });

}  // namespace
