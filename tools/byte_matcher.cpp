#include "tools/byte_matcher.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define GLEANER_X86 1
#endif

namespace {

// Candidate test at one start: first and last byte agree, then the middle.
inline bool MatchesAt(const uint8_t* at, const uint8_t* pattern, size_t length) {
  return at[0] == pattern[0] && at[length - 1] == pattern[length - 1] &&
         (length <= 2 || std::memcmp(at + 1, pattern + 1, length - 2) == 0);
}

// Starts [from, to) one at a time; the tails the wide loops leave.
size_t Scalar(const uint8_t* block, size_t from, size_t to, const uint8_t* pattern, size_t length) {
  for (size_t h = from; h < to; ++h) {
    // memchr finds the next first byte fast where the first byte is rare.
    const void* next = std::memchr(block + h, pattern[0], to - h);
    if (next == nullptr) return kNoMatch;
    h = static_cast<size_t>(static_cast<const uint8_t*>(next) - block);
    if (MatchesAt(block + h, pattern, length)) return h;
  }
  return kNoMatch;
}

#ifdef GLEANER_X86

// The lowest candidate of a step that holds the whole pattern: a set bit i of
// mask says the first and last byte agree at start h + i; the middle decides.
template <typename Mask>
size_t FirstCandidate(const uint8_t* block, size_t h, Mask mask, const uint8_t* pattern,
                      size_t length) {
  while (mask != 0) {
    const size_t at = h + static_cast<size_t>(std::countr_zero(mask));
    if (length <= 2 || std::memcmp(block + at + 1, pattern + 1, length - 2) == 0) return at;
    mask &= mask - 1;
  }
  return kNoMatch;
}

// 16 starts a step: lanes where the first byte and the last byte both agree
// are candidates; each is checked in order, so the first found is the lowest.
size_t Sse2(const uint8_t* block, size_t starts, const uint8_t* pattern, size_t length, size_t& done) {
  const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
  const __m128i last = _mm_set1_epi8(static_cast<char>(pattern[length - 1]));
  size_t h = 0;
  for (; h + 16 <= starts; h += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + h));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + h + length - 1));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    if (const size_t at = FirstCandidate(block, h, mask, pattern, length); at != kNoMatch) return at;
  }
  done = h;
  return kNoMatch;
}

// The same, 32 starts a step, where the processor has AVX2.
__attribute__((target("avx2"))) size_t Avx2(const uint8_t* block, size_t starts,
                                            const uint8_t* pattern, size_t length, size_t& done) {
  const __m256i first = _mm256_set1_epi8(static_cast<char>(pattern[0]));
  const __m256i last = _mm256_set1_epi8(static_cast<char>(pattern[length - 1]));
  size_t h = 0;
  // Two steps at a time while there is room: one test of both masks keeps the
  // loop short on blocks without candidates.
  for (; h + 64 <= starts; h += 64) {
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + h));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + h + length - 1));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + h + 32));
    const __m256i b1 =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + h + 32 + length - 1));
    const __m256i m0 = _mm256_and_si256(_mm256_cmpeq_epi8(a0, first), _mm256_cmpeq_epi8(b0, last));
    const __m256i m1 = _mm256_and_si256(_mm256_cmpeq_epi8(a1, first), _mm256_cmpeq_epi8(b1, last));
    if (_mm256_testz_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m0, m1))) continue;
    uint64_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(m0)) |
                    (uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(m1))} << 32);
    if (const size_t at = FirstCandidate(block, h, mask, pattern, length); at != kNoMatch) return at;
  }
  for (; h + 32 <= starts; h += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + h));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + h + length - 1));
    auto mask = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
    if (const size_t at = FirstCandidate(block, h, mask, pattern, length); at != kNoMatch) return at;
  }
  done = h;
  return kNoMatch;
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

#endif

}  // namespace

size_t FindPattern(std::span<const uint8_t> block, size_t starts, std::span<const uint8_t> pattern) {
  const size_t length = pattern.size();
  if (length == 0 || block.size() < length) return kNoMatch;
  // Only starts whose whole pattern lies inside the block can be compared.
  if (starts > block.size() - length + 1) starts = block.size() - length + 1;
  const uint8_t* b = block.data();
  const uint8_t* p = pattern.data();
  if (length == 1) {
    const void* at = std::memchr(b, p[0], starts);
    return at == nullptr ? kNoMatch : static_cast<size_t>(static_cast<const uint8_t*>(at) - b);
  }
  size_t done = 0;
#ifdef GLEANER_X86
  // The wide loops read up to start + length - 1 + vector width - 1; every
  // start they take leaves a whole vector inside the block.
  const size_t hit = HaveAvx2() ? Avx2(b, starts, p, length, done) : Sse2(b, starts, p, length, done);
  if (hit != kNoMatch) return hit;
#endif
  return Scalar(b, done, starts, p, length);
}
