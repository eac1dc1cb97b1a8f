// Native checks of the core, built with AddressSanitizer and UBSan by
// tests/test_native_core.py: the constant tables, the move bag and the move
// sampler against the move list, position invariants under play, and readers
// and execution fed arbitrary input. Exits non-zero with a message on the first failure.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "komaban/core/execute.h"
#include "komaban/core/game.h"
#include "komaban/core/move.h"
#include "komaban/core/movegen.h"
#include "komaban/core/sampler.h"
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

int failures = 0;

void check(bool ok, const char* what, int detail = 0) {
  if (ok) return;
  std::fprintf(stderr, "FAILED: %s (%d)\n", what, detail);
  if (++failures > 20) std::exit(1);
}

// Invariants of positions reached from the start by generated moves.
void check_invariants(const Board& b) {
  check(b.occupied == (b.color_boards[0] | b.color_boards[1]), "occupied is the colour union");
  check(!any(b.color_boards[0] & b.color_boards[1]), "colour boards are disjoint");
  Bitboard seen = 0;
  for (const Bitboard k : b.piece_boards) {
    check(!any(seen & k), "piece boards are disjoint");
    seen |= k;
  }
  check(seen == masks::PLAYING, "every playing square is in one piece board, border in none");
  check(b.occupied == (masks::PLAYING & ~b.piece_boards[0]), "occupied iff not empty");
  int pieces = popcount(b.occupied);
  for (const std::uint8_t n : b.hand.counts) pieces += n;
  check(pieces == 40, "forty pieces in all", pieces);
}

// The bag holds exactly the list's moves, duplicates included.
void check_bag(const Board& b, Color c, MoveList& list, MoveBag& bag) {
  generate_moves(b, c, list);
  bag.generate(b, c);
  check(bag.size() == list.size, "bag and list sizes", int(list.size));
  std::vector<Move> from_list(list.begin(), list.end()), from_bag;
  for (std::size_t i = 0; i < bag.size(); ++i) from_bag.push_back(bag[i]);
  std::sort(from_list.begin(), from_list.end());
  std::sort(from_bag.begin(), from_bag.end());
  check(from_list == from_bag, "bag holds the list's moves");
}

// The sampler's candidates, enumerated one by one: the accepted ones are
// exactly the list's moves, each as often as listed, both with the slide
// pieces' first counts and with every count shrunk to the piece's moves; each
// names the kind standing on its from square. A fault here skews the draw.
void check_sampler(const Board& b, Color c, MoveList& list, MoveSampler& sampler) {
  generate_moves(b, c, list);
  std::vector<Move> expected(list.begin(), list.end()), accepted;
  std::sort(expected.begin(), expected.end());
  sampler.prepare(b, c);
  for (int pass = 0; pass < 2; ++pass) {
    if (pass) sampler.shrink_all();
    check(sampler.weight() <= 65536, "sampler weight fits a 16-bit draw", int(sampler.weight()));
    accepted.clear();
    for (std::uint32_t i = 0; i < sampler.weight(); ++i) {
      const MoveSampler::Candidate candidate = sampler.candidate(i);
      if (!candidate.accepted) continue;
      accepted.push_back(candidate.move);
      if (candidate.kind != PieceType::None)
        check(!is_drop(candidate.move) &&
                  piece_type_at(b, from_square(candidate.move)) == candidate.kind,
              "sampler names the moving kind", candidate.move);
    }
    std::sort(accepted.begin(), accepted.end());
    check(accepted == expected, "sampler accepts exactly the list's moves", pass);
  }
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

// A draw from the sampler: a listed move (generate_moves' list in list), or
// none only when nothing is listed; executed with its kind known, it does
// what execute_move does.
void check_draw(const Board& b, Color c, const MoveList& list, MoveSampler& sampler, Rng& rng) {
  MoveSampler::Candidate drawn;
  if (!sampler.draw(b, c, rng, drawn)) {
    check(list.size == 0, "no draw only without moves");
    return;
  }
  check(std::find(list.begin(), list.end(), drawn.move) != list.end(), "a drawn move is listed",
        drawn.move);
  if (drawn.kind == PieceType::None) return;
  Board known = b, searched = b;
  execute_board_move(known, drawn.move, drawn.kind, c);
  execute_move(searched, drawn.move);
  check(known == searched, "execution with the kind known matches", drawn.move);
}

// Move execution step by step, every piece board rewritten with a set or a
// clear by kind: the reference for execute_move, which touches only the
// boards that change.
void reference_execute(Board& b, Move m) {
  const Square to = to_square(m);
  const Bitboard t = square_bb(to);
  if (any(b.occupied & t)) {
    const PieceType base = demote(piece_type_at(b, to));
    const bool black = any(b.color_boards[0] & t);
    b.occupied &= ~t;
    set_color_boards(b, t, Color::None);
    set_piece_board(b, t, PieceType::None);
    b.hand.add_to_slot(
        base == PieceType::None ? 0 : Hand::slot(black ? Color::White : Color::Black, base), 1);
  }
  if (is_drop(m)) {
    const int k = dropped_kind_code(m), o = index(dropped_owner(m));
    const int slot = k >= 1 && k <= 14 ? k + 8 * o - 1 : 0;
    if (slot >= 16) panic_index_out_of_bounds(16, std::uint64_t(slot));
    b.hand.decrease_slot(std::size_t(slot));
    b.occupied |= t;
    set_color_boards(b, t, dropped_owner(m));
    set_piece_board(b, t, k >= 1 && k <= 14 ? PieceType(k) : PieceType::None);
    return;
  }
  const Square from = from_square(m);
  const Bitboard f = square_bb(from);
  const PieceType kind = piece_type_at(b, from);
  const bool occupied = any(b.occupied & f), black = any(b.color_boards[0] & f);
  set_color_boards(b, f, Color::None);
  set_piece_board(b, f, PieceType::None);
  b.occupied = (b.occupied & ~f) | t;
  set_color_boards(b, t, black ? Color::Black : occupied ? Color::White : Color::None);
  set_piece_board(b, t, is_promote(m) && is_promotable(kind) ? promote(kind) : kind);
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

}  // namespace

int main() {
  Rng rng({1, 2, 3, 4});
  auto list = std::make_unique<MoveList>();
  auto bag = std::make_unique<MoveBag>();
  auto sampler = std::make_unique<MoveSampler>();
  long sampled_positions = 0;

  // The operating system's entropy source answers, with fresh bits each call
  // (two equal 256-bit seeds would mean a broken or constant source).
  check(entropy_seed() != entropy_seed(), "entropy seeds differ");
  check(&thread_rng() == &thread_rng(), "one generator per thread");

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

  // Random games: invariants after every move, bag and sampler against
  // list, text round trips.
  for (int game = 0; game < 600; ++game) {
    Game g;
    while (!game_outcome(g).finished) {
      check_bag(g.board, g.turn, *list, *bag);
      check_sampler(g.board, g.turn, *list, *sampler);
      ++sampled_positions;
      for (const Move m : *list)
        check(read_move_text(move_text(m)) == m, "move text round trip", m);
      if (!list->size) break;
      Move m = list->moves[rng.uniform(std::uint16_t(list->size - 1))];
      if (game % 2) {  // every other game draws with the sampler
        check_draw(g.board, g.turn, *list, *sampler, rng);
        MoveSampler::Candidate drawn;
        if (sampler->draw(g.board, g.turn, rng, drawn)) m = drawn.move;
      }
      play(g, m);
      check_invariants(g.board);
      Board rebuilt = read_position(write_board_field(g.board));
      rebuilt.hand = g.board.hand;
      bool promoted = false;
      for (int k = int(PieceType::Dragon); k < PIECE_TYPE_NB; ++k)
        promoted |= g.board.piece_boards[k] != 0;
      if (!promoted) check(rebuilt == g.board, "board text round trip");
    }
  }

  // Broken positions: generation, the bag and execution of any move value
  // stay in bounds; failures are Panics.
  for (int round = 0; round < 3000; ++round) {
    Board b = scrambled_board(rng);
    if (rng.uniform(7) == 0)
      b.hand.pieces[rng.uniform(15)] = {color_from_byte(std::uint8_t(rng.next())),
                                        PieceType(rng.uniform(14))};
    for (const Color c : {Color::Black, Color::White, Color::None, Color::ColorNumber}) {
      bool failed = false;
      try {
        check_bag(b, c, *list, *bag);
      } catch (const Panic&) {
        failed = true;
      }
      if (!is_player(c)) continue;
      try {
        check_sampler(b, c, *list, *sampler);
        ++sampled_positions;
        check(!failed, "sampler fails where the list does");
        check_draw(b, c, *list, *sampler, rng);
      } catch (const Panic&) {
        check(failed, "sampler fails only where the list does");
      }
    }
    for (int n = 0; n < 4; ++n) {
      const auto m = Move(rng.next());
      Board expected = b;
      bool failed = false;
      try {
        reference_execute(expected, m);
      } catch (const Panic&) {
        failed = true;
      }
      try {
        execute_move(b, m);
        check(!failed, "execute_move fails where the reference does", m);
      } catch (const Panic&) {
        check(failed, "execute_move fails only where the reference does", m);
      }
      check(b == expected, "execute_move matches the reference", m);
      (void)write_board_field(b);
      (void)king_outcome(b);
    }
  }

  // Odd boards, both colours to move, and draws from them: a drawn move is a
  // listed one, and no draw means no listed move.
  for (int round = 0; round < 5000; ++round) {
    const Board b = odd_board(rng);
    for (const Color c : {Color::Black, Color::White}) {
      check_sampler(b, c, *list, *sampler);
      ++sampled_positions;
      check_draw(b, c, *list, *sampler, rng);
    }
  }
  check(sampled_positions >= 100000, "sampler checked on enough positions", int(sampled_positions));

  // Readers take any bytes.
  for (int round = 0; round < 20000; ++round) {
    const std::string text = random_text(rng, round % 100 == 0 ? 5000 : 60);
    try {
      (void)write_board_field(read_position(text));
    } catch (const Panic&) {
    }
    try {
      (void)move_text(read_move_text(text));
    } catch (const Panic&) {
    }
    Game g;
    read_board_field(g.board, text);
    input_move_number(g, text);
    input_turn(g, text);
    try {
      read_hand_field(g.board.hand, text);
    } catch (const Panic&) {
    }
  }

  if (failures) return 1;
  std::puts("core checks passed");
  return 0;
}
