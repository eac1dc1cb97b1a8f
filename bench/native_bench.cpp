// Native benchmark of the core: move generation on the start position and on
// midgame positions, and random games from the start position. Every figure
// is the median of several timed runs.
//
//   komaban_bench [--machine] [--quick]
//     --machine  prints "key value" lines only
//     --quick    a fifth of the work, for comparisons that run it many times

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "komaban/core/game.h"
#include "komaban/core/movegen.h"
#include "komaban/core/playout.h"
#include "komaban/core/position.h"

using namespace komaban;

namespace {

constexpr int RUNS = 9;

// The thread's processor time where the system keeps it, so that time spent
// waiting for a core on a busy machine does not count; else the wall clock.
double now_ns() {
#ifdef CLOCK_THREAD_CPUTIME_ID
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
#else
  return std::chrono::duration<double, std::nano>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
#endif
}

template <class F>
double median_ns_per_op(long ops, F&& f) {
  std::vector<double> samples;
  for (int run = 0; run < RUNS; ++run) {
    const double start = now_ns();
    f();
    samples.push_back((now_ns() - start) / double(ops));
  }
  std::nth_element(samples.begin(), samples.begin() + RUNS / 2, samples.end());
  return samples[RUNS / 2];
}

// Positions reached by seeded random play, 20 to 80 plies into a game.
std::vector<Board> midgame_positions(Rng& rng, MoveList& list, int count) {
  std::vector<Board> positions;
  while (int(positions.size()) < count) {
    Game g;
    const int plies = 20 + int(rng.uniform(60));
    for (int i = 0; i < plies && !game_outcome(g).finished; ++i) {
      generate_moves(g.board, g.turn, list);
      if (!list.size) break;
      play(g, list.moves[rng.uniform(std::uint16_t(list.size - 1))]);
    }
    if (!game_outcome(g).finished) positions.push_back(g.board);
  }
  return positions;
}

volatile std::size_t sink;

}  // namespace

int main(int argc, char** argv) {
  bool machine = false;
  long scale = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--machine") == 0) machine = true;
    if (std::strcmp(argv[i], "--quick") == 0) scale = 1;
  }
  auto list = std::make_unique<MoveList>();
  auto playout = std::make_unique<Playout>();
  Rng rng(
      {0x243f6a8885a308d3ULL, 0x13198a2e03707344ULL, 0xa4093822299f31d0ULL, 0x082efa98ec4e6c89ULL});

  const Board start = start_position();
  const long START_ITERATIONS = 200'000 * scale;
  const double start_ns = median_ns_per_op(START_ITERATIONS, [&] {
    for (long i = 0; i < START_ITERATIONS; ++i) {
      generate_moves(start, Color(i & 1), *list);
      sink = list->size;
    }
  });

  const std::vector<Board> midgame = midgame_positions(rng, *list, 256);
  std::size_t midgame_moves = 0;
  for (const Board& b : midgame) {
    generate_moves(b, Color::Black, *list);
    midgame_moves += list->size;
  }
  const long MIDGAME_ROUNDS = 400 * scale;
  const double midgame_ns = median_ns_per_op(MIDGAME_ROUNDS * long(midgame.size()), [&] {
    for (long r = 0; r < MIDGAME_ROUNDS; ++r)
      for (const Board& b : midgame) {
        generate_moves(b, Color::Black, *list);
        sink = list->size;
      }
  });

  const long GAMES = 4000 * scale;
  long plies = 0;
  const double game_ns = median_ns_per_op(GAMES, [&] {
    plies = 0;
    for (long i = 0; i < GAMES; ++i) {
      Game g;
      play_random(g, rng, *playout);
      plies += g.move_number - 1;
    }
  });

  const double mean_plies = double(plies) / double(GAMES);
  if (machine) {
    std::printf("generate_start_ns %.2f\ngenerate_midgame_ns %.2f\nmidgame_moves %.2f\n", start_ns,
                midgame_ns, double(midgame_moves) / double(midgame.size()));
    std::printf("game_us %.3f\ngames_per_second %.0f\nmean_plies %.1f\n", game_ns / 1000,
                1e9 / game_ns, mean_plies);
    return 0;
  }
  std::printf("native core (median of %d runs)\n", RUNS);
  std::printf("  %-40s %10.1f ns\n", "search_moves, start position (30 moves)", start_ns);
  std::printf("  %-40s %10.1f ns  (%.1f moves on average)\n", "search_moves, 256 midgame positions",
              midgame_ns, double(midgame_moves) / double(midgame.size()));
  std::printf("  %-40s %10.2f us  (%.0f games/s, %.1f plies on average)\n",
              "random game from the start position", game_ns / 1000, 1e9 / game_ns, mean_plies);
  return 0;
}
