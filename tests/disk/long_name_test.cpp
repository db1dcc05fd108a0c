// Long names from the long-name pieces in front of a short entry, and short
// names as readable text.
#include "disk/long_name.h"

#include <gtest/gtest.h>

#include "views/dir_entry_builder.h"

namespace {

std::string Assemble(const std::vector<uint8_t>& dir, size_t index, size_t* count = nullptr) {
  std::string text = "stale";
  const size_t n = AssembleLongName(dir, index, text);
  if (count) *count = n;
  return text;
}

const EntryBytes kShort = ShortEntry({"REPORT  DOC"});
const std::u16string kThirty = u"The quarterly report 2001.docx";  // 30 characters: 3 pieces

TEST(LongName, AssemblesThePiecesInFrontOfTheShortEntry) {
  size_t n = 0;
  // One piece, ten characters and the zero.
  std::vector<uint8_t> dir = Join({LongNamePiece(0x41, u"Report.doc"), kShort});
  EXPECT_EQ(Assemble(dir, 1, &n), "Report.doc");
  EXPECT_EQ(n, 10u);

  dir = Join(NamedEntry(kThirty, kShort));
  ASSERT_EQ(dir.size(), 4 * kDirEntrySize);
  EXPECT_EQ(Assemble(dir, 3, &n), "The quarterly report 2001.docx");
  EXPECT_EQ(n, 30u);

  // Exactly 13 characters: no zero, no padding.
  dir = Join(NamedEntry(u"Thirteen char", kShort));
  EXPECT_EQ(Assemble(dir, 1), "Thirteen char");

  // A deleted name's pieces all carry 0xE5 (which has bit 0x40): they are
  // no live name's, and FindDeletedLongName gathers them whole.
  std::vector<EntryBytes> deleted = NamedEntry(kThirty, kShort);
  for (auto& e : deleted) e[0] = 0xE5;
  EXPECT_EQ(Assemble(Join(deleted), 3), "");
  const std::optional<DeletedLongName> found = FindDeletedLongName(Join(deleted), 3);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->text, "The quarterly report 2001.docx");

  // Ordinals are not checked for sequence: the walk ends at bit 0x40.
  dir = Join({LongNamePiece(0x41, u"!"), LongNamePiece(0x07, u"0123456789abc"),
              LongNamePiece(0x01, u"ABCDEFGHIJKLM"), kShort});
  EXPECT_EQ(Assemble(dir, 3), "ABCDEFGHIJKLM0123456789abc!");
}

TEST(LongName, CharactersBeyondAsciiBecomeUtf8) {
  auto one = [](const std::u16string& s) { return Assemble(Join({LongNamePiece(0x41, s), kShort}), 1); };
  EXPECT_EQ(one(u"Caf\u00E9.txt"), "Caf\xC3\xA9.txt");
  EXPECT_EQ(one(u"\u00FF"), "\xC3\xBF");
  EXPECT_EQ(one(u"\u65E5\u672C.doc"), "\xE6\x97\xA5\xE6\x9C\xAC.doc");
  EXPECT_EQ(one(u"\U0001F600"), "\xF0\x9F\x98\x80");  // a surrogate pair
  // Lone surrogates, and a pair split by another character.
  EXPECT_EQ(one(std::u16string{0xD83D, u'x', 0xDE00}), "\xEF\xBF\xBDx\xEF\xBF\xBD");
  // A pair split across two pieces still makes one character.
  std::u16string name(12, u'a');
  name += std::u16string{0xD83D, 0xDE00};
  EXPECT_EQ(Assemble(Join(NamedEntry(name, kShort)), 2), std::string(12, 'a') + "\xF0\x9F\x98\x80");
}

TEST(LongName, NoNameWithoutLongNameEntriesInFront) {
  size_t n = 99;
  const std::vector<uint8_t> dir = Join({LongNamePiece(0x41, u"Report.doc"), kShort, kShort});
  EXPECT_EQ(Assemble(dir, 0, &n), "");  // the first entry: nothing before it
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Assemble(dir, 2, &n), "");  // a short entry in front
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Assemble(dir, 3, &n), "");  // past the buffer
  EXPECT_EQ(n, 0u);
  // A name whose first character is the zero is no name (the short name serves).
  EXPECT_EQ(Assemble(Join({LongNamePiece(0x41, u""), kShort}), 1, &n), "");
  EXPECT_EQ(n, 0u);
}

TEST(LongName, DamagedSequencesStayInsideTheBuffer) {
  // Pieces 1 and 2 without their last piece, and in front of them a piece
  // with bit 0x40 that lies outside the span handed over.
  const std::vector<uint8_t> whole = Join({LongNamePiece(0x43, u"XYZ"), LongNamePiece(0x02, u"0123456789abc"),
                                           LongNamePiece(0x01, u"ABCDEFGHIJKLM"), kShort});
  EXPECT_EQ(Assemble(whole, 3), "ABCDEFGHIJKLM0123456789abcXYZ");
  std::string text;
  const size_t n = AssembleLongName(std::span<const uint8_t>(whole).subspan(kDirEntrySize), 2, text);
  EXPECT_EQ(text, "ABCDEFGHIJKLM0123456789abc");  // the start of the name, nothing before the span
  EXPECT_EQ(n, 26u);
  // The same pieces at the very start of their own block (ASan watches it).
  const std::vector<uint8_t> exact(whole.begin() + kDirEntrySize, whole.end());
  EXPECT_EQ(Assemble(exact, 2), "ABCDEFGHIJKLM0123456789abc");

  // Another file's short entry in front ends the name; its bytes never join it.
  const std::vector<uint8_t> afterShort =
      Join({ShortEntry({"OTHER   TXT"}), LongNamePiece(0x02, u"0123456789abc"), LongNamePiece(0x01, u"ABCDEFGHIJKLM"),
            kShort});
  EXPECT_EQ(Assemble(afterShort, 3), "ABCDEFGHIJKLM0123456789abc");

  // 0xFFFF before any zero ends the name.
  std::vector<uint8_t> padded = Join({LongNamePiece(0x41, u"ab"), kShort});
  putLe16(padded, kLfnCharOffsets[2], 0xFFFF);
  EXPECT_EQ(Assemble(padded, 1), "ab");

  // Pieces without a last mark: no more than a name can hold (20 pieces).
  std::vector<EntryBytes> endless(25, LongNamePiece(0x01, u"0123456789abc"));
  endless.push_back(kShort);
  const std::string name = Assemble(Join(endless), 25);
  EXPECT_EQ(name.size(), 260u);
  EXPECT_EQ(name.substr(247), "0123456789abc");
}

TEST(LongName, ShortNamesReadThroughCodePage437) {
  EXPECT_EQ(OemNameToUtf8("README  .TXT"), "README  .TXT");
  EXPECT_EQ(OemNameToUtf8("CAF\x90" "AU~1.TXT"), "CAF\xC3\x89" "AU~1.TXT");  // 0x90 is É
  EXPECT_EQ(OemNameToUtf8("\xE5" "ELETE~1"), "\xCF\x83" "ELETE~1");        // 0xE5 is σ
  EXPECT_EQ(OemNameToUtf8("\x80\xFF"), "\xC3\x87\xC2\xA0");
  EXPECT_EQ(OemNameToUtf8(std::string_view("\x05" "A", 2)), std::string("\x05" "A"));
}

}  // namespace
