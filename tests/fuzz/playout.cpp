// A short random playout from a position, side to move and move number from
// the input, with a generator seeded from it, checked ply by ply (see
// check_random_move): with the random-play state where it covers the
// position, its candidates enumerated and its state compared with a fresh one
// after every move; the plain way elsewhere.

#include "../native/checks.h"
#include "fuzz_input.h"

using namespace komaban;
using namespace komaban::checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  Game g = fuzz::game(in);
  // Mostly early numbers, sometimes just below the limit.
  const std::uint8_t number = in.byte();
  g.move_number = std::uint16_t(number & 0x80 ? 500 - (number & 7) : number);
  g.winner = fuzz::color_of(in.byte());
  const int plies = in.byte() & 31;
  Rng rng({in.quad(), in.quad(), 0, 1});
  auto list = std::make_unique<MoveList>();
  auto bag = std::make_unique<MoveBag>();
  auto playout = std::make_unique<Playout>();
  if (game_outcome(g).finished) return 0;
  Playout* attached = playout->attach(g) ? playout.get() : nullptr;
  for (int ply = 0; ply < plies && check_random_move(g, attached, *bag, rng, *list); ++ply) {
  }
  return 0;
}
