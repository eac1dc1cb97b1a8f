// Oracles and checks of the native core, shared by the native check
// (core_test.cpp) and the coverage-guided fuzz targets (tests/fuzz/).
//
// The reference functions follow the documented rules step by step, in the
// slowest plain way, sharing no tables or shortcuts with the code they check:
// a move list by walking directions square by square, execution and placing
// by setting or clearing one bit per board, the text readers and writer
// character by character. Each check reports through check(); what a failed
// check does is the program's choice (the native check counts and goes on, a
// fuzz target aborts so that the fuzzer keeps the input).

#ifndef KOMABAN_TESTS_NATIVE_CHECKS_H
#define KOMABAN_TESTS_NATIVE_CHECKS_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "komaban/core/execute.h"
#include "komaban/core/game.h"
#include "komaban/core/move.h"
#include "komaban/core/movegen.h"
#include "komaban/core/panic.h"
#include "komaban/core/playout.h"
#include "komaban/core/position.h"
#include "komaban/core/sfen.h"
#include "komaban/core/utf8.h"

namespace komaban::checks {

// What a failed check does; by default it reports and aborts.
inline void (*on_failure)(const char* what, long detail) = [](const char* what, long detail) {
  std::fprintf(stderr, "FAILED: %s (%ld)\n", what, detail);
  std::abort();
};

inline void check(bool ok, const char* what, long detail = 0) {
  if (!ok) on_failure(what, detail);
}

// The message of the Panic that f throws, or nothing if it returns.
template <class F>
std::optional<std::string> panic_of(F&& f) {
  try {
    f();
  } catch (const Panic& p) {
    return p.message();
  }
  return std::nullopt;
}

// ---- Placing and positions ----------------------------------------------

inline bool has(Bitboard b, int index) { return any((b >> (127 - (index & 127))) & Bitboard(1)); }
inline Bitboard bit(int index) { return Bitboard(1) << (127 - (index & 127)); }

// Puts a piece on a square: occupied gains it, the colour boards follow the
// colour (neither for a colour other than Black and White), and exactly one
// piece board holds it afterwards.
inline void reference_place(Board& b, int index, int kind, Color c) {
  const Bitboard m = bit(index);
  b.occupied |= m;
  b.color_boards[0] &= ~m;
  b.color_boards[1] &= ~m;
  if (c == Color::Black) b.color_boards[0] |= m;
  if (c == Color::White) b.color_boards[1] |= m;
  for (int k = 0; k < PIECE_TYPE_NB; ++k) {
    b.piece_boards[k] &= ~m;
    if (k == kind) b.piece_boards[k] |= m;
  }
}

// The first piece board, 0 to 14, holding the square.
inline int reference_kind(const Board& b, int index) {
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    if (has(b.piece_boards[k], index)) return k;
  return 0;
}

inline int count_bits(Bitboard b) {
  int n = 0;
  for (int i = 0; i < 128; ++i) n += has(b, i);
  return n;
}

inline bool is_playing(int index) {
  const int column = index % 11, row = index / 11;
  return index < 121 && column >= 1 && column <= 9 && row >= 1 && row <= 9;
}

// The four invariants of a sound position: every playing square in exactly
// one piece board, border and off-grid squares in none; occupied the
// disjoint union of the colour boards; occupied exactly where the square is
// not empty; only playing squares occupied.
inline bool is_sound(const Board& b) {
  if (any(b.color_boards[0] & b.color_boards[1])) return false;
  if (b.occupied != (b.color_boards[0] | b.color_boards[1])) return false;
  for (int i = 0; i < 128; ++i) {
    int boards = 0;
    for (const Bitboard k : b.piece_boards) boards += has(k, i);
    if (boards != (is_playing(i) ? 1 : 0)) return false;
    if (has(b.occupied, i) != (is_playing(i) && !has(b.piece_boards[0], i))) return false;
  }
  return true;
}

// The constant masks, which nothing may change.
inline bool masks_intact(const Board& b) {
  const Board empty;
  return b.wall == empty.wall && b.promotion_zone == empty.promotion_zone &&
         b.last_row == empty.last_row && b.last_two_rows == empty.last_two_rows;
}

// Pieces on the board plus pieces in hand, in the 8-bit arithmetic of the
// hand counters: a generated move keeps it (with the fresh hand labels).
inline std::uint8_t material(const Board& b) {
  unsigned n = unsigned(count_bits(b.occupied));
  for (const std::uint8_t count : b.hand.counts) n += count;
  return std::uint8_t(n);
}

// ---- Move generation -----------------------------------------------------

// Direction offsets seen from Black, and each kind's descriptor: 0 none,
// 1 step, 2 knight jump, 3 slide.
inline constexpr int OFFSETS[8] = {11, 10, -1, -12, -11, -10, 1, 12};
inline constexpr int DESCRIPTORS[15][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 0, 1, 0, 1, 1},
    {3, 0, 3, 0, 3, 0, 3, 0}, {0, 3, 0, 3, 0, 3, 0, 3}, {1, 1, 0, 1, 0, 1, 0, 1},
    {0, 2, 0, 0, 0, 0, 0, 2}, {3, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0},
    {3, 1, 3, 1, 3, 1, 3, 1}, {1, 3, 1, 3, 1, 3, 1, 3}, {1, 1, 1, 0, 1, 0, 1, 1},
    {1, 1, 1, 0, 1, 0, 1, 1}, {1, 1, 1, 0, 1, 0, 1, 1}, {1, 1, 1, 0, 1, 0, 1, 1}};

// The move list of colour c, walked square by square and direction by
// direction. Throws Panic where generate_moves must.
inline std::vector<Move> reference_moves(const Board& b, Color color) {
  std::vector<Move> list;
  const int mover = color == Color::White ? 1 : 0;
  for (int s = 0; s < 128; ++s) {
    if (!has(b.color_boards[mover], s)) continue;
    const int kind = reference_kind(b, s);
    const int c = has(b.color_boards[0], s) ? 0 : 1;
    const int sign = c ? -1 : 1;
    std::vector<int> targets;
    for (int d = 0; d < 8; ++d) {
      const int reach = DESCRIPTORS[kind][d];
      if (!reach) continue;
      int t = s;
      for (int distance = 1; distance <= 8; ++distance) {
        t += sign * (OFFSETS[d] + (reach == 2 ? 11 : 0));
        if (t < 0 || t > 120 || has(b.wall, t)) break;
        if (has(b.color_boards[1 - c], t)) {
          targets.push_back(t);
          break;
        }
        if (has(b.color_boards[c], t)) break;
        targets.push_back(t);
        if (reach != 3) break;
      }
    }
    std::sort(targets.begin(), targets.end());
    for (const int t : targets) list.push_back(Move(t << 7 | s));
    if (kind < 3 || kind > 8) continue;
    for (const int t : targets)
      if (has(b.promotion_zone[c], s) || has(b.promotion_zone[c], t))
        list.push_back(Move(t << 7 | s | 0x4000));
  }
  for (int kind = 1; kind <= 8; ++kind) {
    const auto slot = std::uint16_t(int(color) * 8 + kind - 1);
    if (slot >= 16) panic_index_out_of_bounds(16, slot);
    if (!b.hand.counts[slot]) continue;
    const Piece label = b.hand.pieces[slot];
    if (!is_player(label.owner))
      panic_index_out_of_bounds(2, std::uint64_t(std::int64_t(label.owner)));
    const int k = index(label.kind), o = index(label.owner);
    if (k < 2 || k > 8) continue;
    bool pawn_column[11] = {};
    for (int p = 0; p < 128; ++p)
      if (has(b.color_boards[o], p) && has(b.piece_boards[8], p)) pawn_column[p % 11] = true;
    for (int t = 0; t < 128; ++t) {
      if (!has(b.piece_boards[0], t)) continue;
      if ((k == 7 || k == 8) && has(b.last_row[o], t)) continue;
      if (k == 6 && has(b.last_two_rows[o], t)) continue;
      if (k == 8 && pawn_column[t % 11] && t / 11 >= 1 && t / 11 <= 9) continue;
      list.push_back(Move(0x8000 | t << 7 | o << 6 | k));
    }
  }
  return list;
}

// generate_moves gives exactly the reference list, in order, and fails
// exactly where it does, with the same message. Leaves the list in list.
inline void check_generation(const Board& b, Color c, MoveList& list) {
  std::vector<Move> expected;
  const auto expected_failure = panic_of([&] { expected = reference_moves(b, c); });
  const auto failure = panic_of([&] { generate_moves(b, c, list); });
  check(failure == expected_failure, "generation fails exactly where the reference does");
  if (failure) {
    list.size = 0;
    return;
  }
  check(std::equal(list.begin(), list.end(), expected.begin(), expected.end()),
        "generated list equals the reference list", long(list.size));
}

inline std::vector<Move> sorted(std::vector<Move> moves) {
  std::sort(moves.begin(), moves.end());
  return moves;
}

// The bag holds exactly the list's moves, duplicates included.
inline void check_bag(const Board& b, Color c, MoveList& list, MoveBag& bag) {
  generate_moves(b, c, list);
  bag.generate(b, c);
  check(bag.size() == list.size, "bag and list sizes", long(list.size));
  std::vector<Move> from_bag;
  for (std::size_t i = 0; i < bag.size(); ++i) from_bag.push_back(bag[i]);
  check(sorted(from_bag) == sorted({list.begin(), list.end()}), "bag holds the list's moves");
}

// ---- Execution -------------------------------------------------------------

// Move execution bit by bit: the reference for execute_move.
inline void reference_execute(Board& b, Move m) {
  const int to = (m >> 7) & 0x7f;
  if (has(b.occupied, to)) {
    const int kind = reference_kind(b, to);
    const int base = kind >= 9 ? kind - 6 : kind;
    const bool black = has(b.color_boards[0], to);
    reference_place(b, to, 0, Color::None);
    b.occupied &= ~bit(to);
    const int slot = base == 0 ? 0 : (black ? 1 : 0) * 8 + base - 1;
    b.hand.counts[slot] = std::uint8_t(b.hand.counts[slot] + 1);
  }
  if (m & 0x8000) {
    const int k = m & 0x3f, o = (m >> 6) & 1;
    const int kind = k >= 1 && k <= 14 ? k : 0;
    const int slot = kind ? k + 8 * o - 1 : 0;
    if (slot >= 16) panic_index_out_of_bounds(16, std::uint64_t(slot));
    if (b.hand.counts[slot]) --b.hand.counts[slot];
    reference_place(b, to, kind, o ? Color::White : Color::Black);
    return;
  }
  const int from = m & 0x7f;
  const int kind = reference_kind(b, from);
  const bool occupied = has(b.occupied, from), black = has(b.color_boards[0], from);
  reference_place(b, from, 0, Color::None);
  b.occupied &= ~bit(from);
  const int arriving = (m & 0x4000) && kind >= 3 && kind <= 8 ? kind + 6 : kind;
  reference_place(b, to, arriving, black ? Color::Black : occupied ? Color::White : Color::None);
}

// execute_move on a copy of b matches the reference, failures included;
// returns the position after the move (after its capture, if it failed).
inline Board check_execution(const Board& b, Move m) {
  Board expected = b, actual = b;
  const auto expected_failure = panic_of([&] { reference_execute(expected, m); });
  const auto failure = panic_of([&] { execute_move(actual, m); });
  check(failure == expected_failure, "execute_move fails exactly where the reference does", m);
  check(actual == expected, "execute_move matches the reference", m);
  return actual;
}

// The squares whose bit differs between two positions in any board.
inline Bitboard changed_squares(const Board& a, const Board& b) {
  Bitboard changed = (a.occupied ^ b.occupied) | (a.color_boards[0] ^ b.color_boards[0]) |
                     (a.color_boards[1] ^ b.color_boards[1]);
  for (int k = 0; k < PIECE_TYPE_NB; ++k) changed |= a.piece_boards[k] ^ b.piece_boards[k];
  return changed;
}

// King count: the game goes on while exactly two King squares remain; the
// winner is Black when a Black King is left.
inline Outcome reference_king_outcome(const Board& b) {
  int kings = 0;
  bool black_king = false;
  for (int i = 0; i < 128; ++i) {
    kings += has(b.piece_boards[1], i);
    black_king |= has(b.piece_boards[1], i) && has(b.color_boards[0], i);
  }
  if (kings == 2) return {false, Color::None};
  return {true, black_king ? Color::Black : Color::White};
}

inline bool same(Outcome a, Outcome b) { return a.finished == b.finished && a.winner == b.winner; }

// ---- Text ---------------------------------------------------------------

inline std::vector<char32_t> characters(std::string_view text) {
  std::vector<char32_t> out;
  Utf8Reader reader(text);
  for (char32_t c; reader.next(c);) out.push_back(c);
  return out;
}

inline int letter_kind(char32_t c) {
  if (c >= 'a' && c <= 'z') c -= 32;
  const std::string_view letters = "KGRBSNLP";
  const std::size_t at = c < 128 ? letters.find(char(c)) : std::string_view::npos;
  return at == std::string_view::npos ? 0 : int(at) + 1;
}
inline Color letter_color(char32_t c) { return (c & 0xff) < 0x54 ? Color::Black : Color::White; }

inline std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at; (at = text.find(separator)) != std::string_view::npos;) {
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  parts.push_back(text);
  return parts;
}

// A board field laid over b, rank part by rank part from the last.
inline void reference_read_board_field(Board& b, std::string_view field) {
  if (field == "startpos") {
    constexpr std::string_view START = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL";
    const std::vector<std::string_view> rows = split(START, '/');
    for (std::size_t i = 0; i < rows.size(); ++i) {
      int column = 1;
      for (const char ch : rows[i]) {
        if (ch >= '1' && ch <= '9') {
          column += ch - '0';
          continue;
        }
        reference_place(b, int(9 - i) * 11 + column++, letter_kind(char32_t(ch)),
                        letter_color(char32_t(ch)));
      }
    }
    b.hand = Hand{};
    return;
  }
  const std::vector<std::string_view> parts = split(field, '/');
  for (std::size_t i = parts.size(); i-- > 0;) {
    const auto row = std::uint8_t(9 - i);
    std::uint8_t offset = 0;
    for (const char32_t c : characters(parts[i])) {
      if (c >= '0' && c <= '9') {
        offset = std::uint8_t(offset + (c - '0'));
        continue;
      }
      reference_place(b, std::uint8_t(row * 11 + 1 + offset), letter_kind(c), letter_color(c));
      offset = std::uint8_t(offset + 1);
    }
  }
}

// A hand field added to h; throws Panic when it ends right after a digit.
inline void reference_read_hand_field(Hand& h, std::string_view field) {
  const std::vector<char32_t> chars = characters(field);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    int count = 1;
    if (chars[i] >= '0' && chars[i] <= '9') {
      count = int(chars[i] - '0');
      if (++i == chars.size()) panic_unwrap_none();
    }
    const int kind = letter_kind(chars[i]);
    const int slot = kind ? (letter_color(chars[i]) == Color::White ? 8 : 0) + kind - 1 : 0;
    h.counts[slot] = std::uint8_t(h.counts[slot] + count);
  }
}

inline Board reference_read_position(std::string_view text) {
  const std::vector<std::string_view> fields = split(text, ' ');
  Board b;
  reference_read_board_field(b, fields[0]);
  if (fields.size() > 1 && !fields[1].empty() && fields[1] != "-")
    reference_read_hand_field(b.hand, fields[1]);
  return b;
}

inline std::string reference_write_board_field(const Board& b) {
  std::string text;
  for (int row = 9; row >= 1; --row) {
    if (row != 9) text += '/';
    int run = 0;
    for (int column = 1; column <= 9; ++column) {
      const int s = row * 11 + column;
      int kind = 0;
      for (int k = 14; k >= 1; --k)
        if (has(b.piece_boards[k], s)) kind = k;
      if (has(b.piece_boards[0], s) || !kind) {
        ++run;
        continue;
      }
      if (run) text += char('0' + run);
      run = 0;
      const bool black = has(b.occupied, s) && has(b.color_boards[0], s);
      if (kind >= 9) text += '+';
      text += "KGRBSNLP"[(kind >= 9 ? kind - 6 : kind) - 1] + (black ? 0 : 32);
    }
    if (run) text += char('0' + run);
  }
  return text;
}

inline std::uint16_t reference_move_number(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return 0;
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + unsigned(c - '0');
    if (value > 65535) return 0;
  }
  return std::uint16_t(value);
}

inline Color reference_turn(std::string_view text) {
  if (text.empty()) return Color::None;
  return text[0] == 'b' ? Color::Black : text[0] == 'w' ? Color::White : Color::None;
}

// Move text reader: the value, or the Panic's message.
inline std::uint16_t reference_square(char column, char row) {
  return std::uint8_t(std::uint8_t(column) - 0x30 + 11 * (std::uint8_t(row) - 0x60));
}

inline Move reference_read_move(std::string_view text) {
  const auto continuation = [&](std::size_t i) { return (std::uint8_t(text[i]) & 0xc0) == 0x80; };
  if (text.size() < 2) throw Panic("byte index 2 is out of bounds of `" + std::string(text) + "`");
  if (text.size() > 2 && continuation(2)) {
    std::size_t begin = 2, end = 3;
    while (begin > 0 && continuation(begin)) --begin;
    while (end < text.size() && continuation(end)) ++end;
    throw Panic("byte index 2 is not a char boundary; it is inside " + std::string("\x01") +
                " (bytes " + std::to_string(begin) + ".." + std::to_string(end) + ") of `" +
                std::string(text) + "`");
  }
  if (text.size() < 4) panic_index_out_of_bounds(text.size() - 2, text.size() - 2);
  const std::vector<char32_t> chars = characters(text);
  const std::uint16_t to = reference_square(text[2], text[3]);
  if (chars[1] == '*')
    return Move(0x8000 | to << 7 | (letter_color(chars[0]) == Color::White ? 0x40 : 0) |
                letter_kind(chars[0]));
  const bool promote = chars.size() > 4 && chars[4] == '+';
  return Move(to << 7 | reference_square(text[0], text[1]) | (promote ? 0x4000 : 0));
}

// The same messages, but for the quoted character of a char-boundary
// failure, which the reference leaves as a marker.
inline bool same_failure(const std::optional<std::string>& actual,
                         const std::optional<std::string>& expected) {
  if (!actual || !expected) return actual == expected;
  const std::size_t marker = expected->find('\x01');
  if (marker == std::string::npos) return *actual == *expected;
  const std::string tail = expected->substr(marker + 1);
  return actual->compare(0, marker, *expected, 0, marker) == 0 && actual->size() > tail.size() &&
         actual->compare(actual->size() - tail.size(), tail.size(), tail) == 0;
}

// ---- Random play ------------------------------------------------------------

// The playout's candidates for the game it is attached to, enumerated one by
// one: the accepted ones are exactly the list's moves, each as often as
// listed, and each names the kind it moves or drops. A fault here skews the
// draw.
inline void check_candidates(const Game& g, Playout& playout, MoveList& list) {
  generate_moves(g.board, g.turn, list);
  playout.prepare();
  check(playout.weight() <= 65536, "candidates fit a 16-bit draw", long(playout.weight()));
  std::vector<Move> accepted;
  for (std::uint32_t i = 0; i < playout.weight(); ++i) {
    const Playout::Candidate candidate = playout.candidate(i);
    if (!candidate.accepted) continue;
    accepted.push_back(candidate.move);
    const PieceType kind = is_drop(candidate.move)
                               ? move_piece(candidate.move).kind
                               : piece_type_at(g.board, from_square(candidate.move));
    check(kind == candidate.kind, "a candidate names its kind", candidate.move);
  }
  check(sorted(accepted) == sorted({list.begin(), list.end()}),
        "the accepted candidates are the list's moves");
}

// One move of random play on a game that is not over, checked: with the
// playout when it is attached to the game (its candidates enumerated first
// when enumerate is set, its state compared with one built afresh after the
// move: the shadow check), else the plain way. The move played is a listed
// one and is executed as the reference does; number and turn advance; the
// game ends exactly by the end rules, with their winner; a side without moves
// loses with nothing played. Returns whether the game goes on.
inline bool check_random_move(Game& g, Playout* playout, MoveBag& bag, Rng& rng, MoveList& list,
                              bool enumerate = true) {
  const Game before = g;
  const bool failing = panic_of([&] { generate_moves(g.board, g.turn, list); }).has_value();
  const std::vector<Move> expected =
      failing ? std::vector<Move>{} : std::vector<Move>(list.begin(), list.end());
  if (playout) {
    check(!failing, "the playout only takes games whose moves can be listed");
    if (enumerate) check_candidates(g, *playout, list);
  }
  Move played = 0;
  bool goes_on = false;
  const bool failed = panic_of([&] {
                        if (!playout) {
                          goes_on = play_random_move(g, rng, bag, &played);
                          return;
                        }
                        goes_on = playout->play_move(rng, &played);
                        playout->sync();
                      }).has_value();
  check(failed == failing, "random play fails exactly where generation does");
  if (failed) return false;
  if (expected.empty()) {
    check(!goes_on && g.winner == ~before.turn && g.board == before.board &&
              g.move_number == before.move_number,
          "a side without moves loses, nothing played");
    return false;
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
  if (playout) {
    const std::string mismatch = playout->verify();
    check(mismatch.empty(), mismatch.empty() ? "" : mismatch.c_str());
  }
  return goes_on;
}

}  // namespace komaban::checks

#endif
