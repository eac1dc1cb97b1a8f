#include "komaban/core/move.h"

#include <cstdio>

#include "komaban/core/panic.h"
#include "komaban/core/utf8.h"

namespace komaban {

namespace {

void append_square(std::string& text, Square s) {
  text += char(0x30 + column_of(s));
  text += char(0x60 + row_of(s));
}

// Inverse of the square text, in 8-bit arithmetic without range checks.
constexpr Square read_square(char column, char row) {
  return Square((std::uint8_t(column) - 0x30) + FILE_NB * (std::uint8_t(row) - 0x60));
}

constexpr bool is_continuation(char c) { return (std::uint8_t(c) & 0xc0) == 0x80; }

// 'é', with escapes for quotes, backslashes and C1 control characters.
std::string quoted_char(char32_t c, std::string_view utf8) {
  std::string text = "'";
  if (c == '\'' || c == '\\') {
    text += '\\';
    text += char(c);
  } else if (c >= 0x80 && c < 0xa0) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\u{%x}", unsigned(c));
    text += buffer;
  } else {
    text += utf8;
  }
  return text + "'";
}

[[noreturn]] void panic_not_char_boundary(std::string_view text) {
  std::size_t begin = 2;
  while (begin > 0 && is_continuation(text[begin])) --begin;
  std::size_t end = 3;
  while (end < text.size() && is_continuation(text[end])) ++end;
  Utf8Reader reader(text.substr(begin, end - begin));
  char32_t c = 0;
  reader.next(c);
  throw Panic("byte index 2 is not a char boundary; it is inside " +
              quoted_char(c, text.substr(begin, end - begin)) + " (bytes " + std::to_string(begin) +
              ".." + std::to_string(end) + ") of `" + std::string(text) + "`");
}

}  // namespace

std::string move_text(Move m) {
  std::string text;
  if (is_drop(m)) {
    text = piece_text(move_piece(m));
    text += '*';
    append_square(text, to_square(m));
  } else {
    append_square(text, from_square(m));
    append_square(text, to_square(m));
    if (is_promote(m)) text += '+';
  }
  return text;
}

Move read_move_text(std::string_view text) {
  if (text.size() < 2) throw Panic("byte index 2 is out of bounds of `" + std::string(text) + "`");
  if (text.size() > 2 && is_continuation(text[2])) panic_not_char_boundary(text);
  if (text.size() < 4) panic_index_out_of_bounds(text.size() - 2, text.size() - 2);

  Utf8Reader reader(text);
  char32_t first = 0, second = 0;
  reader.next(first);
  reader.next(second);
  const Square to = read_square(text[2], text[3]);
  if (second == '*') return make_drop(to, color_from_letter(first), piece_type_from_letter(first));
  char32_t c = 0;
  bool promote = false;
  if (reader.next(c) && reader.next(c) && reader.next(c)) promote = c == '+';
  return make_board_move(read_square(text[0], text[1]), to, promote);
}

}  // namespace komaban
