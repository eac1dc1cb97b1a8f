// The input of the fuzz targets that work on positions: a text up to the
// first NUL byte, read as a position by the lenient reader (so that seeds
// can be written as position text), then bytes read front to back that edit
// it the ways Python can and steer the target. Every byte string is a valid
// input; a tail that runs out reads as zeros.

#ifndef KOMABAN_TESTS_FUZZ_INPUT_H
#define KOMABAN_TESTS_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "komaban/core/game.h"
#include "komaban/core/panic.h"
#include "komaban/core/position.h"
#include "komaban/core/sfen.h"

namespace komaban::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) {
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t text_size = nul ? std::size_t(nul - data) : size;
    text_ = {reinterpret_cast<const char*>(data), text_size};
    tail_ = data + text_size + (nul ? 1 : 0);
    end_ = data + size;
  }

  std::string_view text() const { return text_; }
  bool exhausted() const { return tail_ == end_; }
  std::uint8_t byte() { return tail_ == end_ ? 0 : *tail_++; }
  std::uint16_t word() { return std::uint16_t(byte() | byte() << 8); }
  std::uint64_t quad() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= std::uint64_t(byte()) << (8 * i);
    return v;
  }

 private:
  std::string_view text_;
  const std::uint8_t* tail_;
  const std::uint8_t* end_;
};

// Black, White, None, ColorNumber: every colour value Python can pass.
inline Color color_of(std::uint8_t v) {
  constexpr Color COLORS[] = {Color::Black, Color::White, Color::None, Color::ColorNumber};
  return COLORS[v & 3];
}

// The position of the input. Its text is read as a position (the empty one
// when the hand field fails); then an edits byte: bits 0-3 the number of
// pieces placed (index byte, any of 256; kind byte mod 15; colour byte), bit
// 4 all sixteen hand counts set from bytes, bit 5 one hand label replaced
// (slot, owner, kind), as Python's deploy, counts and pieces allow.
inline Board position(Input& in) {
  Board b;
  try {
    b = read_position(in.text());
  } catch (const Panic&) {
    b = Board{};
  }
  const std::uint8_t edits = in.byte();
  for (int n = edits & 15; n > 0; --n) {
    const Square s = in.byte();
    const auto kind = PieceType(in.byte() % PIECE_TYPE_NB);
    place_piece(b, s, kind, color_of(in.byte()));
  }
  if (edits & 16)
    for (auto& count : b.hand.counts) count = in.byte();
  if (edits & 32) {
    const int slot = in.byte() & 15;
    const Color owner = color_of(in.byte());
    b.hand.pieces[slot] = {owner, PieceType(in.byte() % PIECE_TYPE_NB)};
  }
  return b;
}

// A game of the input: its position, then a byte for the side to move.
inline Game game(Input& in) {
  Game g;
  g.board = position(in);
  g.turn = color_of(in.byte());
  return g;
}

}  // namespace komaban::fuzz

#endif
