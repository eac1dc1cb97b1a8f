#ifndef KOMABAN_CORE_REACH_H
#define KOMABAN_CORE_REACH_H

// Where pieces reach: directions, rays, step and jump targets, slide and drop
// targets. Shared by the move list, the move bag and random play, so
// that all three read one set of rules.

#include <array>
#include <cstddef>
#include <utility>

#include "komaban/core/move.h"
#include "komaban/core/panic.h"
#include "komaban/core/position.h"

namespace komaban {

// Directions seen from Black: forward (+11 is one row towards row 9), then
// anticlockwise through the eight neighbours. White's moves are Black's
// turned half a turn, so White's direction d is Black's direction d + 4.
inline constexpr std::array<int, 8> DIRECTION_OFFSET = {+11, +10, -1, -12, -11, -10, +1, +12};

enum Reach : std::uint8_t { NO_REACH, STEP, JUMP, SLIDE };

inline constexpr std::array<std::array<Reach, 8>, PIECE_TYPE_NB> REACH = {{
    {NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH},  // None
    {STEP, STEP, STEP, STEP, STEP, STEP, STEP, STEP},                                  // King
    {STEP, STEP, STEP, NO_REACH, STEP, NO_REACH, STEP, STEP},                          // Gold
    {SLIDE, NO_REACH, SLIDE, NO_REACH, SLIDE, NO_REACH, SLIDE, NO_REACH},              // Rook
    {NO_REACH, SLIDE, NO_REACH, SLIDE, NO_REACH, SLIDE, NO_REACH, SLIDE},              // Bichop
    {STEP, STEP, NO_REACH, STEP, NO_REACH, STEP, NO_REACH, STEP},                      // Silver
    {NO_REACH, JUMP, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, JUMP},          // Knight
    {SLIDE, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH},     // Lance
    {STEP, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH, NO_REACH},      // Pawn
    {SLIDE, STEP, SLIDE, STEP, SLIDE, STEP, SLIDE, STEP},                              // Dragon
    {STEP, SLIDE, STEP, SLIDE, STEP, SLIDE, STEP, SLIDE},                              // Horse
    {STEP, STEP, STEP, NO_REACH, STEP, NO_REACH, STEP, STEP},                          // ProSilver
    {STEP, STEP, STEP, NO_REACH, STEP, NO_REACH, STEP, STEP},                          // ProKnight
    {STEP, STEP, STEP, NO_REACH, STEP, NO_REACH, STEP, STEP},                          // ProLance
    {STEP, STEP, STEP, NO_REACH, STEP, NO_REACH, STEP, STEP},                          // ProPawn
}};

inline constexpr int SQUARE_NB = 128;
inline constexpr int MAX_SLIDE = 8;

// A landing square ends a direction when it is a wall square or off the grid.
consteval bool on_board(int t) { return t >= 0 && t < GRID_SQUARES && !contains(masks::WALL, t); }

// RAY[d][s]: the squares a slide from s in Black's direction d may reach on
// an empty board, at most eight of them.
inline constexpr auto RAY = []() consteval {
  std::array<std::array<Bitboard, SQUARE_NB>, 8> ray{};
  for (int d = 0; d < 8; ++d)
    for (int s = 0; s < SQUARE_NB; ++s)
      for (int j = 1, t = s + DIRECTION_OFFSET[d]; j <= MAX_SLIDE && on_board(t);
           ++j, t += DIRECTION_OFFSET[d])
        ray[d][s] |= square_bb(t);
  return ray;
}();

// Index offset of a step or jump of colour c in Black's direction d.
consteval int step_offset(int c, int d, Reach reach) {
  return (c ? -1 : 1) * (DIRECTION_OFFSET[d] + (reach == JUMP ? 11 : 0));
}

// STEP_TARGETS[c][k][s]: step and jump landings of kind k of colour c from s.
inline constexpr auto STEP_TARGETS = []() consteval {
  std::array<std::array<std::array<Bitboard, SQUARE_NB>, PIECE_TYPE_NB>, COLOR_NB> steps{};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      for (int d = 0; d < 8; ++d) {
        const Reach reach = REACH[k][d];
        if (reach != STEP && reach != JUMP) continue;
        const int offset = step_offset(c, d, reach);
        for (int s = 0; s < SQUARE_NB; ++s)
          if (on_board(s + offset)) steps[c][k][s] |= square_bb(s + offset);
      }
  return steps;
}();

// Every square moved by a fixed index offset; squares leaving the 128 bits
// vanish, as landings below index 0 or above 127 do.
template <int Offset>
constexpr Bitboard shift(Bitboard b) {
  if constexpr (Offset > 0)
    return b >> Offset;
  else
    return b << -Offset;
}

// The squares that any of the lances, all moving by Step (+11 for Black,
// -11 for White), reach up to and including the first blocker: all of them
// at once, by an occluded fill over empty playing squares (three doublings,
// seven squares) and one step more, eight squares as a ray. Two lances of
// one column never share a square: the one behind stops at the other.
template <int Step>
constexpr Bitboard lance_targets(Bitboard lances, Bitboard blockers) {
  Bitboard reached = lances;
  Bitboard empty = masks::PLAYING & ~blockers;
  reached |= empty & shift<Step>(reached);
  empty &= shift<Step>(empty);
  reached |= empty & shift<2 * Step>(reached);
  empty &= shift<2 * Step>(empty);
  reached |= empty & shift<4 * Step>(reached);
  return shift<Step>(reached) & masks::PLAYING;
}

// Squares of a slide from s in Black's direction D up to and including the
// first blocker. The first blocker is found without a branch: a sentinel
// square beyond every ray (127 upwards, 0 downwards; rays hold only playing
// squares) stands in when the ray is clear, and its own ray is empty.
template <int D>
inline Bitboard ray_targets(Square s, Bitboard blockers) {
  const Bitboard ray = RAY[D][s];
  const Bitboard hit = ray & blockers;
  const Square first = DIRECTION_OFFSET[D] > 0 ? lowest_square(hit | square_bb(127))
                                               : highest_square(hit | square_bb(0));
  return ray & ~RAY[D][first];
}

template <int... D>
inline Bitboard rays(Square s, Bitboard blockers) {
  return (ray_targets<D>(s, blockers) | ...);
}

// Slide directions as a mask over Black's directions, for colour c.
consteval unsigned slide_mask(PieceType kind, int c) {
  unsigned mask = 0;
  for (int d = 0; d < 8; ++d)
    if (REACH[index(kind)][d] == SLIDE) mask |= 1u << (c ? (d + 4) % 8 : d);
  return mask;
}
static_assert(slide_mask(PieceType::Rook, 0) == 0x55 && slide_mask(PieceType::Rook, 1) == 0x55);
static_assert(slide_mask(PieceType::Dragon, 0) == 0x55 && slide_mask(PieceType::Dragon, 1) == 0x55);
static_assert(slide_mask(PieceType::Bichop, 0) == 0xaa && slide_mask(PieceType::Bichop, 1) == 0xaa);
static_assert(slide_mask(PieceType::Horse, 0) == 0xaa && slide_mask(PieceType::Horse, 1) == 0xaa);
static_assert(slide_mask(PieceType::Lance, 0) == 0x01 && slide_mask(PieceType::Lance, 1) == 0x10);

// The slides of one piece of kind K and colour c, with the directions fixed
// at compile time (checked against the table above).
template <PieceType K>
inline Bitboard slide_targets(int c, Square s, Bitboard blockers) {
  if constexpr (K == PieceType::Rook || K == PieceType::Dragon)
    return rays<0, 2, 4, 6>(s, blockers);
  else if constexpr (K == PieceType::Bichop || K == PieceType::Horse)
    return rays<1, 3, 5, 7>(s, blockers);
  else if constexpr (K == PieceType::Lance)
    return c ? rays<4>(s, blockers) : rays<0>(s, blockers);
  else
    return 0;
}

inline Bitboard slide_targets(PieceType kind, int c, Square s, Bitboard blockers) {
  switch (kind) {
    case PieceType::Rook: return slide_targets<PieceType::Rook>(c, s, blockers);
    case PieceType::Dragon: return slide_targets<PieceType::Dragon>(c, s, blockers);
    case PieceType::Bichop: return slide_targets<PieceType::Bichop>(c, s, blockers);
    case PieceType::Horse: return slide_targets<PieceType::Horse>(c, s, blockers);
    case PieceType::Lance: return slide_targets<PieceType::Lance>(c, s, blockers);
    default: return 0;
  }
}

// Every square a slide of kind k and colour c from s reaches on an empty
// board: the union of its rays.
consteval Bitboard slide_reach(int c, int k, int s) {
  Bitboard reach = 0;
  const unsigned mask = slide_mask(PieceType(k), c);
  for (int d = 0; d < 8; ++d)
    if (mask >> d & 1) reach |= RAY[d][s];
  return reach;
}

// Rows 1 to 9 of every column that holds one of the pawns: each pawn is
// spread over its whole column (indices 11 apart) by doubling shifts, then
// cut to rows 1 to 9.
constexpr Bitboard pawn_columns(Bitboard pawns) {
  constexpr Bitboard ROWS_1_TO_9 = [] {
    Bitboard rows = 0;
    for (int i = make_square(0, 1); i <= make_square(10, 9); ++i) rows |= square_bb(i);
    return rows;
  }();
  Bitboard columns = pawns;
  for (int distance = 11; distance < 128; distance *= 2) columns |= columns >> distance;
  for (int distance = 11; distance < 128; distance *= 2) columns |= columns << distance;
  return columns & ROWS_1_TO_9;
}

// The union of the boards of the kinds in a compile-time mask: straight-line
// code, no loop over the kinds.
template <std::uint16_t Kinds>
inline Bitboard union_of(const std::array<Bitboard, PIECE_TYPE_NB>& boards) {
  return [&]<std::size_t... K>(std::index_sequence<K...>) {
    return ((Kinds >> K & 1 ? boards[K] : Bitboard(0)) | ...);
  }(std::make_index_sequence<PIECE_TYPE_NB>());
}

// The i-th lowest square of a set with more than i squares. The half is
// chosen without a branch; the walk within it is short for small sets.
inline Square nth_square(Bitboard b, std::size_t i) {
  const std::uint64_t high = high_word(b);
  const auto high_count = std::size_t(std::popcount(high));
  const bool in_low = i >= high_count;
  std::uint64_t word = in_low ? low_word(b) : high;
  i -= in_low ? high_count : 0;
  for (; i; --i) word &= ~(std::uint64_t(1) << 63 >> std::countl_zero(word));
  return Square(64 * unsigned(in_low) + unsigned(std::countl_zero(word)));
}

// The mover's side of the board. Colour boards are disjoint, so every mover's
// piece has the mover's colour; any colour other than White moves Black's.
struct Side {
  int c;
  Bitboard own;
  Bitboard blockers;
  Bitboard zone;

  Side(const Board& b, Color color)
      : c(color == Color::White ? 1 : 0),
        own(b.color_boards[c]),
        blockers(b.color_boards[0] | b.color_boards[1]),
        zone(masks::PROMOTION_ZONE[c]) {}
};

// A hand label can be dropped only with an owner that is a player; any other
// owner fails as an out-of-range colour index.
inline void check_drop_owner(const Piece& label) {
  if (!is_player(label.owner))
    panic_index_out_of_bounds(COLOR_NB, std::uint64_t(std::int64_t(label.owner)));
}

// Landings of a drop of a label whose owner is a player: the empty playing
// squares, less the rows a Knight, Lance or Pawn could never leave and the
// columns of its owner's Pawns for a Pawn. Empty for kinds never dropped.
inline Bitboard drop_targets(const Board& b, const Piece& label) {
  const int o = index(label.owner);
  const Bitboard empty = b.piece_boards[index(PieceType::None)];
  switch (label.kind) {
    case PieceType::Gold:
    case PieceType::Rook:
    case PieceType::Bichop:
    case PieceType::Silver: return empty;
    case PieceType::Knight: return empty & ~b.last_two_rows[o];
    case PieceType::Lance: return empty & ~b.last_row[o];
    case PieceType::Pawn:
      return empty & ~(b.last_row[o] |
                       pawn_columns(b.color_boards[o] & b.piece_boards[index(PieceType::Pawn)]));
    default: return 0;
  }
}

}  // namespace komaban

#endif
