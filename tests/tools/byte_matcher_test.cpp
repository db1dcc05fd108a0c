// The matcher finds what a scan for the first byte with a compare at each
// candidate finds, wherever the candidates lie and however many there are.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tools/byte_matcher.h"

namespace {

// The plain scan the matcher must agree with.
size_t FirstByteScan(const std::vector<uint8_t>& block, size_t starts, const std::vector<uint8_t>& pattern) {
  for (size_t h = 0; h < starts && h + pattern.size() <= block.size(); ++h)
    if (block[h] == pattern[0] && std::memcmp(&block[h + 1], &pattern[1], pattern.size() - 1) == 0) return h;
  return kNoMatch;
}

TEST(ByteMatcher, AgreesWithTheFirstByteScanOnCrowdedData) {
  std::mt19937 random(1234);
  // Small alphabets put a candidate at almost every byte and partial matches
  // across the wide loops' lanes and steps.
  for (int round = 0; round < 3000; ++round) {
    const unsigned alphabet = 1 + random() % 4;
    const size_t length = 1 + random() % 20;
    const size_t starts = random() % 300;
    std::vector<uint8_t> block(starts + length - 1 + random() % 3);
    for (auto& b : block) b = static_cast<uint8_t>(random() % alphabet);
    std::vector<uint8_t> pattern(length);
    for (auto& b : pattern) b = static_cast<uint8_t>(random() % alphabet);
    ASSERT_EQ(FindPattern(block, starts, pattern), FirstByteScan(block, starts, pattern))
        << "round " << round << " length " << length << " starts " << starts;
  }
}

TEST(ByteMatcher, ZerosSearchedForZeroOneAndTheEdgesOfTheStarts) {
  const std::vector<uint8_t> zeroOne = {0x00, 0x01};
  std::vector<uint8_t> block(51200 + 128, 0);
  EXPECT_EQ(FindPattern(block, 50688, zeroOne), kNoMatch);
  // The last start, with the pattern's rest past the starts.
  block[50688] = 0x01;
  EXPECT_EQ(FindPattern(block, 50688, zeroOne), 50687u);
  // A pattern beginning after the last start is not taken.
  EXPECT_EQ(FindPattern(block, 50687, zeroOne), kNoMatch);
  // The lowest of several.
  block[100] = 0x01;
  EXPECT_EQ(FindPattern(block, 50688, zeroOne), 99u);
  // One byte; an empty pattern; a block shorter than the pattern.
  EXPECT_EQ(FindPattern(block, 50688, std::vector<uint8_t>{0x01}), 100u);
  EXPECT_EQ(FindPattern(block, 50688, std::vector<uint8_t>{}), kNoMatch);
  EXPECT_EQ(FindPattern(std::vector<uint8_t>{0x00}, 1, zeroOne), kNoMatch);
  // Starts past the block are cut to those whose pattern fits.
  EXPECT_EQ(FindPattern(std::vector<uint8_t>{0x41, 0x00, 0x01}, 100, zeroOne), 1u);
}

}  // namespace
