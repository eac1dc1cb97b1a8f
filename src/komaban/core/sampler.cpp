#include "komaban/core/sampler.h"

#include <bit>
#include <memory>
#include <utility>

#include "komaban/core/reach.h"

namespace komaban {

namespace {

// Step and jump offsets of each kind and colour, one per direction it steps
// or jumps in.
struct Steps {
  std::array<std::array<std::int8_t, 8>, COLOR_NB> offsets{};
  unsigned count = 0;
};
constexpr auto STEPS = []() consteval {
  std::array<Steps, PIECE_TYPE_NB> steps{};
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    for (int d = 0; d < 8; ++d) {
      const Reach reach = REACH[k][d];
      if (reach != STEP && reach != JUMP) continue;
      for (int c = 0; c < COLOR_NB; ++c)
        steps[k].offsets[c][steps[k].count] = std::int8_t(step_offset(c, d, reach));
      ++steps[k].count;
    }
  return steps;
}();

consteval std::uint16_t kind_bit(PieceType k) { return std::uint16_t(1u << index(k)); }

// Step and jump candidates come in groups of kinds with as many directions
// each: a group's candidates are its pieces times that count, piece by piece.
// A plain group holds every piece of its kinds; a promoting group only those
// that can promote (see GROUP_REGION). Fewer groups, fewer counts to take.
struct StepGroup {
  std::uint16_t kinds;
  bool promoting;
  unsigned steps = 0;  // directions of each kind
  // ceil(2^16 / steps): candidate j is piece j / steps, taken as
  // (j * reciprocal) >> 16 without a division (exact for every j in range,
  // checked below).
  unsigned reciprocal = 0;
};
constexpr auto STEP_GROUPS = []() consteval {
  std::array<StepGroup, MoveSampler::STEP_GROUP_NB> groups = {{
      {kind_bit(PieceType::King), false},
      {std::uint16_t(kind_bit(PieceType::Gold) | kind_bit(PieceType::ProSilver) |
                     kind_bit(PieceType::ProKnight) | kind_bit(PieceType::ProLance) |
                     kind_bit(PieceType::ProPawn)),
       false},
      {kind_bit(PieceType::Silver), false},
      {kind_bit(PieceType::Knight), false},
      {kind_bit(PieceType::Pawn), false},
      {std::uint16_t(kind_bit(PieceType::Dragon) | kind_bit(PieceType::Horse)), false},
      {kind_bit(PieceType::Silver), true},
      {kind_bit(PieceType::Knight), true},
      {kind_bit(PieceType::Pawn), true},
  }};
  for (StepGroup& g : groups) {
    g.steps = STEPS[std::countr_zero(g.kinds)].count;
    g.reciprocal = (65536 + g.steps - 1) / g.steps;
  }
  return groups;
}();

consteval bool step_groups_sound() {
  std::uint16_t plain = 0, promoting = 0;
  for (const StepGroup& g : STEP_GROUPS) {
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      if (g.kinds >> k & 1 && STEPS[k].count != g.steps) return false;
    for (unsigned j = 0; j < 128 * g.steps; ++j)
      if ((j * g.reciprocal) >> 16 != j / g.steps) return false;
    (g.promoting ? promoting : plain) |= g.kinds;
  }
  // Every kind that steps or jumps is in one plain group, every promotable
  // one of them in one promoting group.
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    if ((plain >> k & 1) != (STEPS[k].count != 0) ||
        (promoting >> k & 1) != (STEPS[k].count != 0 && is_promotable(PieceType(k))))
      return false;
  return true;
}
static_assert(step_groups_sound());

// Squares from which a piece of the group's kinds and colour c has a
// promoting step on an empty board: every square for a plain group.
constexpr auto GROUP_REGION = []() consteval {
  std::array<std::array<Bitboard, MoveSampler::STEP_GROUP_NB>, COLOR_NB> region{};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int g = 0; g < MoveSampler::STEP_GROUP_NB; ++g) {
      if (!STEP_GROUPS[g].promoting) {
        region[c][g] = ~Bitboard(0);
        continue;
      }
      const Bitboard zone = masks::PROMOTION_ZONE[c];
      for (int k = 0; k < PIECE_TYPE_NB; ++k)
        if (STEP_GROUPS[g].kinds >> k & 1)
          for (int s = 0; s < SQUARE_NB; ++s) {
            const Bitboard targets = STEP_TARGETS[c][k][s];
            if ((contains(zone, s) && any(targets)) || any(targets & zone))
              region[c][g] |= square_bb(s);
          }
    }
  return region;
}();

// Candidates of a Rook, Bichop, Dragon or Horse of colour c on s: the
// squares its rays reach, plus those in the zone (all of them from the zone)
// again for a promotable kind. At most 2 x 16.
constexpr auto SLIDE_BOUND = []() consteval {
  std::array<std::array<std::array<std::uint8_t, SQUARE_NB>, PIECE_TYPE_NB>, COLOR_NB> bound{};
  for (int c = 0; c < COLOR_NB; ++c)
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      for (int s = 0; s < SQUARE_NB; ++s) {
        const Bitboard reach = slide_reach(c, k, s);
        const Bitboard zone = masks::PROMOTION_ZONE[c];
        const Bitboard promoting = !is_promotable(PieceType(k)) ? 0
                                   : contains(zone, s)          ? reach
                                                                : reach & zone;
        bound[c][k][s] = std::uint8_t(popcount(reach) + popcount(promoting));
      }
  return bound;
}();

}  // namespace

void MoveSampler::prepare(const Board& b, Color color) {
  board_ = &b;
  c_ = color == Color::White ? 1 : 0;
  own_ = b.color_boards[c_];
  open_ = masks::PLAYING & ~own_;
  blockers_ = b.color_boards[0] | b.color_boards[1];
  zone_ = masks::PROMOTION_ZONE[c_];

  // Straight-line code per group: the kinds are constants.
  step_weight_ = 0;
  [&]<std::size_t... G>(std::index_sequence<G...>) {
    ((step_pieces_[G] = union_of<STEP_GROUPS[G].kinds>(b.piece_boards) & own_ & GROUP_REGION[c_][G],
      step_weight_ += unsigned(popcount(step_pieces_[G])) * STEP_GROUPS[G].steps,
      step_ends_[G] = std::uint16_t(step_weight_)),
     ...);
  }(std::make_index_sequence<STEP_GROUP_NB>());

  slider_count_ = 0;
  slide_weight_ = 0;
  // One pass over all four kinds: Rook 3, Bichop 4, Dragon 9, Horse 10.
  const auto& pb = b.piece_boards;
  const Bitboard diagonal = pb[index(PieceType::Bichop)] | pb[index(PieceType::Horse)];
  const Bitboard promoted = pb[index(PieceType::Dragon)] | pb[index(PieceType::Horse)];
  for_each_square((pb[index(PieceType::Rook)] | diagonal | promoted) & own_, [&](Square from) {
    const auto kind = PieceType(index(PieceType::Rook) + contains(diagonal, from) +
                                PROMOTION_OFFSET * contains(promoted, from));
    Slider& s = sliders_[slider_count_++];
    s.from = from;
    s.kind = kind;
    s.weight = SLIDE_BOUND[c_][index(kind)][from];
    s.known = false;
    slide_weight_ += s.weight;
  });

  runs_.clear();
  add_drop_runs(b, color, runs_);

  // Lances only move forward, so a lance in the zone has all its targets in
  // the zone: the promoting targets are the targets in the zone.
  lances_ = b.piece_boards[index(PieceType::Lance)] & own_;
  lance_plain_ = (c_ ? lance_targets<-FILE_NB>(lances_, blockers_)
                     : lance_targets<FILE_NB>(lances_, blockers_)) &
                 ~own_;
  lance_promoting_ = lance_plain_ & zone_;
  lance_plain_count_ = std::uint32_t(popcount(lance_plain_));
  lance_weight_ = lance_plain_count_ + std::uint32_t(popcount(lance_promoting_));
}

void MoveSampler::learn(Slider& s) const {
  const bool diagonal = s.kind == PieceType::Bichop || s.kind == PieceType::Horse;
  s.plain = four_slides(diagonal, s.from, blockers_) & ~own_;
  const Bitboard promoting = contains(zone_, s.from) ? s.plain : s.plain & zone_;
  s.promoting = is_promotable(s.kind) ? promoting : 0;
  s.plain_count = std::uint8_t(popcount(s.plain));
  s.count = std::uint8_t(s.plain_count + popcount(s.promoting));
  s.known = true;
}

void MoveSampler::shrink_all() {
  for (int r = 0; r < slider_count_; ++r) {
    if (!sliders_[r].known) learn(sliders_[r]);
    shrink(sliders_[r]);
  }
}

MoveSampler::Candidate MoveSampler::candidate(std::uint32_t i) {
  last_slider_ = nullptr;
  if (i < step_weight_) {
    // The group by comparisons with the groups' ends, without a branch.
    int g = 0;
    for (int k = 0; k + 1 < STEP_GROUP_NB; ++k) g += i >= step_ends_[k];
    if (g) i -= step_ends_[g - 1];
    const StepGroup& group = STEP_GROUPS[g];
    const unsigned piece = (i * group.reciprocal) >> 16;
    const auto& boards = board_->piece_boards;
    const Square from = nth_square(step_pieces_[g], piece);
    unsigned kinds = group.kinds;
    while (!contains(boards[std::countr_zero(kinds)], from)) kinds &= kinds - 1;
    const auto kind = PieceType(std::countr_zero(kinds));
    const int to = from + STEPS[index(kind)].offsets[c_][i - piece * group.steps];
    bool accepted = unsigned(to) < SQUARE_NB && contains(open_, Square(to));
    if (group.promoting)
      accepted = accepted && (contains(zone_, from) || contains(zone_, Square(to)));
    return {make_board_move(from, Square(to), group.promoting), kind, accepted};
  }
  i -= step_weight_;
  if (i >= slide_weight_) {
    i -= slide_weight_;
    if (i >= lance_weight_) {
      const MoveRuns::Entry entry = runs_.entry(i - lance_weight_);
      return {entry.move, entry.kind, true};
    }
    // The lance that reached the target is the first one behind it.
    const bool promoting = i >= lance_plain_count_;
    const Square to = promoting ? nth_square(lance_promoting_, i - lance_plain_count_)
                                : nth_square(lance_plain_, i);
    const int back = c_ ? FILE_NB : -FILE_NB;
    auto from = Square(to + back);
    while (!contains(lances_, from)) from = Square(from + back);
    return {make_board_move(from, to, promoting), PieceType::Lance, true};
  }
  Slider* s = sliders_.data();
  while (i >= s->weight) i -= (s++)->weight;
  last_slider_ = s;
  if (!s->known) learn(*s);
  if (i < s->plain_count) return {make_board_move(s->from, nth_square(s->plain, i)), s->kind, true};
  if (i < s->count)
    return {make_board_move(s->from, nth_square(s->promoting, i - s->plain_count), true), s->kind,
            true};
  return {0, s->kind, false};
}

bool MoveSampler::draw(const Board& b, Color c, Rng& rng, Candidate& out) {
  // Other colours fail in generation; the bag fails the same way.
  if (!is_player(c)) return draw_from_bag(b, c, rng, out);
  prepare(b, c);
  for (int attempt = 0; attempt < MAX_REJECTIONS; ++attempt) {
    const std::uint32_t w = weight();
    if (w == 0) return false;  // no candidate, so no list entry
    out = candidate(rng.uniform(std::uint16_t(w - 1)));
    if (out.accepted) return true;
    if (last_slider_) shrink(*last_slider_);
  }
  return draw_from_bag(b, c, rng, out);
}

bool MoveSampler::draw_from_bag(const Board& b, Color c, Rng& rng, Candidate& out) {
  bag_.generate(b, c);
  if (bag_.size() == 0) return false;
  const MoveRuns::Entry entry = bag_.entry(rng.uniform(std::uint16_t(bag_.size() - 1)));
  out = {entry.move, entry.kind, true};
  return true;
}

MoveSampler& scratch_move_sampler() {
  thread_local std::unique_ptr<MoveSampler> sampler = std::make_unique<MoveSampler>();
  return *sampler;
}

}  // namespace komaban
