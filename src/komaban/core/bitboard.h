#ifndef KOMABAN_CORE_BITBOARD_H
#define KOMABAN_CORE_BITBOARD_H

#include <array>
#include <bit>
#include <concepts>
#include <cstdint>
#include <type_traits>

#include "komaban/core/types.h"

namespace komaban {

// One bit per square index: index i is bit 127 - i, so index 0 is the most
// significant bit and the lowest index of a set is found by counting leading
// zeros. Scans always run from the lowest index to the highest. The high
// 64-bit word holds indices 0 to 63, the low word 64 to 127.
//
// Bitboard is the compiler's unsigned 128-bit integer where it has one (GCC
// and Clang on 64-bit targets). Elsewhere (MSVC), or when
// KOMABAN_TWO_WORD_BITBOARD is defined to test that path, it is a pair of
// 64-bit words with the same operations and results. The core uses only
// what both offer: the bitwise operators, shifts by 0 to 127, comparison,
// construction from an integer, and the functions below in place of any
// conversion back to bool or to an integer.
#if defined(__SIZEOF_INT128__) && !defined(KOMABAN_TWO_WORD_BITBOARD)

__extension__ typedef unsigned __int128 Bitboard;

constexpr Bitboard make_bitboard(std::uint64_t high, std::uint64_t low) {
  return (Bitboard(high) << 64) | low;
}
constexpr std::uint64_t high_word(Bitboard b) { return std::uint64_t(b >> 64); }
constexpr std::uint64_t low_word(Bitboard b) { return std::uint64_t(b); }

#else

class Bitboard {
 public:
  Bitboard() = default;  // uninitialized, as an integer is
  // An integer converts as it does to a 128-bit unsigned integer: a negative
  // value fills the high word with ones.
  template <std::integral T>
  constexpr Bitboard(T value)  // NOLINT: implicit, as for an integer
      : high_(std::is_signed_v<T> && value < 0 ? ~std::uint64_t(0) : 0),
        low_(std::uint64_t(value)) {}

  static constexpr Bitboard from_words(std::uint64_t high, std::uint64_t low) {
    Bitboard b;
    b.high_ = high;
    b.low_ = low;
    return b;
  }
  friend constexpr std::uint64_t high_word(Bitboard b) { return b.high_; }
  friend constexpr std::uint64_t low_word(Bitboard b) { return b.low_; }

  friend constexpr bool operator==(Bitboard a, Bitboard b) = default;
  friend constexpr Bitboard operator~(Bitboard a) { return from_words(~a.high_, ~a.low_); }
  friend constexpr Bitboard operator&(Bitboard a, Bitboard b) {
    return from_words(a.high_ & b.high_, a.low_ & b.low_);
  }
  friend constexpr Bitboard operator|(Bitboard a, Bitboard b) {
    return from_words(a.high_ | b.high_, a.low_ | b.low_);
  }
  friend constexpr Bitboard operator^(Bitboard a, Bitboard b) {
    return from_words(a.high_ ^ b.high_, a.low_ ^ b.low_);
  }
  // Shifts by 0 to 127 bits; a larger count is as undefined as for an integer.
  friend constexpr Bitboard operator<<(Bitboard a, int n) {
    if (n >= 64) return from_words(a.low_ << (n - 64), 0);
    if (n == 0) return a;
    return from_words(a.high_ << n | a.low_ >> (64 - n), a.low_ << n);
  }
  friend constexpr Bitboard operator>>(Bitboard a, int n) {
    if (n >= 64) return from_words(0, a.high_ >> (n - 64));
    if (n == 0) return a;
    return from_words(a.high_ >> n, a.low_ >> n | a.high_ << (64 - n));
  }
  constexpr Bitboard& operator&=(Bitboard b) { return *this = *this & b; }
  constexpr Bitboard& operator|=(Bitboard b) { return *this = *this | b; }
  constexpr Bitboard& operator^=(Bitboard b) { return *this = *this ^ b; }

 private:
  std::uint64_t high_;
  std::uint64_t low_;
};

constexpr Bitboard make_bitboard(std::uint64_t high, std::uint64_t low) {
  return Bitboard::from_words(high, low);
}

#endif

// Whether the set has any square.
constexpr bool any(Bitboard b) { return (high_word(b) | low_word(b)) != 0; }

// Every bit when on is true, none otherwise: a mask chosen without a branch.
constexpr Bitboard all_if(bool on) {
  const std::uint64_t word = 0 - std::uint64_t(on);
  return make_bitboard(word, word);
}

// The 64-bit word that holds the bit of square index i (0 to 127).
constexpr std::uint64_t word_of(Bitboard b, unsigned i) {
  return i < 64 ? high_word(b) : low_word(b);
}

// Only the low seven bits of an index take part, so any byte names a bit.
// A table, because a variable 128-bit shift costs a branch and several words.
inline constexpr auto SQUARE_BB = [] {
  std::array<Bitboard, 128> table{};
  for (int i = 0; i < 128; ++i) table[i] = Bitboard(1) << (127 - i);
  return table;
}();
constexpr Bitboard square_bb(unsigned index) { return SQUARE_BB[index & 127]; }

constexpr bool contains(Bitboard b, unsigned index) { return any(b & square_bb(index)); }

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
