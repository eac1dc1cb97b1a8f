#ifndef KOMABAN_CORE_GAME_H
#define KOMABAN_CORE_GAME_H

#include <cstdint>
#include <string_view>

#include "komaban/core/move.h"
#include "komaban/core/movegen.h"
#include "komaban/core/position.h"
#include "komaban/core/random.h"

namespace komaban {

// From this move number on a game is over without a winner.
constexpr int MOVE_LIMIT = 500;

struct Game {
  Board board = start_position();
  std::uint16_t move_number = 1;
  Color turn = Color::Black;
  Color winner = Color::None;
};

// The move limit first, then the King count.
constexpr Outcome game_outcome(const Game& g) {
  if (g.move_number >= MOVE_LIMIT) return {true, Color::None};
  return king_outcome(g.board);
}

// Plays a move, advances the 16-bit move number and passes the turn; no check
// of whose turn it is or whether the game is over.
void play(Game& g, Move m);

// Strict unsigned decimal with an optional "+", at most 65535; else 0.
void input_move_number(Game& g, std::string_view text);
// "b" Black, "w" White, anything else None; only the first character counts.
void input_turn(Game& g, std::string_view text);

// One move of random play, the plain way, on a game that is not over: draws
// a move of the side to move's list uniformly from the exact bag (scratch
// space), plays it (stored in *played when played is given) and records the
// winner if it ended the game. Returns whether the game goes on; false with
// the opponent as winner and nothing played when the side to move has no
// move. Throws Panic where generate_moves does.
bool play_random_move(Game& g, Rng& rng, MoveBag& bag, Move* played = nullptr);

}  // namespace komaban

#endif
