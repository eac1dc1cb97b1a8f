#ifndef KOMABAN_CORE_SAMPLER_H
#define KOMABAN_CORE_SAMPLER_H

#include <array>
#include <cstdint>

#include "komaban/core/move.h"
#include "komaban/core/movegen.h"
#include "komaban/core/position.h"
#include "komaban/core/random.h"

namespace komaban {

// Draws one entry of the move list of generate_moves uniformly, without
// building the list, by rejection: all the position's candidates are
// counted cheaply, every list entry is exactly one candidate (duplicates
// included), and the other candidates stand for nothing. A draw picks a
// candidate uniformly; if it stands for nothing, the draw is repeated, so
// every entry comes out with the same chance. Three sorts of candidates:
//
//   steps and jumps, per group of kinds with as many directions: each piece
//     of the mover times the directions, and per promotable step kind the
//     same again, promoting, for the pieces that can stand in or step into
//     the zone. Accepted when the landing is a playing square without a
//     mover's piece (and, promoting, the piece or its landing is in the
//     zone). Steps are most of the list and cost only a count per group.
//   Rook, Bichop, Dragon and Horse slides, per piece: the squares its rays
//     reach on an empty board, plus (Rook, Bichop) those in the zone again,
//     all again from the zone. The first draw landing on such a piece works
//     out its targets; the first candidates then stand for its moves, and
//     once one of the others has been drawn the piece's count shrinks to its
//     moves. Shrinking to exactly the piece's moves keeps every entry's
//     chance equal to every other's, draw by draw.
//   Lance slides, the targets of all lances at once, and drops, a run of
//     targets per held label: exact, every candidate a move.
//
// After MAX_REJECTIONS rejections in a row the draw falls back to the exact
// bag (each entry is still equally likely, whether the fallback comes or not).
class MoveSampler {
 public:
  static constexpr int MAX_REJECTIONS = 32;

  struct Candidate {
    Move move;
    // The moving piece's kind, so that execution need not search for it;
    // None when not known (drops, moves from the bag).
    PieceType kind;
    bool accepted;
  };

  // Draws a move of colour c's list into out; false when the list is empty.
  // Throws Panic where generate_moves does, before drawing anything.
  bool draw(const Board& b, Color c, Rng& rng, Candidate& out);

  // The steps of draw, for checking the candidates one by one: prepare for
  // colour c (Black or White; throws Panic for a held hand label whose owner
  // is neither), then candidate i < weight() (b must outlive these calls).
  // candidate() may work out a slide piece's targets but changes no count;
  // shrink_all() shrinks every slide piece's count to its moves.
  void prepare(const Board& b, Color c);
  std::uint32_t weight() const {
    return step_weight_ + slide_weight_ + lance_weight_ + std::uint32_t(runs_.size());
  }
  Candidate candidate(std::uint32_t i);
  void shrink_all();

  // Groups of step and jump candidates: six plain, three promoting.
  static constexpr int STEP_GROUP_NB = 9;

 private:
  // A Rook, Bichop, Dragon or Horse of the mover.
  struct Slider {
    Bitboard plain;      // its targets, once known
    Bitboard promoting;  // its promoting targets, once known
    Square from;
    PieceType kind;
    std::uint8_t weight;       // its candidates now
    std::uint8_t plain_count;  // once known
    std::uint8_t count;        // its moves, once known
    bool known;
  };

  void learn(Slider& s) const;
  void shrink(Slider& s) {
    slide_weight_ -= s.weight - s.count;
    s.weight = s.count;
  }
  bool draw_from_bag(const Board& b, Color c, Rng& rng, Candidate& out);

  const Board* board_ = nullptr;
  int c_ = 0;
  Bitboard own_ = 0, open_ = 0, blockers_ = 0, zone_ = 0;
  std::array<Bitboard, STEP_GROUP_NB> step_pieces_{};
  // Candidates of the step groups up to and including each.
  std::array<std::uint16_t, STEP_GROUP_NB> step_ends_{};
  std::uint32_t step_weight_ = 0;
  std::array<Slider, 128> sliders_;
  int slider_count_ = 0;
  std::uint32_t slide_weight_ = 0;
  Slider* last_slider_ = nullptr;  // the slider of the last candidate drawn
  // All the mover's lances' targets, plain then promoting.
  Bitboard lances_ = 0, lance_plain_ = 0, lance_promoting_ = 0;
  std::uint32_t lance_plain_count_ = 0, lance_weight_ = 0;
  MoveRuns runs_;  // drops
  MoveBag bag_;
};

// Per-thread scratch sampler for random play.
MoveSampler& scratch_move_sampler();

}  // namespace komaban

#endif
