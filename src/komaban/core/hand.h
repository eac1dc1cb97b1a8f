#ifndef KOMABAN_CORE_HAND_H
#define KOMABAN_CORE_HAND_H

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "komaban/core/panic.h"
#include "komaban/core/types.h"

namespace komaban {

// Pieces in hand of both players: sixteen labels and sixteen 8-bit counters.
// Slot = colour * 8 + kind - 1 (Black King 0 ... White Pawn 15); kind None
// always uses slot 0. Labels are never consulted by the counting operations.
struct Hand {
  static constexpr int SIZE = 16;

  std::array<Piece, SIZE> pieces = fresh_labels();
  std::array<std::uint8_t, SIZE> counts{};

  bool operator==(const Hand&) const = default;

  // The slot of (colour, kind), formed in 16-bit arithmetic from the signed
  // colour, so colour None lands near 65535. Fails when it is out of range.
  static std::size_t slot(Color c, PieceType k) {
    if (k == PieceType::None) return 0;
    const std::uint16_t s = std::uint16_t(int(c) * 8 + int(k) - 1);
    if (s >= SIZE) panic_index_out_of_bounds(SIZE, s);
    return s;
  }

  // Counters wrap modulo 256.
  void add(Color c, PieceType k, std::uint8_t n = 1) { add_to_slot(slot(c, k), n); }
  void add_to_slot(std::size_t s, std::uint8_t n) { counts[s] = std::uint8_t(counts[s] + n); }
  // Never goes below 0.
  void decrease(Color c, PieceType k) { decrease_slot(slot(c, k)); }
  void decrease_slot(std::size_t s) { counts[s] = std::uint8_t(counts[s] - (counts[s] != 0)); }

  // Calls f(label) for each kind held (King .. Pawn, slot order) by colour
  // c. Fails, as the slot rule does, for a colour other than Black and White.
  // The eight counters are read at once and only the held ones visited.
  template <class F>
  void for_each_held(Color c, F&& f) const {
    const std::size_t first = slot(c, PieceType::King);
    std::uint64_t eight;
    std::memcpy(&eight, counts.data() + first, sizeof eight);
    // The top bit of each byte: set when the byte is not zero.
    constexpr std::uint64_t LOW7 = 0x7f7f7f7f7f7f7f7fULL;
    std::uint64_t held = (((eight & LOW7) + LOW7) | eight) & ~LOW7;
    for (; held; held &= held - 1) f(pieces[first + std::size_t(std::countr_zero(held)) / 8]);
  }

  // The same labels as a list.
  struct Held {
    std::array<Piece, 8> pieces;
    int size = 0;
    const Piece* begin() const { return pieces.data(); }
    const Piece* end() const { return pieces.data() + size; }
  };
  Held player_pieces(Color c) const {
    Held held;
    for_each_held(c, [&](const Piece& label) { held.pieces[held.size++] = label; });
    return held;
  }

  std::string to_string() const;

 private:
  static constexpr std::array<Piece, SIZE> fresh_labels() {
    std::array<Piece, SIZE> labels{};
    for (int s = 0; s < SIZE; ++s) labels[s] = Piece{Color(s / 8), PieceType(s % 8 + 1)};
    return labels;
  }
};

}  // namespace komaban

#endif
