// Execution: a position from the input, then moves executed on a game one
// after the other, each chosen by the input: an entry of the side to move's
// list, or any 16-bit value. Every execution matches the reference
// (failures included) and changes no square but the move's two and at most
// two hand counters; the constant masks and the hand labels never change,
// and nothing is written beside the game record. A listed move keeps a
// sound position sound and, with the fresh hand labels, keeps the pieces on
// the board and in hand together constant (in the counters' 8-bit
// arithmetic). The move number, the turn and the end rules follow each move.

#include "../native/checks.h"
#include "fuzz_input.h"

using namespace komaban;
using namespace komaban::checks;

namespace {

// A game with guard bytes on both sides, to catch a write beside the record.
struct Guarded {
  std::array<std::uint8_t, 64> before;
  Game game;
  std::array<std::uint8_t, 64> after;
};
constexpr std::uint8_t GUARD = 0xa5;

int hand_slots_changed(const Hand& a, const Hand& b) {
  int n = 0;
  for (int s = 0; s < Hand::SIZE; ++s) n += a.counts[s] != b.counts[s];
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  auto guarded = std::make_unique<Guarded>();
  guarded->before.fill(GUARD);
  guarded->after.fill(GUARD);
  Game& g = guarded->game;
  g.board = fuzz::position(in);
  g.turn = fuzz::color_of(in.byte());
  g.move_number = in.word();
  const bool fresh_labels = g.board.hand.pieces == Hand{}.pieces;
  auto list = std::make_unique<MoveList>();

  for (int step = 0; step < 64 && !in.exhausted(); ++step) {
    const std::uint8_t how = in.byte();
    Move m = in.word();
    bool listed = false;
    if (how & 1) {
      if (panic_of([&] { generate_moves(g.board, g.turn, *list); }) || !list->size) continue;
      m = list->moves[m % list->size];
      listed = true;
    }
    const Game before = g;
    Board expected = g.board;
    const auto failure = panic_of([&] { play(g, m); });
    check(failure == panic_of([&] { reference_execute(expected, m); }),
          "execution fails exactly where the reference does", m);
    check(g.board == expected, "execution matches the reference", m);
    const Bitboard touched = bit(to_square(m)) | (is_drop(m) ? Bitboard(0) : bit(from_square(m)));
    check(!any(changed_squares(before.board, g.board) & ~touched),
          "execution touches only the move's squares", m);
    check(hand_slots_changed(before.board.hand, g.board.hand) <= 2, "at most two hand counters");
    check(g.board.hand.pieces == before.board.hand.pieces, "hand labels unchanged");
    check(masks_intact(g.board), "constant masks unchanged");
    check(std::all_of(guarded->before.begin(), guarded->before.end(),
                      [](std::uint8_t v) { return v == GUARD; }) &&
              std::all_of(guarded->after.begin(), guarded->after.end(),
                          [](std::uint8_t v) { return v == GUARD; }),
          "nothing written beside the game record");
    if (failure) {
      check(g.move_number == before.move_number && g.turn == before.turn,
            "a failed move leaves number and turn");
      continue;
    }
    check(g.move_number == std::uint16_t(before.move_number + 1), "move number advances");
    check(g.turn == ~before.turn, "turn passes");
    if (listed) {
      if (is_sound(before.board)) check(is_sound(g.board), "a listed move keeps a sound position");
      if (fresh_labels)
        check(material(g.board) == material(before.board), "a listed move keeps the material");
    }
    const Outcome kings = reference_king_outcome(g.board);
    check(same(king_outcome(g.board), kings), "King test matches the reference");
    check(same(game_outcome(g), g.move_number >= 500 ? Outcome{true, Color::None} : kings),
          "end rules: the move limit first, then the King test");
  }
  return 0;
}
