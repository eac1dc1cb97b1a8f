// Generation against the draw: for a position and a colour from the input,
// the move list equals the reference list (order and failures included);
// the bag holds the list's moves; every candidate of the random-play sampler
// is enumerated, and the accepted ones are the list as a multiset; a draw
// with a generator seeded from the input gives a listed move.

#include "../native/checks.h"
#include "fuzz_input.h"

using namespace komaban;
using namespace komaban::checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const Board b = fuzz::position(in);
  const Color c = fuzz::color_of(in.byte());
  Rng rng({in.quad(), in.quad(), 0, 1});
  auto list = std::make_unique<MoveList>();
  auto bag = std::make_unique<MoveBag>();
  auto sampler = std::make_unique<MoveSampler>();

  check_generation(b, c, *list);
  const bool failed = panic_of([&] { generate_moves(b, c, *list); }).has_value();
  check(failed == panic_of([&] { bag->generate(b, c); }).has_value(),
        "the bag fails exactly where the list does");
  if (failed) {
    MoveSampler::Candidate drawn;
    check(panic_of([&] { sampler->draw(b, c, rng, drawn); }).has_value(),
          "a draw fails where the list does");
    return 0;
  }
  check_bag(b, c, *list, *bag);
  check_sampler(b, c, *list, *sampler);
  check_draw(b, c, *list, *sampler, rng);
  return 0;
}
