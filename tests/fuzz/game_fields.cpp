// The fields a Game reads: the same text as board field laid over a
// position, as hand field added to a hand, as move number and as side to
// move, each against its reference. The input's first bytes choose the
// position and the hand the text is read into.

#include "../native/checks.h"
#include "fuzz_input.h"

using namespace komaban;
using namespace komaban::checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  Game g;
  g.board = fuzz::position(in);
  const std::string_view text =
      in.text().substr(std::min<std::size_t>(in.byte(), in.text().size()));

  Board laid = g.board;
  read_board_field(g.board, text);
  reference_read_board_field(laid, text);
  check(g.board == laid, "board field laid over a position as the reference does");

  Hand hand = g.board.hand;
  const auto failure = panic_of([&] { read_hand_field(g.board.hand, text); });
  check(failure == panic_of([&] { reference_read_hand_field(hand, text); }),
        "hand reader fails exactly where the reference does");
  check(g.board.hand == hand, "hand reader adds as the reference does");

  input_move_number(g, text);
  check(g.move_number == reference_move_number(text), "move number reader", g.move_number);
  input_turn(g, text);
  check(g.turn == reference_turn(text), "side to move reader");
  return 0;
}
