#ifndef KOMABAN_CORE_MOVEGEN_H
#define KOMABAN_CORE_MOVEGEN_H

#include <array>
#include <cstddef>

#include "komaban/core/move.h"
#include "komaban/core/position.h"

namespace komaban {

// An upper bound on the length of any move list: at most 128 squares hold a
// mover's piece, each with at most 8 squares in each of 8 directions, listed
// plain and promoting; then at most 8 hand labels with at most 128 targets.
constexpr std::size_t MAX_MOVES = 128 * 8 * 8 * 2 + 8 * 128;

struct MoveList {
  std::array<Move, MAX_MOVES> moves;
  std::size_t size = 0;

  const Move* begin() const { return moves.data(); }
  const Move* end() const { return moves.data() + size; }
};

// Lists the pseudo-legal moves of colour c into list (its old content is
// discarded): board moves by ascending source square, each piece's plain
// targets ascending then its promoting targets ascending; then drops by hand
// slot order, targets ascending. Throws Panic for a colour other than Black
// and White, and for a hand label whose owner is neither.
void generate_moves(const Board& b, Color c, MoveList& list);

// A per-thread list for callers that need one transiently.
MoveList& scratch_move_list();

}  // namespace komaban

#endif
