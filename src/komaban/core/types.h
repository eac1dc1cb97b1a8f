#ifndef KOMABAN_CORE_TYPES_H
#define KOMABAN_CORE_TYPES_H

#include <cstdint>
#include <string_view>

namespace komaban {

// A side. The byte is read as signed: None is -1 (0xff), the playing colours
// index every per-colour array.
enum class Color : std::int8_t { None = -1, Black = 0, White = 1, ColorNumber = 2 };

constexpr int COLOR_NB = 2;

// Every byte maps onto one of the four members.
constexpr Color color_from_byte(std::uint8_t v) { return v <= 2 ? Color(v) : Color::None; }
constexpr std::uint8_t color_byte(Color c) { return std::uint8_t(c); }
constexpr bool is_player(Color c) { return c == Color::Black || c == Color::White; }
constexpr Color operator~(Color c) {
  return c == Color::Black ? Color::White : c == Color::White ? Color::Black : Color::None;
}

std::string_view color_name(Color c);

// Piece kinds; a promoted kind is its base kind + 6.
enum class PieceType : std::uint8_t {
  None,
  King,
  Gold,
  Rook,
  Bichop,
  Silver,
  Knight,
  Lance,
  Pawn,
  Dragon,
  Horse,
  ProSilver,
  ProKnight,
  ProLance,
  ProPawn,
};

constexpr int PIECE_TYPE_NB = 15;
constexpr int PROMOTION_OFFSET = 6;

constexpr PieceType piece_type_from_number(std::uint64_t v) {
  return v < PIECE_TYPE_NB ? PieceType(v) : PieceType::None;
}
constexpr int index(PieceType k) { return int(k); }
constexpr int index(Color c) { return int(c); }
constexpr bool is_promotable(PieceType k) { return k >= PieceType::Rook && k <= PieceType::Pawn; }
constexpr bool is_promoted(PieceType k) { return k >= PieceType::Dragon; }
constexpr PieceType promote(PieceType k) { return PieceType(int(k) + PROMOTION_OFFSET); }
constexpr PieceType demote(PieceType k) {
  return is_promoted(k) ? PieceType(int(k) - PROMOTION_OFFSET) : k;
}

std::string_view piece_type_name(PieceType k);

// Kind of a piece letter of position and move text, either case (K G R B S
// N L P); None for any other character.
constexpr PieceType piece_type_from_letter(char32_t c) {
  if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
  switch (c) {
    case 'K': return PieceType::King;
    case 'G': return PieceType::Gold;
    case 'R': return PieceType::Rook;
    case 'B': return PieceType::Bichop;
    case 'S': return PieceType::Silver;
    case 'N': return PieceType::Knight;
    case 'L': return PieceType::Lance;
    case 'P': return PieceType::Pawn;
    default: return PieceType::None;
  }
}

// The owner a character stands for, by its code's low byte: below 'T' is
// Black, so upper-case piece letters are Black's and lower-case White's.
constexpr Color color_from_letter(char32_t c) {
  return (c & 0xff) < 'T' ? Color::Black : Color::White;
}

// A kind with an owner. Nothing ties the two together.
struct Piece {
  Color owner = Color::None;
  PieceType kind = PieceType::None;
  bool operator==(const Piece&) const = default;
};

// Kind letter in position and move text ("K", "+R", ...): upper case for a
// Black owner, lower case for any other; a single blank for kind None.
std::string piece_text(Piece p);
// "Piece { owner: Black, piece_type: King }"
std::string piece_debug_text(Piece p);

// Square index on the 11 x 11 grid: column + 11 * row, playing squares at
// columns and rows 1..9. All index arithmetic is 8-bit and wraps.
using Square = std::uint8_t;

constexpr int FILE_NB = 11;
constexpr int GRID_SQUARES = FILE_NB * FILE_NB;

constexpr Square make_square(unsigned column, unsigned row) {
  return Square(column + FILE_NB * row);
}
constexpr unsigned column_of(Square s) { return s % FILE_NB; }
constexpr unsigned row_of(Square s) { return s / FILE_NB; }

}  // namespace komaban

#endif
