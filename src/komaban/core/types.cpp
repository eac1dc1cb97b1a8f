#include "komaban/core/types.h"

#include <array>
#include <string>

namespace komaban {

std::string_view color_name(Color c) {
  switch (c) {
    case Color::Black: return "Black";
    case Color::White: return "White";
    case Color::ColorNumber: return "ColorNumber";
    default: return "None";
  }
}

std::string_view piece_type_name(PieceType k) {
  static constexpr std::array<std::string_view, PIECE_TYPE_NB> NAMES = {
      "None", "King",   "Gold",  "Rook",      "Bichop",    "Silver",   "Knight", "Lance",
      "Pawn", "Dragon", "Horse", "ProSilver", "ProKnight", "ProLance", "ProPawn"};
  return NAMES[index(k) < PIECE_TYPE_NB ? index(k) : 0];
}

std::string piece_text(Piece p) {
  static constexpr std::string_view LETTERS = " kgrbsnlp";
  if (p.kind == PieceType::None || index(p.kind) >= PIECE_TYPE_NB) return " ";
  char letter = LETTERS[index(demote(p.kind))];
  if (p.owner == Color::Black) letter = char(letter - 'a' + 'A');
  std::string text;
  if (is_promoted(p.kind)) text += '+';
  text += letter;
  return text;
}

std::string piece_debug_text(Piece p) {
  std::string text = "Piece { owner: ";
  text += color_name(p.owner);
  text += ", piece_type: ";
  text += piece_type_name(p.kind);
  text += " }";
  return text;
}

}  // namespace komaban
