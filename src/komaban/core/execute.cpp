#include "komaban/core/execute.h"

namespace komaban {

void move_to_hand(Board& b, Square t) {
  const PieceType kind = piece_type_at(b, t);
  const PieceType base = demote(kind);
  const Bitboard m = square_bb(t);
  const bool black = any(b.color_boards[0] & m);
  b.occupied &= ~m;
  set_color_boards(b, m, Color::None);
  replace_piece_board(b, m, kind, PieceType::None);
  const Color receiver = black ? Color::White : Color::Black;
  b.hand.add_to_slot(base == PieceType::None ? 0 : Hand::slot(receiver, base), 1);
}

namespace {

// The board move's second half, after any capture: lifts whatever stands on
// from (kind is the kind found there) and places it on to with its colour.
void lift_and_place(Board& b, Square from, Square to, PieceType kind, bool promote_flag) {
  const Bitboard from_bb = square_bb(from);
  const Bitboard to_bb = square_bb(to);
  const bool was_occupied = any(b.occupied & from_bb);
  const bool was_black = any(b.color_boards[0] & from_bb);
  set_color_boards(b, from_bb, Color::None);
  replace_piece_board(b, from_bb, kind, PieceType::None);
  b.occupied = (b.occupied & ~from_bb) | to_bb;
  set_color_boards(b, to_bb, was_black ? Color::Black : was_occupied ? Color::White : Color::None);
  const PieceType arriving = promote_flag && is_promotable(kind) ? promote(kind) : kind;
  replace_piece_board(b, to_bb, piece_type_at(b, to), arriving);
}

}  // namespace

void execute_move(Board& b, Move move) {
  const Square to = to_square(move);
  const Bitboard to_bb = square_bb(to);
  if (any(b.occupied & to_bb)) move_to_hand(b, to);

  if (is_drop(move)) {
    const int code = dropped_kind_code(move);
    const Color owner = dropped_owner(move);
    const bool has_kind = code >= 1 && code < PIECE_TYPE_NB;
    const auto slot = std::uint16_t(has_kind ? code + 8 * index(owner) - 1 : 0);
    if (slot >= Hand::SIZE) panic_index_out_of_bounds(Hand::SIZE, slot);
    b.hand.decrease_slot(slot);
    b.occupied |= to_bb;
    set_color_boards(b, to_bb, owner);
    replace_piece_board(b, to_bb, piece_type_at(b, to),
                        has_kind ? PieceType(code) : PieceType::None);
    return;
  }

  lift_and_place(b, from_square(move), to, piece_type_at(b, from_square(move)), is_promote(move));
}

void execute_board_move(Board& b, Move move, PieceType kind, Color c) {
  const Square to = to_square(move);
  const Bitboard from_bb = square_bb(from_square(move));
  const Bitboard to_bb = square_bb(to);
  if (any(b.occupied & to_bb)) move_to_hand(b, to);
  // A playing square without a piece is in the empty board and no other, so
  // after the capture the to square is known to read as empty.
  const int mover = index(c);
  b.occupied = (b.occupied & ~from_bb) | to_bb;
  b.color_boards[mover] = (b.color_boards[mover] & ~from_bb) | to_bb;
  replace_piece_board(b, from_bb, kind, PieceType::None);
  const PieceType arriving = is_promote(move) && is_promotable(kind) ? promote(kind) : kind;
  replace_piece_board(b, to_bb, PieceType::None, arriving);
}

}  // namespace komaban
