#include "komaban/core/sfen.h"

#include <cstdint>

#include "komaban/core/utf8.h"

namespace komaban {

namespace {

constexpr std::string_view START_KEYWORD = "startpos";

constexpr bool is_digit(char32_t c) { return c >= '0' && c <= '9'; }

void read_rank(Board& b, std::uint8_t row, std::string_view part) {
  const auto first = std::uint8_t(row * FILE_NB + 1);
  std::uint8_t offset = 0;
  Utf8Reader reader(part);
  for (char32_t c; reader.next(c);) {
    if (is_digit(c)) {
      offset = std::uint8_t(offset + (c - '0'));
      continue;
    }
    place_piece(b, Square(first + offset), piece_type_from_letter(c), color_from_letter(c));
    ++offset;
  }
}

}  // namespace

void read_board_field(Board& b, std::string_view field) {
  if (field == START_KEYWORD) {
    overlay_start_position(b);
    return;
  }
  // Part i describes row 9 - i; parts are applied from the last to the first.
  std::size_t parts = 1;
  for (char c : field) parts += c == '/';
  std::size_t end = field.size();
  for (std::size_t i = parts; i-- > 0;) {
    const std::size_t slash = i ? field.rfind('/', end - 1) : std::string_view::npos;
    const std::size_t begin = slash == std::string_view::npos ? 0 : slash + 1;
    read_rank(b, std::uint8_t(9 - i), field.substr(begin, end - begin));
    end = slash;
  }
}

void read_hand_field(Hand& h, std::string_view field) {
  Utf8Reader reader(field);
  for (char32_t c; reader.next(c);) {
    std::uint8_t count = 1;
    if (is_digit(c)) {
      count = std::uint8_t(c - '0');
      if (!reader.next(c)) panic_unwrap_none();
    }
    const PieceType kind = piece_type_from_letter(c);
    h.add_to_slot(kind == PieceType::None ? 0 : Hand::slot(color_from_letter(c), kind), count);
  }
}

Board read_position(std::string_view sfen) {
  const std::size_t space = sfen.find(' ');
  Board b;
  read_board_field(b, sfen.substr(0, space));
  if (space != std::string_view::npos) {
    std::string_view hand = sfen.substr(space + 1);
    hand = hand.substr(0, hand.find(' '));
    if (!hand.empty() && hand != "-") read_hand_field(b.hand, hand);
  }
  return b;
}

std::string write_board_field(const Board& b) {
  std::string text;
  text.reserve(96);
  for (int row = 9; row >= 1; --row) {
    if (row != 9) text += '/';
    int run = 0;
    for (int column = 1; column <= 9; ++column) {
      const Square s = make_square(column, row);
      const PieceType kind = piece_type_at(b, s);
      if (kind == PieceType::None) {
        ++run;
        continue;
      }
      if (run) text += char('0' + run);
      run = 0;
      const bool black = contains(b.occupied & b.color_boards[0], s);
      text += piece_text({black ? Color::Black : Color::White, kind});
    }
    if (run) text += char('0' + run);
  }
  return text;
}

}  // namespace komaban
