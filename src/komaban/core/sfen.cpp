#include "komaban/core/sfen.h"

#include <array>
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

// Part i describes row 9 - i; parts are applied from the last to the first,
// each piece placed as it is read.
void read_piece_by_piece(Board& b, std::string_view field) {
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

// Kind | colour << 4 of an ASCII character read as a piece.
constexpr std::array<std::uint8_t, 128> ASCII_PIECE = [] {
  std::array<std::uint8_t, 128> table{};
  for (char32_t c = 0; c < 128; ++c)
    table[c] = std::uint8_t(index(piece_type_from_letter(c)) | index(color_from_letter(c)) << 4);
  return table;
}();

// The pieces of a board field gathered into bitboards, to be laid on a board
// at once rather than piece by piece.
struct Gathered {
  Bitboard placed = 0;
  std::array<Bitboard, PIECE_TYPE_NB> kinds{};
  std::array<Bitboard, COLOR_NB> colors{};

  // What placing each gathered piece with place_piece would do: the readers
  // place only Black and White pieces.
  void lay_on(Board& b) const {
    b.occupied |= placed;
    for (int c = 0; c < COLOR_NB; ++c)
      b.color_boards[c] = (b.color_boards[c] & ~placed) | colors[c];
    for (int k = 0; k < PIECE_TYPE_NB; ++k)
      b.piece_boards[k] = (b.piece_boards[k] & ~placed) | kinds[k];
  }
};

// One forward pass over a field of ASCII characters that places at most one
// piece on each square. Then the order of placing does not matter, and the
// result equals that of read_piece_by_piece. Returns false, with g partly
// filled, for any other field.
bool gather_simple_field(std::string_view field, Gathered& g) {
  std::uint8_t row = 9;
  auto first = std::uint8_t(row * FILE_NB + 1);
  std::uint8_t offset = 0;
  for (const char ch : field) {
    const auto byte = std::uint8_t(ch);
    if (byte == '/') {
      row = std::uint8_t(row - 1);
      first = std::uint8_t(row * FILE_NB + 1);
      offset = 0;
      continue;
    }
    if (byte >= 0x80) return false;
    if (is_digit(byte)) {
      offset = std::uint8_t(offset + (byte - '0'));
      continue;
    }
    const Bitboard m = square_bb(std::uint8_t(first + offset));
    ++offset;
    if (any(g.placed & m)) return false;
    g.placed |= m;
    g.kinds[ASCII_PIECE[byte] & 15] |= m;
    g.colors[ASCII_PIECE[byte] >> 4] |= m;
  }
  return true;
}

// Letter per square code (kind, + 16 for Black): upper case for Black;
// promoted kinds take the letter of their base kind.
constexpr std::array<char, 32> SYMBOL_LETTER = [] {
  constexpr std::string_view LETTERS = " kgrbsnlp";
  std::array<char, 32> table{};
  for (int k = 1; k < PIECE_TYPE_NB; ++k) {
    const char letter = LETTERS[index(demote(PieceType(k)))];
    table[k] = letter;
    table[16 + k] = char(letter - 'a' + 'A');
  }
  return table;
}();

}  // namespace

void read_board_field(Board& b, std::string_view field) {
  if (field == START_KEYWORD) {
    overlay_start_position(b);
    return;
  }
  Gathered g;
  if (gather_simple_field(field, g))
    g.lay_on(b);
  else
    read_piece_by_piece(b, field);
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

std::size_t write_board_field(const Board& b, char* out) {
  // Square code: the kind piece_type_at finds (the first piece board holding
  // the square, none if piece_boards[0] holds it), + 16 for Black. Boards
  // are visited from the last to the first so that the first one wins.
  std::array<std::uint8_t, 128> code{};
  const Bitboard empty = b.piece_boards[0];
  Bitboard pieces = 0;
  for (int k = PIECE_TYPE_NB - 1; k >= 1; --k) {
    const Bitboard squares = b.piece_boards[k] & ~empty;
    pieces |= squares;
    for_each_square(squares, [&](Square s) { code[s] = std::uint8_t(k); });
  }
  for_each_square(pieces & b.occupied & b.color_boards[0], [&](Square s) { code[s] |= 16; });

  char* p = out;
  for (int row = 9; row >= 1; --row) {
    if (row != 9) *p++ = '/';
    const std::uint8_t* square = &code[make_square(1, row)];
    int run = 0;
    for (int column = 0; column < 9; ++column) {
      const std::uint8_t c = square[column];
      if (!c) {
        ++run;
        continue;
      }
      if (run) *p++ = char('0' + run);
      run = 0;
      if (is_promoted(PieceType(c & 15))) *p++ = '+';
      *p++ = SYMBOL_LETTER[c];
    }
    if (run) *p++ = char('0' + run);
  }
  return std::size_t(p - out);
}

std::string write_board_field(const Board& b) {
  char text[BOARD_FIELD_MAX];
  return std::string(text, write_board_field(b, text));
}

}  // namespace komaban
