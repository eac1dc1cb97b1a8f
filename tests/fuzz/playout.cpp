// A short random playout from a position, side to move and move number from
// the input, with a generator seeded from it, checked ply by ply: the
// sampler's candidates against the list, the move played is a listed one
// and its execution matches the reference, number and turn advance, and the
// game ends exactly when the end rules say, with the winner they give.

#include "../native/checks.h"
#include "fuzz_input.h"

using namespace komaban;
using namespace komaban::checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  Game g;
  g.board = fuzz::position(in);
  g.turn = fuzz::color_of(in.byte());
  // Mostly early numbers, sometimes just below the limit.
  const std::uint8_t number = in.byte();
  g.move_number = std::uint16_t(number & 0x80 ? 500 - (number & 7) : number);
  g.winner = fuzz::color_of(in.byte());
  const int plies = in.byte() & 31;
  Rng rng({in.quad(), in.quad(), 0, 1});
  auto list = std::make_unique<MoveList>();
  auto sampler = std::make_unique<MoveSampler>();
  if (game_outcome(g).finished) return 0;

  for (int ply = 0; ply < plies; ++ply) {
    const Game before = g;
    std::vector<Move> expected;
    const bool failing = panic_of([&] { expected = reference_moves(g.board, g.turn); }).has_value();
    if (!failing) check_sampler(g.board, g.turn, *list, *sampler);
    Move played = 0;
    bool goes_on = false;
    const bool failed =
        panic_of([&] { goes_on = play_random_move(g, rng, *sampler, &played); }).has_value();
    check(failed == failing, "random play fails exactly where generation does");
    if (failed) return 0;
    if (expected.empty()) {
      check(!goes_on && g.winner == ~before.turn && g.board == before.board &&
                g.move_number == before.move_number,
            "a side without moves loses, nothing played");
      return 0;
    }
    check(std::find(expected.begin(), expected.end(), played) != expected.end(),
          "the move played is listed", played);
    Board after = before.board;
    reference_execute(after, played);
    check(g.board == after, "the move played is executed as the reference does", played);
    check(g.move_number == std::uint16_t(before.move_number + 1) && g.turn == ~before.turn,
          "number and turn advance");
    const Outcome end =
        g.move_number >= 500 ? Outcome{true, Color::None} : reference_king_outcome(g.board);
    check(goes_on == !end.finished, "the game ends exactly by the end rules");
    check(g.winner == (end.finished ? end.winner : before.winner), "the winner of the end rules");
    if (!goes_on) return 0;
  }
  return 0;
}
