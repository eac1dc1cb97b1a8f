#ifndef KOMABAN_CORE_GAME_H
#define KOMABAN_CORE_GAME_H

#include <cstdint>
#include <string_view>

#include "komaban/core/move.h"
#include "komaban/core/movegen.h"
#include "komaban/core/position.h"
#include "komaban/core/random.h"
#include "komaban/core/sampler.h"

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

// Plays uniformly random moves until the game is over and records the winner
// when a move of this call ended it. A side to move without any move loses:
// the game stops there with the opponent as winner. Each move is drawn with
// the same chance as an index into the move list (see MoveSampler); sampler
// is scratch space, reused for every move.
void play_random(Game& g, Rng& rng, MoveSampler& sampler);

// One move of play_random, on a game that is not over: plays a random move
// of the side to move (stored in *played when played is given) and records
// the winner if it ended the game. Returns whether the game goes on; false
// with nothing played when the side to move has no move.
bool play_random_move(Game& g, Rng& rng, MoveSampler& sampler, Move* played = nullptr);

}  // namespace komaban

#endif
