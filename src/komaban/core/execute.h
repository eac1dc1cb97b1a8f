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

// The same for a board move whose moving piece's kind the caller knows: the
// first piece board holding the from square, and a from square other than
// the to square (a capture on the to square would change it). Spares the
// search for the kind.
void execute_board_move(Board& b, Move m, PieceType kind);

}  // namespace komaban

#endif
