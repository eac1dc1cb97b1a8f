#ifndef KOMABAN_CORE_MOVEGEN_H
#define KOMABAN_CORE_MOVEGEN_H

#include <array>
#include <cstddef>

#include "komaban/core/move.h"
#include "komaban/core/position.h"

namespace komaban {

// Each of at most 128 mover's pieces has at most 8 targets in each of 8
// directions, listed plain and promoting; then at most 8 hand labels with at
// most 128 targets each.
constexpr std::size_t MAX_MOVES = 128 * 2 * 8 * 8 + 8 * 128;

struct MoveList {
  std::array<Move, MAX_MOVES> moves;
  std::size_t size = 0;

  const Move* begin() const { return moves.data(); }
  const Move* end() const { return moves.data() + size; }
};

// Lists the pseudo-legal moves of colour c into list, in this order: board
// moves by ascending source square, each piece's plain targets ascending then
// its promoting targets ascending; then drops by hand slot order, targets
// ascending. Throws Panic for a colour other than Black and White, and for a
// hand label whose owner is neither.
void generate_moves(const Board& b, Color c, MoveList& list);

// Moves grouped in runs, each a set of target squares sharing the rest of
// the move: a compact, unordered list that can still be indexed.
class MoveRuns {
 public:
  struct Entry {
    Move move;
    // The moving piece's kind when the run knows it; None for drops and
    // runs of several kinds.
    PieceType kind;
  };

  void clear() { size_ = move_count_ = 0; }
  std::size_t size() const { return move_count_; }
  // Move i, i < size().
  Move operator[](std::size_t i) const { return entry(i).move; }
  Entry entry(std::size_t i) const;

  // Moves base | (t << 7) | (t - offset) for every t in targets; an offset
  // of 0 means that base holds the from square (slides) or the dropped piece.
  void add(Bitboard targets, Move base, PieceType kind = PieceType::None, int offset = 0) {
    if (!any(targets)) return;
    move_count_ += std::size_t(popcount(targets));
    runs_[size_++] = {targets, std::uint32_t(move_count_), base, std::int8_t(offset), kind};
  }

 private:
  // end is the number of moves in this run and all runs before it.
  struct Run {
    Bitboard targets;
    std::uint32_t end;
    Move base;
    std::int8_t offset;
    PieceType kind;
  };
  // 10 step and jump directions with a plain and a promoting run each, two
  // runs per sliding piece, one per hand label.
  static constexpr std::size_t CAPACITY = 10 * 2 + 128 * 2 + 8;

  std::array<Run, CAPACITY> runs_;
  std::size_t size_ = 0;
  std::size_t move_count_ = 0;
};

// Adds the slide moves of colour c, a plain and a promoting run per piece.
void add_slide_runs(const Board& b, Color c, MoveRuns& runs);
// Adds a drop run per kind held by colour c. Throws Panic as generate_moves
// does.
void add_drop_runs(const Board& b, Color c, MoveRuns& runs);

// The same moves as generate_moves, unordered: every move of the list
// appears exactly once (as often as in the list), in another order. Step
// and jump moves are gathered for all pieces of a direction at once by
// shifting whole bitboards; only slides are walked piece by piece. A uniform
// index into the bag picks each move of the list with the same chance as a
// uniform index into the list.
class MoveBag : public MoveRuns {
 public:
  // Throws Panic as generate_moves does.
  void generate(const Board& b, Color c);
};

// Per-thread scratch space for callers that need it transiently.
MoveList& scratch_move_list();

}  // namespace komaban

#endif
