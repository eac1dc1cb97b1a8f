#include "komaban/core/movegen.h"

#include <memory>

namespace komaban {

namespace {

// Directions seen from Black: forward (+11 is one row towards row 9), then
// anticlockwise through the eight neighbours. White's moves are Black's
// turned half a turn, so White's direction d is Black's direction d + 4.
constexpr std::array<int, 8> DIRECTION_OFFSET = {+11, +10, -1, -12, -11, -10, +1, +12};

enum Reach : std::uint8_t { NONE, STEP, JUMP, SLIDE };

constexpr std::array<std::array<Reach, 8>, PIECE_TYPE_NB> REACH = {{
    {NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE},             // None
    {STEP, STEP, STEP, STEP, STEP, STEP, STEP, STEP},             // King
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},             // Gold
    {SLIDE, NONE, SLIDE, NONE, SLIDE, NONE, SLIDE, NONE},         // Rook
    {NONE, SLIDE, NONE, SLIDE, NONE, SLIDE, NONE, SLIDE},         // Bichop
    {STEP, STEP, NONE, STEP, NONE, STEP, NONE, STEP},             // Silver
    {NONE, JUMP, NONE, NONE, NONE, NONE, NONE, JUMP},             // Knight
    {SLIDE, NONE, NONE, NONE, NONE, NONE, NONE, NONE},            // Lance
    {STEP, NONE, NONE, NONE, NONE, NONE, NONE, NONE},             // Pawn
    {SLIDE, STEP, SLIDE, STEP, SLIDE, STEP, SLIDE, STEP},         // Dragon
    {STEP, SLIDE, STEP, SLIDE, STEP, SLIDE, STEP, SLIDE},         // Horse
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},             // ProSilver
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},             // ProKnight
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},             // ProLance
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},             // ProPawn
}};

constexpr int SQUARE_NB = 128;
constexpr int MAX_SLIDE = 8;

// A landing square ends a direction when it is a wall square or off the grid.
constexpr bool on_board(int t) { return t >= 0 && t < GRID_SQUARES && !contains(masks::WALL, t); }

// RAY[d][s]: the squares a slide from s in Black's direction d may reach on
// an empty board, at most eight of them.
constexpr auto RAY = [] {
  std::array<std::array<Bitboard, SQUARE_NB>, 8> ray{};
  for (int d = 0; d < 8; ++d)
    for (int s = 0; s < SQUARE_NB; ++s)
      for (int j = 1, t = s + DIRECTION_OFFSET[d]; j <= MAX_SLIDE && on_board(t);
           ++j, t += DIRECTION_OFFSET[d])
        ray[d][s] |= square_bb(t);
  return ray;
}();

// STEP_TARGETS[c][k][s]: step and jump landings of kind k of colour c from s.
constexpr auto STEP_TARGETS = [] {
  std::array<std::array<std::array<Bitboard, SQUARE_NB>, PIECE_TYPE_NB>, COLOR_NB> steps{};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      for (int d = 0; d < 8; ++d) {
        const Reach reach = REACH[k][d];
        if (reach != STEP && reach != JUMP) continue;
        const int offset = (c ? -1 : 1) * (DIRECTION_OFFSET[d] + (reach == JUMP ? 11 : 0));
        for (int s = 0; s < SQUARE_NB; ++s)
          if (on_board(s + offset)) steps[c][k][s] |= square_bb(s + offset);
      }
  return steps;
}();

// Slide directions of each kind, already turned for each colour, and
// whether a direction runs towards higher indices.
struct Slides {
  std::array<std::uint8_t, 4> direction{};
  int count = 0;
};
constexpr auto SLIDES = [] {
  std::array<std::array<Slides, PIECE_TYPE_NB>, COLOR_NB> slides{};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      for (int d = 0; d < 8; ++d)
        if (REACH[k][d] == SLIDE) {
          Slides& s = slides[c][k];
          s.direction[s.count++] = std::uint8_t(c ? (d + 4) % 8 : d);
        }
  return slides;
}();

// Squares of a slide up to and including the first blocker.
inline Bitboard slide_targets(int d, Square s, Bitboard blockers) {
  Bitboard ray = RAY[d][s];
  const Bitboard hit = ray & blockers;
  if (hit) {
    const Square first = DIRECTION_OFFSET[d] > 0 ? lowest_square(hit) : highest_square(hit);
    ray &= ~RAY[d][first];
  }
  return ray;
}

// FILE_SQUARES[col]: rows 1 to 9 of a column, for the pawn-drop rule.
constexpr auto FILE_SQUARES = [] {
  std::array<Bitboard, FILE_NB> files{};
  for (int col = 0; col < FILE_NB; ++col)
    for (int row = 1; row <= 9; ++row) files[col] |= square_bb(make_square(col, row));
  return files;
}();

inline Move* emit_board_moves(Move* out, Square from, Bitboard targets, Move flags) {
  while (targets) *out++ = Move(make_board_move(from, pop_lowest(targets)) | flags);
  return out;
}

inline Move* emit_drops(Move* out, Bitboard targets, Color owner, PieceType kind) {
  while (targets) *out++ = make_drop(pop_lowest(targets), owner, kind);
  return out;
}

}  // namespace

void generate_moves(const Board& b, Color color, MoveList& list) {
  Move* out = list.moves.data();

  // Board moves. Colour boards are disjoint, so every mover's piece has the
  // mover's colour; any colour other than White moves Black's pieces.
  const int c = color == Color::White ? 1 : 0;
  const Bitboard own = b.color_boards[c];
  const Bitboard blockers = b.color_boards[0] | b.color_boards[1];
  const Bitboard zone = masks::PROMOTION_ZONE[c];
  for (Bitboard pieces = own; pieces;) {
    const Square from = pop_lowest(pieces);
    const PieceType kind = piece_type_at(b, from);
    Bitboard targets = STEP_TARGETS[c][index(kind)][from];
    const Slides& slides = SLIDES[c][index(kind)];
    for (int i = 0; i < slides.count; ++i) targets |= slide_targets(slides.direction[i], from, blockers);
    targets &= ~own;
    out = emit_board_moves(out, from, targets, 0);
    if (is_promotable(kind))
      out = emit_board_moves(out, from, contains(zone, from) ? targets : targets & zone, PROMOTE_FLAG);
  }

  // Drops, one set per kind held, from the hand's labels.
  for (const Piece& label : b.hand.player_pieces(color)) {
    if (!is_player(label.owner))
      panic_index_out_of_bounds(COLOR_NB, std::uint64_t(std::int64_t(label.owner)));
    const int o = index(label.owner);
    Bitboard targets = b.piece_boards[index(PieceType::None)];
    switch (label.kind) {
      case PieceType::Gold:
      case PieceType::Rook:
      case PieceType::Bichop:
      case PieceType::Silver: break;
      case PieceType::Knight: targets &= ~b.last_two_rows[o]; break;
      case PieceType::Lance: targets &= ~b.last_row[o]; break;
      case PieceType::Pawn:
        targets &= ~b.last_row[o];
        for_each_square(b.color_boards[o] & b.piece_boards[index(PieceType::Pawn)],
                        [&](Square p) { targets &= ~FILE_SQUARES[column_of(p)]; });
        break;
      default: continue;
    }
    out = emit_drops(out, targets, label.owner, label.kind);
  }
  list.size = std::size_t(out - list.moves.data());
}

MoveList& scratch_move_list() {
  thread_local std::unique_ptr<MoveList> list = std::make_unique<MoveList>();
  return *list;
}

}  // namespace komaban
