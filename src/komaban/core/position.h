#ifndef KOMABAN_CORE_POSITION_H
#define KOMABAN_CORE_POSITION_H

#include <array>
#include <initializer_list>

#include "komaban/core/bitboard.h"
#include "komaban/core/hand.h"
#include "komaban/core/types.h"

namespace komaban {

namespace masks {

consteval Bitboard rows(int first, int last) {
  Bitboard b = 0;
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= 9; ++c) b |= square_bb(make_square(c, r));
  return b;
}

consteval Bitboard grid() {
  Bitboard b = 0;
  for (int i = 0; i < GRID_SQUARES; ++i) b |= square_bb(i);
  return b;
}

consteval Bitboard squares(std::initializer_list<std::pair<int, int>> column_rows) {
  Bitboard b = 0;
  for (auto [c, r] : column_rows) b |= square_bb(make_square(c, r));
  return b;
}

constexpr Bitboard PLAYING = rows(1, 9);
constexpr Bitboard WALL = grid() & ~PLAYING;
constexpr std::array<Bitboard, COLOR_NB> PROMOTION_ZONE = {rows(7, 9), rows(1, 3)};
constexpr std::array<Bitboard, COLOR_NB> LAST_ROW = {rows(9, 9), rows(1, 1)};
constexpr std::array<Bitboard, COLOR_NB> LAST_TWO_ROWS = {rows(8, 9), rows(1, 2)};

// Start squares per kind and colour; White's are Black's turned half a turn.
consteval Bitboard mirror(Bitboard b) {
  Bitboard m = 0;
  for (int i = 0; i < GRID_SQUARES; ++i)
    if (contains(b, i))
      m |= square_bb(make_square(10 - column_of(Square(i)), 10 - row_of(Square(i))));
  return m;
}

constexpr std::array<Bitboard, PIECE_TYPE_NB> BLACK_START = {
    0,
    squares({{5, 1}}),
    squares({{4, 1}, {6, 1}}),
    squares({{8, 2}}),
    squares({{2, 2}}),
    squares({{3, 1}, {7, 1}}),
    squares({{2, 1}, {8, 1}}),
    squares({{1, 1}, {9, 1}}),
    rows(3, 3),
};

constexpr std::array<std::array<Bitboard, PIECE_TYPE_NB>, COLOR_NB> START = []() consteval {
  std::array<std::array<Bitboard, PIECE_TYPE_NB>, COLOR_NB> start{};
  for (int k = 0; k < PIECE_TYPE_NB; ++k) {
    start[0][k] = BLACK_START[k];
    start[1][k] = mirror(BLACK_START[k]);
  }
  return start;
}();

consteval Bitboard start_of(Color c) {
  Bitboard b = 0;
  for (Bitboard k : START[index(c)]) b |= k;
  return b;
}

}  // namespace masks

// A position: the hand and twenty-five bitboards. A plain value without
// pointers, so copying it copies the position. Default-constructed, it is
// the empty position.
struct Board {
  Hand hand;
  Bitboard occupied = 0;
  std::array<Bitboard, COLOR_NB> color_boards{};
  Bitboard wall = masks::WALL;
  std::array<Bitboard, COLOR_NB> promotion_zone = masks::PROMOTION_ZONE;
  std::array<Bitboard, COLOR_NB> last_row = masks::LAST_ROW;
  std::array<Bitboard, COLOR_NB> last_two_rows = masks::LAST_TWO_ROWS;
  // Entry 0 holds the empty playing squares, entry k the squares of kind k
  // of both colours.
  std::array<Bitboard, PIECE_TYPE_NB> piece_boards = {masks::PLAYING};

  bool operator==(const Board&) const = default;
};

// The first piece board, in the order 0..14, holding the square; None if none.
// Only the 64-bit half that holds the square's bit is tested.
constexpr PieceType piece_type_at(const Board& b, Square s) {
  const unsigned i = s & 127;
  const std::uint64_t bit = std::uint64_t(1) << (63 - (i & 63));
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    if (word_of(b.piece_boards[k], i) & bit) return PieceType(k);
  return PieceType::None;
}

// Colour of a piece on a square: Black if in Black's board, else White.
constexpr Color color_at(const Board& b, Square s) {
  return contains(b.color_boards[0], s) ? Color::Black : Color::White;
}

// Moves square m into exactly one piece board, without looking at the old one.
constexpr void set_piece_board(Board& b, Bitboard m, PieceType kind) {
  for (int k = 0; k < PIECE_TYPE_NB; ++k) {
    b.piece_boards[k] = (b.piece_boards[k] & ~m) | (m & all_if(k == int(kind)));
  }
}

// The same when the kind now on the square is known: every operation keeps
// the piece boards pairwise disjoint, so only the old board holds m (or none
// does, and clearing it from board `old` changes nothing).
constexpr void replace_piece_board(Board& b, Bitboard m, PieceType old, PieceType kind) {
  b.piece_boards[index(old)] &= ~m;
  b.piece_boards[index(kind)] |= m;
}

// Sets the colour boards for square m: Black or White owns it, any other
// colour value clears it from both.
constexpr void set_color_boards(Board& b, Bitboard m, Color c) {
  b.color_boards[0] &= ~m;
  b.color_boards[1] &= ~m;
  if (c == Color::Black)
    b.color_boards[0] |= m;
  else if (c == Color::White)
    b.color_boards[1] |= m;
}

// Puts a piece on a square, replacing whatever stood there. Nothing is
// checked: kind None leaves the square occupied but reading as empty.
constexpr void place_piece(Board& b, Square s, PieceType kind, Color c) {
  const Bitboard m = square_bb(s);
  b.occupied |= m;
  set_color_boards(b, m, c);
  set_piece_board(b, m, kind);
}

// Lays the 40 start squares over the board and empties the hand; every other
// square keeps what it held.
constexpr void overlay_start_position(Board& b) {
  const Bitboard black = masks::start_of(Color::Black);
  const Bitboard white = masks::start_of(Color::White);
  const Bitboard start = black | white;
  b.occupied |= start;
  b.color_boards[0] = (b.color_boards[0] & ~white) | black;
  b.color_boards[1] = (b.color_boards[1] & ~black) | white;
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    b.piece_boards[k] = (b.piece_boards[k] & ~start) | masks::START[0][k] | masks::START[1][k];
  b.hand = Hand{};
}

constexpr Board start_position() {
  Board b;
  overlay_start_position(b);
  return b;
}

// End of game by King count: goes on while exactly two King squares remain.
struct Outcome {
  bool finished;
  Color winner;
};
constexpr Outcome king_outcome(const Board& b) {
  const Bitboard kings = b.piece_boards[index(PieceType::King)];
  if (popcount(kings) == 2) return {false, Color::None};
  return {true, any(kings & b.color_boards[0]) ? Color::Black : Color::White};
}

}  // namespace komaban

#endif
