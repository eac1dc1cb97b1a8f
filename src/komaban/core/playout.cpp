#include "komaban/core/playout.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "komaban/core/execute.h"
#include "komaban/core/reach.h"

// For the few functions of the move loop that the compiler would not inline
// by itself.
#if defined(__GNUC__)
#define KOMABAN_ALWAYS_INLINE __attribute__((always_inline)) inline
#elif defined(_MSC_VER)
#define KOMABAN_ALWAYS_INLINE __forceinline
#else
#define KOMABAN_ALWAYS_INLINE inline
#endif

namespace komaban {

namespace {

// Mailbox cells: 0 empty, a piece is its kind with its colour's tag, a wall
// both tags, so that one AND with the mover's tag rejects both a mover's
// piece and a wall.
constexpr std::uint8_t BLACK_TAG = 0x10, WHITE_TAG = 0x20, WALL = 0x30;
constexpr std::uint8_t tag(int c) { return std::uint8_t(BLACK_TAG << c); }
static_assert(tag(1) == WHITE_TAG && (BLACK_TAG | WHITE_TAG) == WALL);
constexpr std::uint8_t cell_code(int c, PieceType k) { return std::uint8_t(tag(c) | index(k)); }
constexpr PieceType cell_kind(std::uint8_t cell) { return PieceType(cell & 15); }

// Step groups: kinds with the same steps (the Dragon's diagonal steps and
// the Horse's orthogonal ones apart), then the promotable step kinds again,
// promoting, for the pieces that stand where a step can promote, then a
// group without steps for the kinds that only slide.
struct StepGroup {
  PieceType kind;  // one kind of the group, whose steps it takes
  bool promoting;
  unsigned steps = 0;
  // ceil(2^16 / steps): candidate j is piece (j * reciprocal) >> 16.
  unsigned reciprocal = 0;
  std::array<std::array<std::int8_t, 8>, COLOR_NB> offsets{};
};
constexpr auto STEP_GROUPS = []() consteval {
  std::array<StepGroup, Playout::GROUP_NB> groups = {{
      {PieceType::King, false},
      {PieceType::Gold, false},
      {PieceType::Silver, false},
      {PieceType::Knight, false},
      {PieceType::Pawn, false},
      {PieceType::Dragon, false},
      {PieceType::Horse, false},
      {PieceType::Silver, true},
      {PieceType::Knight, true},
      {PieceType::Pawn, true},
      {PieceType::Rook, false},
  }};
  for (StepGroup& g : groups) {
    for (int d = 0; d < 8; ++d) {
      const Reach reach = REACH[index(g.kind)][d];
      if (reach != STEP && reach != JUMP) continue;
      for (int c = 0; c < COLOR_NB; ++c)
        g.offsets[c][g.steps] = std::int8_t(step_offset(c, d, reach));
      ++g.steps;
    }
    g.reciprocal = g.steps ? (65536 + g.steps - 1) / g.steps : 0;
  }
  return groups;
}();

// The lists a piece of each kind is in: its step group, its promoting step
// group (while it stands where a step can promote) and the ray list; the
// sink in place of those it is not in.
struct Membership {
  std::uint8_t plain, promoting, ray;
};
constexpr std::uint8_t SINK = Playout::SINK, RAYS = Playout::RAY_LIST;
constexpr std::array<Membership, PIECE_TYPE_NB> MEMBERSHIP = {{
    {10, SINK, SINK},  // None, never listed
    {0, SINK, SINK},   // King
    {1, SINK, SINK},   // Gold
    {10, SINK, RAYS},  // Rook
    {10, SINK, RAYS},  // Bichop
    {2, 7, SINK},      // Silver
    {3, 8, SINK},      // Knight
    {10, SINK, SINK},  // Lance: all lances at once, see prepare()
    {4, 9, SINK},      // Pawn
    {5, SINK, RAYS},   // Dragon
    {6, SINK, RAYS},   // Horse
    {1, SINK, SINK},   // ProSilver
    {1, SINK, SINK},   // ProKnight
    {1, SINK, SINK},   // ProLance
    {1, SINK, SINK},   // ProPawn
}};

// Each kind's groups step exactly as the kind does, a promoting group only
// holds promotable kinds, the ray list the sliding kinds but the Lance; and the
// reciprocals divide exactly.
consteval bool memberships_sound() {
  for (int k = 1; k < PIECE_TYPE_NB; ++k) {
    const Membership m = MEMBERSHIP[k];
    std::array<std::int8_t, 8> offsets{};
    unsigned steps = 0;
    bool slides = false;
    for (int d = 0; d < 8; ++d) {
      const Reach reach = REACH[k][d];
      if (reach == STEP || reach == JUMP) offsets[steps++] = std::int8_t(step_offset(0, d, reach));
      slides = slides || reach == SLIDE;
    }
    if ((m.ray == RAYS) != (slides && k != index(PieceType::Lance))) return false;
    if ((m.promoting != SINK) != (steps != 0 && is_promotable(PieceType(k)))) return false;
    if (STEP_GROUPS[m.plain].promoting) return false;
    for (const int g : {int(m.plain), int(m.promoting)})
      if (g != SINK && (STEP_GROUPS[g].steps != steps || STEP_GROUPS[g].offsets[0] != offsets ||
                        STEP_GROUPS[g].promoting != (g == m.promoting)))
        return false;
  }
  for (const StepGroup& g : STEP_GROUPS)
    for (unsigned j = 0; j < 128 * g.steps; ++j)
      if ((j * g.reciprocal) >> 16 != j / g.steps) return false;
  return true;
}
static_assert(memberships_sound());

// Whether a piece of kind k and colour c on s has a promoting step on an
// empty board, for the kinds with a promoting step group: whether it is in
// that group's list.
constexpr auto IN_PROMOTING_GROUP = []() consteval {
  std::array<std::array<std::array<bool, SQUARE_NB>, PIECE_TYPE_NB>, COLOR_NB> in{};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      for (int s = 0; s < SQUARE_NB; ++s) {
        if (MEMBERSHIP[k].promoting == SINK) continue;
        const Bitboard zone = masks::PROMOTION_ZONE[c];
        const Bitboard targets = STEP_TARGETS[c][k][s];
        in[c][k][s] = (contains(zone, s) && any(targets)) || any(targets & zone);
      }
  return in;
}();

// Candidates of ray pieces, per colour, kind of rays (orthogonal: Rook and
// Dragon; diagonal: Bichop and Horse) and square: every square
// the rays reach on an empty board, with its direction, then again, for the
// promotable kinds, those where a move promotes: the ones in the zone, all of
// them from the zone. At most 2 x 16.
enum RayKind { ORTHOGONAL, DIAGONAL, RAY_KIND_NB };
struct RayCandidates {
  std::uint8_t plain = 0, total = 0;
  std::array<Square, 32> to{};
  std::array<std::uint8_t, 32> direction{};
};
constexpr auto RAY_CANDIDATES = []() consteval {
  std::array<std::array<std::array<RayCandidates, SQUARE_NB>, RAY_KIND_NB>, COLOR_NB> table{};
  constexpr PieceType KINDS[RAY_KIND_NB] = {PieceType::Rook, PieceType::Bichop};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int r = 0; r < RAY_KIND_NB; ++r)
      for (int s = 0; s < SQUARE_NB; ++s) {
        RayCandidates& entry = table[c][r][s];
        const unsigned mask = slide_mask(KINDS[r], c);
        for (int promoting = 0; promoting < 2; ++promoting) {
          for (int d = 0; d < 8; ++d) {
            if (!(mask >> d & 1)) continue;
            for_each_square(RAY[d][s], [&](Square t) {
              const Bitboard zone = masks::PROMOTION_ZONE[c];
              if (promoting && !contains(zone, s) && !contains(zone, t)) return;
              entry.to[entry.total] = t;
              entry.direction[entry.total++] = std::uint8_t(d);
            });
          }
          if (!promoting) entry.plain = entry.total;
        }
      }
  return table;
}();

constexpr RayKind ray_kind(PieceType k) {
  return k == PieceType::Rook || k == PieceType::Dragon ? ORTHOGONAL : DIAGONAL;
}

// Candidates of a piece of kind k and colour c on s in the ray list; 0 for
// the kinds not in it.
constexpr auto RAY_WEIGHT = []() consteval {
  std::array<std::array<std::array<std::uint8_t, SQUARE_NB>, PIECE_TYPE_NB>, COLOR_NB> weight{};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      for (int s = 0; s < SQUARE_NB; ++s) {
        if (MEMBERSHIP[k].ray != RAYS) continue;
        const RayCandidates& entry = RAY_CANDIDATES[c][ray_kind(PieceType(k))][s];
        weight[c][k][s] = is_promotable(PieceType(k)) ? entry.total : entry.plain;
      }
  return weight;
}();

// Rows 1 to 9 of each column.
constexpr auto COLUMN_BB = []() consteval {
  std::array<Bitboard, FILE_NB> columns{};
  for (int column = 0; column < FILE_NB; ++column)
    for (int row = 1; row <= 9; ++row) columns[column] |= square_bb(make_square(column, row));
  return columns;
}();

// The first hand slot of each colour's droppable kinds, Gold to Pawn.
constexpr int first_drop_slot(int c) { return c * 8 + index(PieceType::Gold) - 1; }

}  // namespace

bool Playout::attach(Game& g) {
  const Board& b = g.board;
  if (!is_player(g.turn) || b.hand.pieces != Hand{}.pieces || b.wall != masks::WALL ||
      b.promotion_zone != masks::PROMOTION_ZONE || b.last_row != masks::LAST_ROW ||
      b.last_two_rows != masks::LAST_TWO_ROWS)
    return false;
  // Sound: the colour boards split the occupied playing squares, and every
  // playing square is in exactly one piece board, the empty one exactly when
  // it is not occupied.
  const Bitboard black = b.color_boards[0], white = b.color_boards[1];
  if (any(black & white) || b.occupied != (black | white) || any(b.occupied & ~masks::PLAYING))
    return false;
  if (b.piece_boards[0] != (masks::PLAYING & ~b.occupied)) return false;
  Bitboard seen = b.piece_boards[0];
  int squares = popcount(seen);
  for (int k = 1; k < PIECE_TYPE_NB; ++k) {
    seen |= b.piece_boards[k];
    squares += popcount(b.piece_boards[k]);
  }
  if (seen != masks::PLAYING || squares != popcount(masks::PLAYING)) return false;
  game_ = &g;
  build();
  return true;
}

void Playout::build() {
  const Board& b = game_->board;
  static constexpr auto EMPTY_CELLS = []() consteval {
    std::array<std::uint8_t, 128 + 2 * PAD> cells{};
    for (int i = 0; i < int(cells.size()); ++i)
      cells[i] =
          i >= PAD && contains(masks::PLAYING, unsigned(i - PAD)) && i - PAD < 128 ? 0 : WALL;
    return cells;
  }();
  cell_ = EMPTY_CELLS;
  for (Side& side : sides_) {
    for (List& list : side.lists) list.size = 0;
    side.ends_stale = true;
    side.ray_weight = 0;
    side.kings = 0;
    side.pawns.fill(0);
    side.pawn_columns = 0;
    side.lances = 0;
  }
  for (int k = 1; k < PIECE_TYPE_NB; ++k)
    for (int c = 0; c < COLOR_NB; ++c)
      for_each_square(b.piece_boards[k] & b.color_boards[c],
                      [&](Square s) { add_piece(c, s, PieceType(k)); });
}

void Playout::add_piece(int c, Square s, PieceType kind) {
  Side& side = sides_[c];
  const Membership m = MEMBERSHIP[index(kind)];
  cell_[s + PAD] = cell_code(c, kind);
  push(side.lists[m.plain], s);
  if (IN_PROMOTING_GROUP[c][index(kind)][s]) push(side.lists[m.promoting], s);
  List& rays = side.lists[m.ray];
  rays.weight[rays.size] = RAY_WEIGHT[c][index(kind)][s];
  side.ray_weight += RAY_WEIGHT[c][index(kind)][s];
  push(rays, s);
  side.ends_stale = true;
  side.kings += kind == PieceType::King;
  if (kind == PieceType::Lance) side.lances |= square_bb(s);
  if (kind == PieceType::Pawn && side.pawns[column_of(s)]++ == 0)
    side.pawn_columns |= COLUMN_BB[column_of(s)];
}

void Playout::remove_piece(int c, Square s, PieceType kind) {
  Side& side = sides_[c];
  const Membership m = MEMBERSHIP[index(kind)];
  cell_[s + PAD] = 0;
  erase(side.lists[m.plain], s);
  if (IN_PROMOTING_GROUP[c][index(kind)][s]) erase(side.lists[m.promoting], s);
  side.ray_weight -= RAY_WEIGHT[c][index(kind)][s];
  erase(side.lists[m.ray], s);
  side.ends_stale = true;
  side.kings -= kind == PieceType::King;
  if (kind == PieceType::Lance) side.lances &= ~square_bb(s);
  if (kind == PieceType::Pawn && --side.pawns[column_of(s)] == 0)
    side.pawn_columns &= ~COLUMN_BB[column_of(s)];
}

// A piece of the kind moves without changing kind; to is empty. Pieces
// that keep their kind keep their column or are no Pawns.
void Playout::move_piece(int c, Square from, Square to, PieceType kind) {
  Side& side = sides_[c];
  const Membership m = MEMBERSHIP[index(kind)];
  cell_[to + PAD] = cell_[from + PAD];
  cell_[from + PAD] = 0;
  relocate(side.lists[m.plain], from, to);
  if (kind == PieceType::Lance) side.lances ^= square_bb(from) | square_bb(to);
  List& rays = side.lists[m.ray];
  const std::uint8_t weight = RAY_WEIGHT[c][index(kind)][to];
  side.ray_weight += weight - RAY_WEIGHT[c][index(kind)][from];
  rays.weight[rays.at[from]] = weight;
  relocate(rays, from, to);
  // Into, out of or within where a step can promote.
  const bool was_in = IN_PROMOTING_GROUP[c][index(kind)][from];
  const bool is_in = IN_PROMOTING_GROUP[c][index(kind)][to];
  if (was_in == is_in) {
    if (was_in) relocate(side.lists[m.promoting], from, to);
    return;
  }
  side.ends_stale = true;
  if (was_in)
    erase(side.lists[m.promoting], from);
  else
    push(side.lists[m.promoting], to);
}

void Playout::prepare() {
  const Board& b = game_->board;
  c_ = index(game_->turn);
  own_ = b.color_boards[c_];
  blockers_ = b.color_boards[0] | b.color_boards[1];
  zone_ = masks::PROMOTION_ZONE[c_];
  Side& side = sides_[c_];

  // Group sizes change with captures, promotions, drops and steps into or
  // out of where a step can promote; most moves change none.
  if (side.ends_stale) {
    std::uint32_t weight = 0;
    for (int g = 0; g < GROUP_NB; ++g) {
      weight += side.lists[g].size * STEP_GROUPS[g].steps;
      side.step_ends[g] = std::uint16_t(weight);
    }
    side.ends_stale = false;
  }
  step_ends_ = &side.step_ends;
  step_weight_ = side.step_ends[GROUP_NB - 1];
  rays_ = &side.lists[RAY_LIST];
  ray_weight_ = side.ray_weight;

  // All the mover's Lances at once: their targets by an occluded fill. A
  // Lance only moves forward, so from the zone all its targets are in the
  // zone: the promoting targets are the targets in the zone.
  lances_ = side.lances;
  lance_plain_ = (c_ ? lance_targets<-FILE_NB>(lances_, blockers_)
                     : lance_targets<FILE_NB>(lances_, blockers_)) &
                 ~own_;
  lance_promoting_ = lance_plain_ & zone_;
  lance_plain_count_ = std::uint32_t(popcount(lance_plain_));
  lance_weight_ = lance_plain_count_ + std::uint32_t(popcount(lance_promoting_));

  drop_weight_ = 0;
  drop_count_ = 0;
  const std::uint8_t* counts = b.hand.counts.data() + first_drop_slot(c_);
  // The eight counters at once, the King's (never dropped) cleared.
  std::array<std::uint8_t, 8> eight;
  std::memcpy(eight.data(), counts - 1, eight.size());
  eight[0] = 0;
  std::uint64_t held;
  std::memcpy(&held, eight.data(), sizeof held);
  if (!held) return;
  const Bitboard empty = masks::PLAYING & ~blockers_;
  for (int k = index(PieceType::Gold); k <= index(PieceType::Pawn); ++k) {
    if (!counts[k - index(PieceType::Gold)]) continue;
    Bitboard targets = empty;
    if (k == index(PieceType::Knight)) targets &= ~masks::LAST_TWO_ROWS[c_];
    if (k == index(PieceType::Lance)) targets &= ~masks::LAST_ROW[c_];
    if (k == index(PieceType::Pawn)) targets &= ~(masks::LAST_ROW[c_] | side.pawn_columns);
    if (!any(targets)) continue;
    drop_weight_ += std::uint32_t(popcount(targets));
    drops_[drop_count_++] = {targets, drop_weight_, PieceType(k)};
  }
}

KOMABAN_ALWAYS_INLINE Playout::Candidate Playout::decode(std::uint32_t i) const {
  const Side& side = sides_[c_];
  if (i < step_weight_) {
    // The group by comparisons with the groups' ends, without a branch.
    int g = 0;
    const auto& ends = *step_ends_;
    for (int k = 0; k + 1 < GROUP_NB; ++k) g += i >= ends[k];
    if (g) i -= ends[g - 1];
    const StepGroup& group = STEP_GROUPS[g];
    const unsigned piece = (i * group.reciprocal) >> 16;
    const Square from = side.lists[g].squares[piece];
    const int to = from + group.offsets[c_][i - piece * group.steps];
    const std::uint8_t landing = cell_[to + PAD];
    bool accepted = !(landing & tag(c_));
    if (group.promoting) accepted = accepted && (contains(zone_, from) || contains(zone_, to));
    return {make_board_move(from, Square(to), group.promoting), cell_kind(cell_[from + PAD]),
            accepted};
  }
  i -= step_weight_;
  if (i < ray_weight_) {
    int r = 0;
    const List& rays = *rays_;
    while (i >= rays.weight[r]) i -= rays.weight[r++];
    const Square from = rays.squares[r];
    const PieceType kind = cell_kind(cell_[from + PAD]);
    const RayCandidates& entry = RAY_CANDIDATES[c_][ray_kind(kind)][from];
    const Square to = entry.to[i];
    const int d = entry.direction[i];
    // The path from the piece to its landing, the landing included: only
    // the landing may be taken, and not by a mover's piece.
    const Bitboard path = RAY[d][from] ^ RAY[d][to];
    const bool accepted = !any(path & blockers_ & ~square_bb(to)) && !(cell_[to + PAD] & tag(c_));
    return {make_board_move(from, to, i >= entry.plain), kind, accepted};
  }
  i -= ray_weight_;
  if (i < lance_weight_) {
    // The Lance that reaches the target is the first one behind it.
    const bool promoting = i >= lance_plain_count_;
    const Square to = promoting ? nth_square(lance_promoting_, i - lance_plain_count_)
                                : nth_square(lance_plain_, i);
    const int back = c_ ? FILE_NB : -FILE_NB;
    auto from = Square(to + back);
    while (!contains(lances_, from)) from = Square(from + back);
    return {make_board_move(from, to, promoting), PieceType::Lance, true};
  }
  i -= lance_weight_;
  int d = 0;
  while (i >= drops_[d].end) ++d;
  const DropRun& run = drops_[d];
  const std::uint32_t first = d ? drops_[d - 1].end : 0;
  return {make_drop(nth_square(run.targets, i - first), Color(c_), run.kind), run.kind, true};
}

Playout::Candidate Playout::candidate(std::uint32_t i) const { return decode(i); }

// Plays a move of the side to move's list on the record and the state.
KOMABAN_ALWAYS_INLINE void Playout::apply(Move m, PieceType kind) {
  Board& b = game_->board;
  const int c = c_, them = 1 - c;
  const Square to = to_square(m);
  const Bitboard to_bb = square_bb(to);
  if (is_drop(m)) {
    --b.hand.counts[first_drop_slot(c) + index(kind) - index(PieceType::Gold)];
    b.color_boards[c] |= to_bb;
    add_piece(c, to, kind);
    return;
  }
  const Square from = from_square(m);
  const std::uint8_t landing = cell_[to + PAD];
  if (landing) {
    // A capture: the piece goes to the mover's hand, demoted.
    const PieceType captured = cell_kind(landing);
    remove_piece(them, to, captured);
    b.color_boards[them] &= ~to_bb;
    b.hand.add_to_slot(std::size_t(c * 8 + index(demote(captured)) - 1), 1);
  }
  b.color_boards[c] = (b.color_boards[c] & ~square_bb(from)) | to_bb;
  // Listed moves promote only promotable kinds.
  const PieceType arriving = is_promote(m) ? promote(kind) : kind;
  if (arriving == kind) {
    move_piece(c, from, to, kind);
  } else {
    remove_piece(c, from, kind);
    add_piece(c, to, arriving);
  }
}

void Playout::sync() {
  Board& b = game_->board;
  b.occupied = b.color_boards[0] | b.color_boards[1];
  for (Bitboard& board : b.piece_boards) board = 0;
  b.piece_boards[index(PieceType::None)] = masks::PLAYING & ~b.occupied;
  for_each_square(b.occupied,
                  [&](Square s) { b.piece_boards[cell_[s + PAD] & 15] |= square_bb(s); });
}

bool Playout::play_move(Rng& rng, Move* played) {
  Game& g = *game_;
  prepare();
  // No candidate means no list entry.
  const std::uint32_t w = weight();
  Candidate drawn{0, PieceType::None, false};
  for (int attempt = 0; w && attempt < MAX_REJECTIONS && !drawn.accepted; ++attempt)
    drawn = decode(rng.uniform(std::uint16_t(w - 1)));
  if (!drawn.accepted && w) {
    // Too many rejections in a row: the exact bag, each entry as likely.
    bag_.generate(g.board, g.turn);
    if (bag_.size() != 0) {
      const Move m = bag_[rng.uniform(std::uint16_t(bag_.size() - 1))];
      drawn = {m, is_drop(m) ? komaban::move_piece(m).kind : cell_kind(cell_[from_square(m) + PAD]),
               true};
    }
  }
  if (!drawn.accepted) {
    g.winner = ~g.turn;
    return false;
  }
  if (played) *played = drawn.move;
  apply(drawn.move, drawn.kind);
  ++g.move_number;
  g.turn = ~g.turn;
  if (g.move_number >= MOVE_LIMIT) {
    g.winner = Color::None;
    return false;
  }
  const int kings = sides_[0].kings + sides_[1].kings;
  if (kings == 2) return true;
  g.winner = sides_[0].kings ? Color::Black : Color::White;
  return false;
}

std::string Playout::verify() const {
  auto fresh = std::make_unique<Playout>();
  Game copy = *game_;
  if (!fresh->attach(copy)) return "the record is no longer a position the state covers";
  if (fresh->cell_ != cell_) return "mailbox";
  auto sorted_squares = [](const List& list) {
    std::vector<Square> squares(list.squares.begin(), list.squares.begin() + list.size);
    std::sort(squares.begin(), squares.end());
    return squares;
  };
  for (int c = 0; c < COLOR_NB; ++c) {
    const Side &mine = sides_[c], &theirs = fresh->sides_[c];
    const std::string colour = " of colour " + std::to_string(c);
    if (mine.kings != theirs.kings) return "King count" + colour;
    if (mine.pawns != theirs.pawns || mine.pawn_columns != theirs.pawn_columns)
      return "Pawn columns" + colour;
    if (mine.lances != theirs.lances) return "Lances" + colour;
    if (mine.ray_weight != theirs.ray_weight) return "ray weight" + colour;
    std::uint32_t end = 0;
    for (int g = 0; g < GROUP_NB; ++g) {
      end += theirs.lists[g].size * STEP_GROUPS[g].steps;
      if (!mine.ends_stale && mine.step_ends[g] != end) return "step group ends" + colour;
    }
    for (int l = 0; l < SINK; ++l) {
      const List& list = mine.lists[l];
      const std::string name = " of list " + std::to_string(l) + colour;
      if (sorted_squares(list) != sorted_squares(theirs.lists[l])) return "squares" + name;
      for (int i = 0; i < list.size; ++i) {
        const Square s = list.squares[i];
        if (list.at[s] != i) return "place of square " + std::to_string(s) + name;
        if (l == RAY_LIST && list.weight[i] != RAY_WEIGHT[c][cell_[s + PAD] & 15][s])
          return "weight of square " + std::to_string(s) + name;
      }
    }
  }
  return {};
}

void play_random(Game& g, Rng& rng, Playout& playout) {
  if (game_outcome(g).finished) return;
  if (playout.attach(g)) {
    while (playout.play_move(rng)) {
    }
    playout.sync();
    return;
  }
  while (play_random_move(g, rng, playout.bag())) {
  }
}

Playout& scratch_playout() {
  thread_local std::unique_ptr<Playout> playout = std::make_unique<Playout>();
  return *playout;
}

}  // namespace komaban
