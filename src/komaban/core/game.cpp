#include "komaban/core/game.h"

#include "komaban/core/execute.h"

namespace komaban {

void play(Game& g, Move m) {
  execute_move(g.board, m);
  ++g.move_number;
  g.turn = ~g.turn;
}

void input_move_number(Game& g, std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint32_t value = 0;
  bool valid = !text.empty();
  for (char c : text) {
    if (c < '0' || c > '9' || (value = value * 10 + std::uint32_t(c - '0')) > 0xffff) {
      valid = false;
      break;
    }
  }
  g.move_number = valid ? std::uint16_t(value) : 0;
}

void input_turn(Game& g, std::string_view text) {
  const char first = text.empty() ? '\0' : text.front();
  g.turn = first == 'b' ? Color::Black : first == 'w' ? Color::White : Color::None;
}

bool play_random_move(Game& g, Rng& rng, MoveBag& bag, Move* played) {
  bag.generate(g.board, g.turn);
  if (bag.size() == 0) {
    g.winner = ~g.turn;
    return false;
  }
  const MoveRuns::Entry drawn = bag.entry(rng.uniform(std::uint16_t(bag.size() - 1)));
  if (played) *played = drawn.move;
  if (drawn.kind == PieceType::None)
    execute_move(g.board, drawn.move);
  else
    execute_board_move(g.board, drawn.move, drawn.kind, g.turn);
  ++g.move_number;
  g.turn = ~g.turn;
  if (g.move_number >= MOVE_LIMIT) {
    g.winner = Color::None;
    return false;
  }
  const Outcome outcome = king_outcome(g.board);
  if (outcome.finished) g.winner = outcome.winner;
  return !outcome.finished;
}

}  // namespace komaban
