#ifndef KOMABAN_CORE_EXECUTE_H
#define KOMABAN_CORE_EXECUTE_H

#include "komaban/core/move.h"
#include "komaban/core/position.h"

namespace komaban {

// Takes whatever stands on square t off the board into the hand of the
// opponent of its colour (Black receives anything not Black), demoted.
void move_to_hand(Board& b, Square t);

// Plays a move without validating it: captures what stands on the target,
// moves or drops the piece, promotes it when flagged. A drop decreases its
// hand counter, never below zero. Throws Panic for a drop whose slot is out
// of range, after the capture.
void execute_move(Board& b, Move m);

// The same for a generated board move of colour c (Black or White) whose
// moving piece's kind the caller knows, so that it need not be searched for:
// the move's from square holds a piece of that kind and colour, its to square
// is a playing square without a piece of colour c.
void execute_board_move(Board& b, Move m, PieceType kind, Color c);

}  // namespace komaban

#endif
