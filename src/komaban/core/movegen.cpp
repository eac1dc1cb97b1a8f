#include "komaban/core/movegen.h"

#include <memory>
#include <utility>

#include "komaban/core/reach.h"

namespace komaban {

namespace {

// Steps and jumps as 16 groups: 0-7 one step in the mover's direction d,
// 8-15 a knight jump in direction d - 8 (only 9 and 15 are used). Each group
// has a mask of the kinds that move in it.
constexpr int STEP_GROUP_NB = 16;
consteval int group_offset(int group) {
  return DIRECTION_OFFSET[group % 8] + (group >= 8 ? 11 : 0);
}
constexpr auto GROUP_KINDS = []() consteval {
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
      if (any(targets)) visit(targets, make_board_move(from, 0));
      if (!is_promotable(kind)) continue;
      const Bitboard promoting = contains(side.zone, from) ? targets : targets & side.zone;
      if (any(promoting)) visit(promoting, make_board_move(from, 0, true));
    }
  }
}

// Calls visit(targets, base) for the drop run of every kind held, in slot
// order, as visit_board_runs does.
template <class Visit>
void visit_drop_runs(const Board& b, Color color, Visit&& visit) {
  b.hand.for_each_held(color, [&](const Piece& label) {
    check_drop_owner(label);
    const Bitboard targets = drop_targets(b, label);
    if (any(targets)) visit(targets, make_drop(0, label.owner, label.kind));
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

void add_slide_runs(const Board& b, Color color, MoveRuns& runs) {
  const Side side(b, color);
  auto add_slides = [&]<PieceType Kind>() {
    for_each_square(b.piece_boards[index(Kind)] & side.own, [&](Square from) {
      const Bitboard targets = slide_targets<Kind>(side.c, from, side.blockers) & ~side.own;
      runs.add(targets, make_board_move(from, 0), Kind);
      if constexpr (is_promotable(Kind))
        runs.add(contains(side.zone, from) ? targets : targets & side.zone,
                 make_board_move(from, 0, true), Kind);
    });
  };
  add_slides.operator()<PieceType::Rook>();
  add_slides.operator()<PieceType::Bichop>();
  add_slides.operator()<PieceType::Lance>();
  add_slides.operator()<PieceType::Dragon>();
  add_slides.operator()<PieceType::Horse>();
}

void add_drop_runs(const Board& b, Color color, MoveRuns& runs) {
  visit_drop_runs(b, color, [&](Bitboard targets, Move base) { runs.add(targets, base); });
}

void MoveBag::generate(const Board& b, Color color) {
  clear();
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
        if (!any(pieces)) return;
        add(shift<offset>(pieces) & open, 0, PieceType::None, offset);
        if constexpr ((kinds & PROMOTABLE_KINDS) != 0) {
          // A piece in the zone promotes on every target, any other only on
          // targets in the zone. One offset, so each target has one source.
          const Bitboard promotable = union_of<kinds & PROMOTABLE_KINDS>(mine);
          const Bitboard in_zone = shift<offset>(promotable & side.zone);
          const Bitboard outside = shift<offset>(promotable & ~side.zone) & side.zone;
          add((in_zone | outside) & open, PROMOTE_FLAG, PieceType::None, offset);
        }
      }
    };
    (add_group.template operator()<G>(), ...);
  };
  if (side.c)
    add_groups.operator()<-1>(std::make_index_sequence<STEP_GROUP_NB>());
  else
    add_groups.operator()<1>(std::make_index_sequence<STEP_GROUP_NB>());

  add_slide_runs(b, color, *this);
  add_drop_runs(b, color, *this);
}

MoveRuns::Entry MoveRuns::entry(std::size_t i) const {
  if (i >= move_count_) panic_index_out_of_bounds(move_count_, i);
  std::size_t r = 0;
  while (i >= runs_[r].end) ++r;
  const Run& run = runs_[r];
  const Square to = nth_square(run.targets, i - (run.end - std::size_t(popcount(run.targets))));
  return {Move(run.base | (to << TO_SHIFT) | (run.offset ? Square(to - run.offset) : 0)), run.kind};
}

MoveList& scratch_move_list() {
  thread_local std::unique_ptr<MoveList> list = std::make_unique<MoveList>();
  return *list;
}

}  // namespace komaban
