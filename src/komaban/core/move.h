#ifndef KOMABAN_CORE_MOVE_H
#define KOMABAN_CORE_MOVE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "komaban/core/types.h"

namespace komaban {

// A move in 16 bits, from the least significant bit:
//
//   bits  0-6   board move: from-square index
//               drop: bits 0-5 the dropped kind, bit 6 its owner (0 Black, 1 White)
//   bits  7-13  to-square index
//   bit  14     promote on arrival (never set by a generated drop)
//   bit  15     drop
//
// The value 0 is a board move from index 0 to index 0.
using Move = std::uint16_t;

constexpr Move DROP_FLAG = 0x8000;
constexpr Move PROMOTE_FLAG = 0x4000;
constexpr int TO_SHIFT = 7;
constexpr int OWNER_SHIFT = 6;

constexpr Move make_board_move(Square from, Square to, bool promote = false) {
  return Move((to << TO_SHIFT) | from | (promote ? PROMOTE_FLAG : 0));
}
// The owner byte is shifted within 8 bits, the to index is not masked to 7
// bits: values off the grid spill into the neighbouring fields.
constexpr Move make_drop(Square to, Color owner, PieceType kind) {
  return Move(DROP_FLAG | (to << TO_SHIFT) | std::uint8_t(color_byte(owner) << OWNER_SHIFT) |
              index(kind));
}

constexpr bool is_drop(Move m) { return m & DROP_FLAG; }
constexpr bool is_promote(Move m) { return m & PROMOTE_FLAG; }
constexpr Square from_square(Move m) { return Square(m & 0x7f); }
constexpr Square to_square(Move m) { return Square((m >> TO_SHIFT) & 0x7f); }
constexpr int dropped_kind_code(Move m) { return m & 0x3f; }
constexpr Color dropped_owner(Move m) { return Color((m >> OWNER_SHIFT) & 1); }

// The piece a drop carries; decoded the same way for board moves.
constexpr Piece move_piece(Move m) {
  const int code = dropped_kind_code(m);
  return {dropped_owner(m), code >= 1 && code < PIECE_TYPE_NB ? PieceType(code) : PieceType::None};
}

// "7c7d", "7c7d+", "P*5e".
std::string move_text(Move m);

// Reads move text. Throws Panic for texts shorter than 4 bytes or whose
// byte 2 is inside a character; anything longer is read leniently.
Move read_move_text(std::string_view text);

}  // namespace komaban

#endif
