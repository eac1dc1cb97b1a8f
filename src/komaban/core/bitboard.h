#ifndef KOMABAN_CORE_BITBOARD_H
#define KOMABAN_CORE_BITBOARD_H

#include <array>
#include <bit>
#include <cstdint>

#include "komaban/core/types.h"

namespace komaban {

// One bit per square index: index i is bit 127 - i, so index 0 is the most
// significant bit and the lowest index of a set is found by counting leading
// zeros. Scans always run from the lowest index to the highest.
__extension__ typedef unsigned __int128 Bitboard;

constexpr Bitboard make_bitboard(std::uint64_t high, std::uint64_t low) {
  return (Bitboard(high) << 64) | low;
}
constexpr std::uint64_t high_word(Bitboard b) { return std::uint64_t(b >> 64); }
constexpr std::uint64_t low_word(Bitboard b) { return std::uint64_t(b); }

// Only the low seven bits of an index take part, so any byte names a bit.
// A table, because a variable 128-bit shift costs a branch and several words.
inline constexpr auto SQUARE_BB = [] {
  std::array<Bitboard, 128> table{};
  for (int i = 0; i < 128; ++i) table[i] = Bitboard(1) << (127 - i);
  return table;
}();
constexpr Bitboard square_bb(unsigned index) { return SQUARE_BB[index & 127]; }

constexpr bool contains(Bitboard b, unsigned index) { return (b & square_bb(index)) != 0; }

constexpr int popcount(Bitboard b) {
  return std::popcount(high_word(b)) + std::popcount(low_word(b));
}

// Lowest square index of a non-empty set. Both halves are scanned and one
// result picked by a mask, so that the choice never becomes a branch; the
// extra bit keeps each scan defined without changing a non-zero half's answer.
constexpr Square lowest_square(Bitboard b) {
  const std::uint64_t high = high_word(b);
  const unsigned in_high = unsigned(std::countl_zero(high | 1));
  const unsigned in_low = 64 + unsigned(std::countl_zero(low_word(b) | 1));
  const unsigned pick_high = 0u - unsigned(high != 0);
  return Square(in_low ^ ((in_low ^ in_high) & pick_high));
}

// Highest square index of a non-empty set.
constexpr Square highest_square(Bitboard b) {
  const std::uint64_t low = low_word(b);
  const unsigned in_low = 127 - unsigned(std::countr_zero(low | std::uint64_t(1) << 63));
  const unsigned in_high = 63 - unsigned(std::countr_zero(high_word(b) | std::uint64_t(1) << 63));
  const unsigned pick_low = 0u - unsigned(low != 0);
  return Square(in_high ^ ((in_high ^ in_low) & pick_low));
}

// Calls f(square) for every square of b, lowest index first, a 64-bit half
// at a time.
template <class F>
constexpr void for_each_square(Bitboard b, F&& f) {
  constexpr std::uint64_t TOP = std::uint64_t(1) << 63;
  for (std::uint64_t w = high_word(b); w;) {
    const int z = std::countl_zero(w);
    w ^= TOP >> z;
    f(Square(z));
  }
  for (std::uint64_t w = low_word(b); w;) {
    const int z = std::countl_zero(w);
    w ^= TOP >> z;
    f(Square(64 + z));
  }
}

}  // namespace komaban

#endif
