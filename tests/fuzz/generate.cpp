// Generation against the draw: for a position and a colour from the input,
// the move list equals the reference list (order and failures included) and
// the bag holds its moves; where the random-play state covers the position,
// every candidate of its draw is enumerated and the accepted ones are the
// list as a multiset, and a move drawn with a generator seeded from the
// input is listed and played as the reference plays it.

#include "../native/checks.h"
#include "fuzz_input.h"

using namespace komaban;
using namespace komaban::checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  Game g = fuzz::game(in);
  Rng rng({in.quad(), in.quad(), 0, 1});
  auto list = std::make_unique<MoveList>();
  auto bag = std::make_unique<MoveBag>();
  auto playout = std::make_unique<Playout>();

  check_generation(g.board, g.turn, *list);
  const bool failed = panic_of([&] { generate_moves(g.board, g.turn, *list); }).has_value();
  check(failed == panic_of([&] { bag->generate(g.board, g.turn); }).has_value(),
        "the bag fails exactly where the list does");
  if (failed) return 0;
  check_bag(g.board, g.turn, *list, *bag);
  if (game_outcome(g).finished || !playout->attach(g)) return 0;
  check_random_move(g, playout.get(), *bag, rng, *list);
  return 0;
}
