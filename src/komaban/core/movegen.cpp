#include "komaban/core/movegen.h"

#include <memory>
#include <utility>

namespace komaban {

namespace {

// Directions seen from Black: forward (+11 is one row towards row 9), then
// anticlockwise through the eight neighbours. White's moves are Black's
// turned half a turn, so White's direction d is Black's direction d + 4.
constexpr std::array<int, 8> DIRECTION_OFFSET = {+11, +10, -1, -12, -11, -10, +1, +12};

enum Reach : std::uint8_t { NONE, STEP, JUMP, SLIDE };

constexpr std::array<std::array<Reach, 8>, PIECE_TYPE_NB> REACH = {{
    {NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE},      // None
    {STEP, STEP, STEP, STEP, STEP, STEP, STEP, STEP},      // King
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},      // Gold
    {SLIDE, NONE, SLIDE, NONE, SLIDE, NONE, SLIDE, NONE},  // Rook
    {NONE, SLIDE, NONE, SLIDE, NONE, SLIDE, NONE, SLIDE},  // Bichop
    {STEP, STEP, NONE, STEP, NONE, STEP, NONE, STEP},      // Silver
    {NONE, JUMP, NONE, NONE, NONE, NONE, NONE, JUMP},      // Knight
    {SLIDE, NONE, NONE, NONE, NONE, NONE, NONE, NONE},     // Lance
    {STEP, NONE, NONE, NONE, NONE, NONE, NONE, NONE},      // Pawn
    {SLIDE, STEP, SLIDE, STEP, SLIDE, STEP, SLIDE, STEP},  // Dragon
    {STEP, SLIDE, STEP, SLIDE, STEP, SLIDE, STEP, SLIDE},  // Horse
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},      // ProSilver
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},      // ProKnight
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},      // ProLance
    {STEP, STEP, STEP, NONE, STEP, NONE, STEP, STEP},      // ProPawn
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
constexpr unsigned slide_mask(PieceType kind, int c) {
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

// Steps and jumps as 16 groups: 0-7 one step in the mover's direction d,
// 8-15 a knight jump in direction d - 8 (only 9 and 15 are used). Each group
// has a mask of the kinds that move in it.
constexpr int STEP_GROUP_NB = 16;
constexpr int group_offset(int group) {
  return DIRECTION_OFFSET[group % 8] + (group >= 8 ? 11 : 0);
}
constexpr auto GROUP_KINDS = [] {
  std::array<std::uint16_t, STEP_GROUP_NB> kinds{};
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    for (int d = 0; d < 8; ++d)
      if (REACH[k][d] == STEP || REACH[k][d] == JUMP)
        kinds[REACH[k][d] == JUMP ? 8 + d : d] |= std::uint16_t(1 << k);
  return kinds;
}();
constexpr std::uint16_t PROMOTABLE_KINDS = [] {
  std::uint16_t kinds = 0;
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    if (is_promotable(PieceType(k))) kinds |= std::uint16_t(1 << k);
  return kinds;
}();

// The union of the boards of the kinds in a compile-time mask: straight-line
// code, no loop over the kinds.
template <std::uint16_t Kinds>
inline Bitboard union_of(const std::array<Bitboard, PIECE_TYPE_NB>& boards) {
  return [&]<std::size_t... K>(std::index_sequence<K...>) {
    return ((Kinds >> K & 1 ? boards[K] : Bitboard(0)) | ...);
  }(std::make_index_sequence<PIECE_TYPE_NB>());
}

// Every square moved by a fixed index offset; squares leaving the 128 bits
// vanish, as landings below index 0 or above 127 do.
template <int Offset>
constexpr Bitboard shift(Bitboard b) {
  if constexpr (Offset > 0)
    return b >> Offset;
  else
    return b << -Offset;
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

// The i-th lowest square of a set with more than i squares.
inline Square nth_square(Bitboard b, std::size_t i) {
  std::uint64_t word = high_word(b);
  unsigned base = 0;
  if (const auto high_count = std::size_t(std::popcount(word)); i >= high_count) {
    i -= high_count;
    word = low_word(b);
    base = 64;
  }
  for (; i; --i) word &= ~(std::uint64_t(1) << 63 >> std::countl_zero(word));
  return Square(base + unsigned(std::countl_zero(word)));
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

// Calls visit(targets, base) for every non-empty run of board moves, in list
// order; a run stands for base | (t << 7) for each t in targets, ascending.
template <class Visit>
void visit_board_runs(const Board& b, Color color, Visit&& visit) {
  const Side side(b, color);

  // A square is in at most one piece board, so the kinds of the mover's
  // squares are gathered board by board instead of searched square by square.
  std::array<PieceType, SQUARE_NB> kind_at;
  Bitboard kindless = side.own;
  for (int k = 1; k < PIECE_TYPE_NB; ++k) {
    const Bitboard squares = b.piece_boards[k] & side.own;
    kindless &= ~squares;
    for_each_square(squares, [&](Square s) { kind_at[s] = PieceType(k); });
  }
  for_each_square(kindless, [&](Square s) { kind_at[s] = PieceType::None; });

  // One pass per 64-bit half keeps the loop body in one place.
  for (unsigned half = 0; half < 2; ++half) {
    for (std::uint64_t w = half ? low_word(side.own) : high_word(side.own); w;) {
      const int z = std::countl_zero(w);
      w ^= std::uint64_t(1) << 63 >> z;
      const auto from = Square(64 * half + unsigned(z));
      const PieceType kind = kind_at[from];
      Bitboard targets = STEP_TARGETS[side.c][index(kind)][from] |
                         slide_targets(kind, side.c, from, side.blockers);
      targets &= ~side.own;
      if (targets) visit(targets, make_board_move(from, 0));
      if (!is_promotable(kind)) continue;
      const Bitboard promoting = contains(side.zone, from) ? targets : targets & side.zone;
      if (promoting) visit(promoting, make_board_move(from, 0, true));
    }
  }
}

// Calls visit(targets, base) for the drop run of every kind held, in slot
// order, as visit_board_runs does.
template <class Visit>
void visit_drop_runs(const Board& b, Color color, Visit&& visit) {
  b.hand.for_each_held(color, [&](const Piece& label) {
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
        targets &= ~(b.last_row[o] |
                     pawn_columns(b.color_boards[o] & b.piece_boards[index(PieceType::Pawn)]));
        break;
      default: return;
    }
    if (targets) visit(targets, make_drop(0, label.owner, label.kind));
  });
}

}  // namespace

void generate_moves(const Board& b, Color c, MoveList& list) {
  Move* out = list.moves.data();
  auto emit = [&](Bitboard targets, Move base) {
    for_each_square(targets, [&](Square t) { *out++ = Move(base | (t << TO_SHIFT)); });
  };
  visit_board_runs(b, c, emit);
  visit_drop_runs(b, c, emit);
  list.size = std::size_t(out - list.moves.data());
}

void MoveBag::generate(const Board& b, Color color) {
  size_ = move_count_ = 0;
  const Side side(b, color);
  const Bitboard open = masks::PLAYING & ~side.own;
  std::array<Bitboard, PIECE_TYPE_NB> mine;  // the mover's pieces of each kind
  mine[0] = 0;                               // kind None never moves
  for (int k = 1; k < PIECE_TYPE_NB; ++k) mine[k] = b.piece_boards[k] & side.own;

  // One shift per group, for all its pieces at once; offsets and kind
  // masks are constants for each colour and group.
  auto add_groups = [&]<int Sign, std::size_t... G>(std::index_sequence<G...>) {
    auto add_group = [&]<std::size_t Group>() {
      constexpr std::uint16_t kinds = GROUP_KINDS[Group];
      if constexpr (kinds != 0) {
        constexpr int offset = Sign * group_offset(Group);
        const Bitboard pieces = union_of<kinds>(mine);
        if (!pieces) return;
        add(shift<offset>(pieces) & open, 0, offset);
        if constexpr ((kinds & PROMOTABLE_KINDS) != 0) {
          // A piece in the zone promotes on every target, any other only on
          // targets in the zone. One offset, so each target has one source.
          const Bitboard promotable = union_of<kinds & PROMOTABLE_KINDS>(mine);
          const Bitboard in_zone = shift<offset>(promotable & side.zone);
          const Bitboard outside = shift<offset>(promotable & ~side.zone) & side.zone;
          add((in_zone | outside) & open, PROMOTE_FLAG, offset);
        }
      }
    };
    (add_group.template operator()<G>(), ...);
  };
  if (side.c)
    add_groups.operator()<-1>(std::make_index_sequence<STEP_GROUP_NB>());
  else
    add_groups.operator()<1>(std::make_index_sequence<STEP_GROUP_NB>());

  // Slides, piece by piece.
  auto add_slides = [&]<PieceType Kind>() {
    for_each_square(mine[index(Kind)], [&](Square from) {
      const Bitboard targets = slide_targets<Kind>(side.c, from, side.blockers) & ~side.own;
      add(targets, make_board_move(from, 0), 0);
      if constexpr (is_promotable(Kind))
        add(contains(side.zone, from) ? targets : targets & side.zone,
            make_board_move(from, 0, true), 0);
    });
  };
  add_slides.operator()<PieceType::Rook>();
  add_slides.operator()<PieceType::Bichop>();
  add_slides.operator()<PieceType::Lance>();
  add_slides.operator()<PieceType::Dragon>();
  add_slides.operator()<PieceType::Horse>();

  visit_drop_runs(b, color, [&](Bitboard targets, Move base) { add(targets, base, 0); });
}

Move MoveBag::operator[](std::size_t i) const {
  if (i >= move_count_) panic_index_out_of_bounds(move_count_, i);
  std::size_t r = 0;
  while (i >= runs_[r].end) ++r;
  const Run& run = runs_[r];
  const Square to = nth_square(run.targets, i - (run.end - std::size_t(popcount(run.targets))));
  return Move(run.base | (to << TO_SHIFT) | (run.offset ? Square(to - run.offset) : 0));
}

MoveList& scratch_move_list() {
  thread_local std::unique_ptr<MoveList> list = std::make_unique<MoveList>();
  return *list;
}

MoveBag& scratch_move_bag() {
  thread_local std::unique_ptr<MoveBag> bag = std::make_unique<MoveBag>();
  return *bag;
}

}  // namespace komaban
