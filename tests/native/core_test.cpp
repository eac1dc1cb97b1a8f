// Native checks of the core, built with AddressSanitizer and UBSan by
// tests/test_native_core.py: the constant tables, the move list against its
// reference, the move bag and random play's candidates against the move list,
// random playouts checked move by move with their state shadowed,
// position invariants under play, and readers and execution fed arbitrary
// input and compared with their references (checks.h). Exits non-zero with a message on the first
// failure.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#if __has_include(<unistd.h>) && __has_include(<sys/wait.h>)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "checks.h"
#include "komaban/core/execute.h"
#include "komaban/core/game.h"
#include "komaban/core/move.h"
#include "komaban/core/movegen.h"
#include "komaban/core/playout.h"
#include "komaban/core/sfen.h"

using namespace komaban;

// The mask and start-position tables, as 64-bit halves.
static_assert(masks::WALL == make_bitboard(0xfff00600c0180300, 0x600c01803007ff80));
static_assert(masks::PROMOTION_ZONE[0] == make_bitboard(0x0, 0x3fe7fcff80000));
static_assert(masks::PROMOTION_ZONE[1] == make_bitboard(0xff9ff3fe00000, 0x0));
static_assert(masks::LAST_ROW[0] == make_bitboard(0x0, 0xff80000));
static_assert(masks::LAST_ROW[1] == make_bitboard(0xff80000000000, 0x0));
static_assert(masks::LAST_TWO_ROWS[0] == make_bitboard(0x0, 0x7fcff80000));
static_assert(masks::LAST_TWO_ROWS[1] == make_bitboard(0xff9ff00000000, 0x0));
static_assert(masks::PLAYING == make_bitboard(0xff9ff3fe7fcff, 0x9ff3fe7fcff80000));

constexpr Board START = start_position();
static_assert(START.color_boards[0] == make_bitboard(0xff8823fe00000, 0x0));
static_assert(START.color_boards[1] == make_bitboard(0x0, 0x3fe208ff80000));
static_assert(START.occupied == (START.color_boards[0] | START.color_boards[1]));
static_assert(START.piece_boards[0] == make_bitboard(0x17d0007fcff, 0x9ff0005f40000000));
static_assert(START.piece_boards[1] == make_bitboard(0x800000000000, 0x800000));
static_assert(START.piece_boards[2] == make_bitboard(0x1400000000000, 0x1400000));
static_assert(START.piece_boards[3] == make_bitboard(0x200000000, 0x2000000000));
static_assert(START.piece_boards[4] == make_bitboard(0x8000000000, 0x80000000));
static_assert(START.piece_boards[5] == make_bitboard(0x2200000000000, 0x2200000));
static_assert(START.piece_boards[6] == make_bitboard(0x4100000000000, 0x4100000));
static_assert(START.piece_boards[7] == make_bitboard(0x8080000000000, 0x8080000));
static_assert(START.piece_boards[8] == make_bitboard(0x3fe00000, 0x3fe0000000000));
static_assert(square_bb(0) == make_bitboard(0x8000000000000000, 0) && square_bb(120) == 0x80);
static_assert(square_bb(128 + 5) == square_bb(5));

namespace {

using namespace checks;

int failures = 0;

void count_failure(const char* what, long detail) {
  std::fprintf(stderr, "FAILED: %s (%ld)\n", what, detail);
  if (++failures > 20) std::exit(1);
}

// Invariants of positions reached from the start by generated moves.
void check_invariants(const Board& b) {
  check(is_sound(b), "a position reached by generated moves is sound");
  int pieces = popcount(b.occupied);
  for (const std::uint8_t n : b.hand.counts) pieces += n;
  check(pieces == 40, "forty pieces in all", pieces);
}

// The two-word Bitboard against the compiler's 128-bit integer, where a build
// forces the two words on a compiler that has both: every operator on values
// with bits in either word, every shift count, and negative integers.
void check_two_word_bitboard([[maybe_unused]] Rng& rng) {
#if defined(KOMABAN_TWO_WORD_BITBOARD) && defined(__SIZEOF_INT128__)
  __extension__ typedef unsigned __int128 U128;
  auto same = [](Bitboard b, U128 u) {
    return high_word(b) == std::uint64_t(u >> 64) && low_word(b) == std::uint64_t(u);
  };
  for (int round = 0; round < 200; ++round) {
    const std::uint64_t words[4] = {rng.next(), rng.next() >> (round % 64), rng.next(), 1};
    const Bitboard a = make_bitboard(words[0], words[1]), b = make_bitboard(words[2], words[3]);
    const U128 ua = U128(words[0]) << 64 | words[1], ub = U128(words[2]) << 64 | words[3];
    check(same(a & b, ua & ub) && same(a | b, ua | ub) && same(a ^ b, ua ^ ub) && same(~a, ~ua),
          "two-word bitwise operators", round);
    check((a == b) == (ua == ub) && a == a && any(a) == (ua != 0), "two-word comparison", round);
    for (int n = 0; n < 128; ++n)
      check(same(a << n, ua << n) && same(a >> n, ua >> n), "two-word shifts", n);
    const auto value = std::int64_t(words[1]);
    check(same(Bitboard(value), U128(value)) && same(Bitboard(-1), U128(-1)),
          "two-word from an integer", round);
  }
  check(!any(Bitboard(0)) && any(Bitboard(1)), "two-word any");
#endif
}

// Boards of the odd kinds Python can build: every kind of both colours on
// every row, last rows included, and hand counts that wrapped around.
Board odd_board(Rng& rng) {
  Board b;
  for (int n = 0; n < 24; ++n)
    place_piece(b, make_square(1 + rng.uniform(8), 1 + rng.uniform(8)),
                PieceType(1 + rng.uniform(13)), Color(rng.uniform(1)));
  constexpr std::uint8_t COUNTS[] = {0, 1, 255};  // 256 wraps to 0
  for (auto& count : b.hand.counts) count = COUNTS[rng.uniform(2)];
  return b;
}

std::string random_text(Rng& rng, std::size_t max_length) {
  static constexpr char ALPHABET[] =
      "KGRBSNLPkgrbsnlp0123456789/+- *abcdefghi\xc3\xa9\xe2\x80\x94\xff";
  std::string text(rng.uniform(std::uint16_t(max_length)), ' ');
  for (char& ch : text)
    ch = rng.uniform(3) ? ALPHABET[rng.uniform(sizeof ALPHABET - 2)] : char(rng.next());
  return text;
}

// Positions broken in every way the public API allows: any kind and colour
// on any of the 256 indices, and hand labels of any owner.
Board scrambled_board(Rng& rng) {
  Board b = rng.uniform(1) ? start_position() : Board{};
  for (int n = rng.uniform(40); n > 0; --n)
    place_piece(b, Square(rng.next()), PieceType(rng.uniform(14)),
                color_from_byte(std::uint8_t(rng.uniform(3) == 3 ? 255 : rng.uniform(2))));
  for (auto& count : b.hand.counts) count = std::uint8_t(rng.uniform(2));
  return b;
}

// The hand's text, every colour and kind name, and the counting operations
// that only Python reaches.
void check_hand() {
  Hand h;
  std::string expected = "Hand(pieces=[";
  for (int s = 0; s < 16; ++s) {
    static constexpr const char* KINDS[] = {"King",   "Gold",   "Rook",  "Bichop",
                                            "Silver", "Knight", "Lance", "Pawn"};
    expected += std::string(s ? ", " : "") + "Piece { owner: " + (s < 8 ? "Black" : "White") +
                ", piece_type: " + KINDS[s % 8] + " }";
  }
  expected += "], counts=[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0])";
  check(h.to_string() == expected, "fresh hand text");
  h.pieces[0] = {Color::None, PieceType::ProPawn};
  h.pieces[1] = {Color::ColorNumber, PieceType(15)};
  h.add(Color::White, PieceType::Pawn, 255);
  h.add(Color::White, PieceType::Pawn, 2);  // wraps to 1
  h.add(Color::Black, PieceType::None);     // slot 0
  check(h.to_string().starts_with("Hand(pieces=[Piece { owner: None, piece_type: ProPawn }, "
                                  "Piece { owner: ColorNumber, piece_type: None }") &&
            h.to_string().ends_with("counts=[1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1])"),
        "hand text with odd labels and wrapped counts");
  h.decrease(Color::White, PieceType::Pawn);
  h.decrease(Color::White, PieceType::Pawn);  // stays 0
  check(h.counts[15] == 0, "counts never go below 0");
  const Hand::Held black = h.player_pieces(Color::Black);
  check(std::vector<Piece>(black.begin(), black.end()) ==
                std::vector<Piece>{{Color::None, PieceType::ProPawn}} &&
            h.player_pieces(Color::White).size == 0,
        "held labels");
  check(std::string_view(Panic("message").what()) == "message", "a panic's text");
  check(panic_of([&] { h.add(Color::None, PieceType::Gold); }) ==
            "index out of bounds: the len is 16 but the index is 65529",
        "slot of colour None");
  for (int v = 0; v < 300; ++v)
    check(piece_type_from_number(std::uint64_t(v)) == (v < 15 ? PieceType(v) : PieceType::None),
          "kind from a number", v);
  check(color_name(Color::ColorNumber) == "ColorNumber" &&
            color_at(start_position(), 12) == Color::Black &&
            color_at(start_position(), 100) == Color::White,
        "colour names and squares");
}

// Whole random games as Python plays them: over by the end rules, winner
// recorded, invariants kept. A finished game is left alone.
void check_play_random(Rng& rng, Playout& playout) {
  for (int game = 0; game < 200; ++game) {
    Game g;
    g.turn = game % 2 ? Color::White : Color::Black;
    play_random(g, rng, playout);
    check_invariants(g.board);
    const Outcome end = game_outcome(g);
    check(end.finished && g.winner == end.winner, "random play ends by the end rules",
          g.move_number);
    const Game over = g;
    play_random(g, rng, playout);
    check(g.board == over.board && g.move_number == over.move_number, "a finished game stays");
    // The same from a position outside the playout's state: a piece without
    // a colour, played the plain way.
    Game odd;
    place_piece(odd.board, make_square(5, 5), PieceType::Gold, Color::None);
    play_random(odd, rng, playout);
    check(game_outcome(odd).finished && odd.winner == game_outcome(odd).winner,
          "random play the plain way ends by the end rules");
  }
  check(&scratch_playout() == &scratch_playout() && &scratch_move_list() == &scratch_move_list(),
        "per-thread scratch space is reused");
}

// Sound positions far from the start: one King of each colour, pieces of any
// kind on any playing square (promoted ones everywhere, Pawns, Lances and
// Knights on rows they cannot leave, Pawns on most columns), hands from empty
// to full (counts that wrap included), any side to move, move numbers up to
// the limit.
Game odd_game(Rng& rng) {
  Game g;
  g.board = Board{};
  auto empty_square = [&] {
    for (;;) {
      const Square s = make_square(1 + rng.uniform(8), 1 + rng.uniform(8));
      if (!contains(g.board.occupied, s)) return s;
    }
  };
  for (const Color c : {Color::Black, Color::White})
    place_piece(g.board, empty_square(), PieceType::King, c);
  const int pieces = 4 + int(rng.uniform(56));
  const bool promoted = rng.uniform(3) == 0;
  for (int n = 0; n < pieces; ++n) {
    auto kind = PieceType(2 + rng.uniform(12));
    if (promoted && is_promotable(kind)) kind = promote(kind);
    place_piece(g.board, empty_square(), kind, Color(rng.uniform(1)));
  }
  if (rng.uniform(2) == 0)  // Pawns on every column they can have
    for (const Color c : {Color::Black, Color::White})
      for (int column = 1; column <= 9; ++column) {
        const Square s = make_square(column, 1 + rng.uniform(8));
        if (!contains(g.board.occupied, s)) place_piece(g.board, s, PieceType::Pawn, c);
      }
  constexpr std::uint8_t COUNTS[] = {0, 1, 2, 18, 255};
  const int hands = int(rng.uniform(2));  // empty, mixed, full
  for (int slot = 0; slot < Hand::SIZE; ++slot)
    g.board.hand.counts[slot] = hands == 0   ? 0
                                : hands == 1 ? COUNTS[rng.uniform(4)]
                                             : COUNTS[1 + rng.uniform(3)];
  g.turn = Color(rng.uniform(1));
  g.move_number = std::uint16_t(rng.uniform(7) ? 1 + rng.uniform(400) : 490 + rng.uniform(9));
  return g;
}

// The generator of random play is seeded from the operating system, afresh
// in a child process after fork, so that parent and child never share draws.
void check_seeding() {
  check(entropy_seed() != entropy_seed(), "two seeds differ");
  Rng zero({0, 0, 0, 0});  // an all-zero state would only ever give zeros
  check(zero.next() != 0 || zero.next() != 0, "a zero seed still gives numbers");
  Rng& rng = thread_rng();
  check(&rng == &thread_rng(), "one generator per thread");
#if __has_include(<unistd.h>) && __has_include(<sys/wait.h>)
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return;
  const pid_t child = fork();
  if (child == 0) {
    const std::uint64_t draw = thread_rng().next();
    const bool written = write(pipe_ends[1], &draw, sizeof draw) == sizeof draw;
    std::exit(written ? 0 : 1);  // exit, not _exit: a coverage build writes its counts
  }
  std::uint64_t child_draw = 0;
  const bool read_all = read(pipe_ends[0], &child_draw, sizeof child_draw) == sizeof child_draw;
  int status = 0;
  waitpid(child, &status, 0);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  check(read_all && child_draw != thread_rng().next(), "a forked child draws its own numbers");
#endif
}

}  // namespace

// Usage: core_test [PLAYOUTS]: the number of shadowed playouts from odd
// positions, 2,000 by default (`make native-check` runs 20,000).
int main(int argc, char** argv) {
  on_failure = count_failure;
  const long playouts = argc > 1 ? std::atol(argv[1]) : 2000;
  Rng rng({1, 2, 3, 4});
  auto list = std::make_unique<MoveList>();
  auto bag = std::make_unique<MoveBag>();
  auto playout = std::make_unique<Playout>();
  long sampled_positions = 0;

  // Uniform draws stay in range and fill small ranges evenly.
  for (const std::uint16_t max : {0, 1, 2, 6, 29, 100, 65534, 65535}) {
    std::vector<int> seen(std::size_t(max) + 1);
    const int draws = max < 200 ? 2000 * (max + 1) : 200000;
    for (int i = 0; i < draws; ++i) {
      const std::uint32_t v = rng.uniform(max);
      check(v <= max, "uniform draw in range", int(v));
      if (v <= max) ++seen[v];
    }
    if (max < 200)
      for (const int n : seen) check(n > 1700 && n < 2300, "uniform draw even", n);
  }

  check_two_word_bitboard(rng);
  check_hand();
  check_seeding();

  // Random games: invariants after every move, bag and random play's
  // candidates against the list, the state shadowed, text round trips. Every
  // other game is played the plain way.
  for (int game = 0; game < 600; ++game) {
    Game g;
    Playout* attached = nullptr;
    if (game % 2) {
      attached = playout.get();
      check(playout->attach(g), "the playout takes the start position");
    }
    for (bool goes_on = true; goes_on;) {
      if (game % 8 == 0) check_generation(g.board, g.turn, *list);
      check_bag(g.board, g.turn, *list, *bag);
      sampled_positions += attached != nullptr;
      for (const Move m : *list)
        check(read_move_text(move_text(m)) == m, "move text round trip", m);
      goes_on = check_random_move(g, attached, *bag, rng, *list);
      check_invariants(g.board);
      Board rebuilt = read_position(write_board_field(g.board));
      rebuilt.hand = g.board.hand;
      bool promoted = false;
      for (int k = int(PieceType::Dragon); k < PIECE_TYPE_NB; ++k)
        promoted |= any(g.board.piece_boards[k]);
      if (!promoted) check(rebuilt == g.board, "board text round trip");
    }
  }

  // Whole games as Python plays them, once the moves have been checked one by
  // one above.
  check_play_random(rng, *playout);

  // Broken positions: generation, the bag and execution of any move value
  // stay in bounds; failures are Panics.
  for (int round = 0; round < 3000; ++round) {
    Board b = scrambled_board(rng);
    if (round % 2)  // two Kings, so that random play has a game to play
      for (const Color c : {Color::Black, Color::White})
        place_piece(b, make_square(1 + rng.uniform(8), 1 + rng.uniform(8)), PieceType::King, c);
    if (rng.uniform(7) == 0)
      b.hand.pieces[rng.uniform(15)] = {color_from_byte(std::uint8_t(rng.next())),
                                        PieceType(rng.uniform(14))};
    for (const Color c : {Color::Black, Color::White, Color::None, Color::ColorNumber}) {
      try {
        check_bag(b, c, *list, *bag);
      } catch (const Panic&) {
      }
      // Random play takes the position with its state exactly when it is
      // sound, with the fresh hand labels and a player to move.
      Game g;
      g.board = b;
      g.turn = c;
      if (game_outcome(g).finished) continue;
      const bool attached = playout->attach(g);
      check(attached == (is_sound(b) && is_player(c) && b.hand.pieces == Hand{}.pieces),
            "random play's state covers exactly the sound positions");
      check_random_move(g, attached ? playout.get() : nullptr, *bag, rng, *list);
    }
    for (const Color c : {Color::Black, Color::White, Color::None, Color::ColorNumber})
      if (round % 4 == 0) check_generation(b, c, *list);
    for (int n = 0; n < 4; ++n) {
      const auto m = Move(rng.next());
      b = check_execution(b, m);
      (void)write_board_field(b);
      check(same(king_outcome(b), reference_king_outcome(b)), "King test matches the reference");
    }
  }

  // Odd boards, both colours to move: random play's candidates against the
  // list, and a move drawn.
  for (int round = 0; round < 5000; ++round) {
    Game g;
    g.board = odd_board(rng);
    for (const Color c : {Color::Black, Color::White}) {
      Game copy = g;
      copy.turn = c;
      if (game_outcome(copy).finished || !playout->attach(copy)) continue;
      check_random_move(copy, playout.get(), *bag, rng, *list);
      ++sampled_positions;
    }
  }

  // Shadowed playouts from odd positions to their end: after every move the
  // state agrees with one built afresh from the record; every third move
  // the candidates are enumerated too.
  long shadowed_moves = 0;
  for (long n = 0; n < playouts; ++n) {
    Game g = odd_game(rng);
    if (game_outcome(g).finished) continue;
    check(playout->attach(g), "the playout takes a sound position");
    for (bool goes_on = true; goes_on; ++shadowed_moves) {
      const bool enumerate = shadowed_moves % 3 == 0;
      sampled_positions += enumerate;
      goes_on = check_random_move(g, playout.get(), *bag, rng, *list, enumerate);
    }
  }
  std::printf("%ld shadowed playouts, %ld moves; candidates enumerated on %ld positions\n",
              playouts, shadowed_moves, sampled_positions);
  check(sampled_positions >= 100000, "candidates enumerated on enough positions",
        int(sampled_positions));

  // Readers take any bytes and read them as the references do.
  for (int round = 0; round < 20000; ++round) {
    const std::string text = random_text(rng, round % 100 == 0 ? 5000 : 60);
    Board read, expected;
    const auto failure = panic_of([&] { read = read_position(text); });
    check(failure == panic_of([&] { expected = reference_read_position(text); }),
          "position reader fails where the reference does");
    check(read == expected, "position reader matches the reference");
    check(write_board_field(read) == reference_write_board_field(read),
          "board writer matches the reference");
    Move move = 0, expected_move = 0;
    check(same_failure(panic_of([&] { move = read_move_text(text); }),
                       panic_of([&] { expected_move = reference_read_move(text); })),
          "move reader fails where the reference does");
    check(move == expected_move, "move reader matches the reference", move);
    (void)move_text(move);
    Game g;
    read_board_field(g.board, text);
    Board laid = start_position();
    reference_read_board_field(laid, text);
    check(g.board == laid, "board field laid over a position as the reference does");
    input_move_number(g, text);
    check(g.move_number == reference_move_number(text), "move number reader", g.move_number);
    input_turn(g, text);
    check(g.turn == reference_turn(text), "turn reader");
    Hand hand = g.board.hand;
    check(panic_of([&] { read_hand_field(g.board.hand, text); }) ==
              panic_of([&] { reference_read_hand_field(hand, text); }),
          "hand reader fails where the reference does");
    check(g.board.hand == hand, "hand reader matches the reference");
  }

  if (failures) return 1;
  std::puts("core checks passed");
  return 0;
}
