// The decoded views of a GPT disk whose primary header's CRC was overwritten:
// the primary header with what its CRC should be, the backup's entries, and
// the protective MBR, text for text.
#include "views/gpt_views.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "fixtures/image_sectors.h"

namespace {

using Texts = std::vector<std::string>;

Texts Titles(const DecodedView& v) {
  Texts t;
  for (const ListColumn& c : v.columns) t.push_back(c.title);
  return t;
}

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

TEST(GptViews, HeaderEntriesAndProtectiveMbr) {
  TempDir dir;
  const std::string image = dir.File("gpt.img");
  ASSERT_TRUE(PartitionImage(
      image, 131072,
      "label: gpt\nlabel-id: 3C18270A-A600-A34A-B56B-0CAFE74B340D\n"
      "start=2048, size=16384, type=U, uuid=3F3EB517-DB8A-6248-95E8-416E71A6B283, name=\"EFI system partition\"\n"
      "size=32768, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, uuid=3112AC93-5A22-684D-BE0E-66CA3D601B68\n"
      "type=5D1B6A9C-0000-4000-8000-000000000001, uuid=1CBD1782-41AF-B045-8C5E-47812C8810EE, "
      "name=\"root\", attrs=\"RequiredPartition LegacyBIOSBootable\"\n"));
  std::vector<uint8_t> header = ReadImageSectors(image, 1);
  const uint32_t crc = le32(header, 16), arrayCrc = le32(header, 88);
  putLe32(header, 16, 0x12345678);
  WriteImageSectors(image, 1, header);

  const GptTable table = ReadGpt(ImageSectors(image), ImageReader(image));
  ASSERT_EQ(table.source, GptSource::Backup);
  const DecodedView primary = GptHeaderView(table.primary);
  EXPECT_EQ(Titles(primary), (Texts{"Field", "Value"}));
  EXPECT_EQ(primary.rows, (std::vector<Texts>{
                              {"Signature", "EFI PART"},
                              {"Revision", "1.0"},
                              {"Header Size", "92"},
                              {"Header CRC32", "0x12345678 (should be " + Hex(crc) + ")"},
                              {"Header LBA", "1"},
                              {"Other Header LBA", "131071"},
                              {"First Usable LBA", "2048"},
                              {"Last Usable LBA", "131038"},
                              {"Disk GUID", "3C18270A-A600-A34A-B56B-0CAFE74B340D"},
                              {"Partition Entries LBA", "2"},
                              {"Number of Partition Entries", "128"},
                              {"Size of Partition Entry", "128"},
                              {"Partition Entries CRC32", Hex(arrayCrc)},
                              {"Problem", "Header CRC32 wrong"},
                          }));
  // The backup's array is checked: its CRC stands alone.
  const DecodedView backup = GptHeaderView(table.backup);
  EXPECT_EQ(backup.rows[4], (Texts{"Header LBA", "131071"}));
  EXPECT_EQ(backup.rows[9], (Texts{"Partition Entries LBA", "131039"}));
  EXPECT_EQ(backup.rows.back(), (Texts{"Partition Entries CRC32", Hex(arrayCrc)}));

  const DecodedView entries = GptEntriesView(table.backup);
  EXPECT_EQ(Titles(entries), (Texts{"Entry", "Type", "Type GUID", "Unique GUID", "First LBA", "Last LBA",
                                    "Sectors", "Attributes", "Name", "Problem"}));
  EXPECT_EQ(entries.rows,
            (std::vector<Texts>{
                {"1", "EFI System", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "3F3EB517-DB8A-6248-95E8-416E71A6B283",
                 "2048", "18431", "16384", "0x0000000000000000", "EFI system partition", ""},
                {"2", "Microsoft basic data", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7",
                 "3112AC93-5A22-684D-BE0E-66CA3D601B68", "18432", "51199", "32768", "0x0000000000000000", "", ""},
                {"3", "Unknown", "5D1B6A9C-0000-4000-8000-000000000001", "1CBD1782-41AF-B045-8C5E-47812C8810EE",
                 "51200", "129023", "77824", "0x0000000000000005 (Required, Legacy BIOS bootable)", "root", ""},
            }));

  const DecodedView mbr = MbrEntriesView(ReadImageSectors(image, 0));
  EXPECT_EQ(Titles(mbr), (Texts{"Partition", "Field", "Value"}));
  ASSERT_EQ(mbr.rows.size(), 40u);
  EXPECT_EQ(mbr.rows[0], (Texts{"1", "Boot Indicator", "Non-Bootable"}));
  EXPECT_EQ(mbr.rows[4], (Texts{"", "System Indicator", "238"}));
  EXPECT_EQ(mbr.rows[8], (Texts{"", "Number of Sectors", "131071"}));
  EXPECT_EQ(mbr.rows[9], (Texts{"", "Relative Sectors", "1"}));
  EXPECT_EQ(mbr.rows[14], (Texts{"", "System Indicator", "0"}));
}

}  // namespace
