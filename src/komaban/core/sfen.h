#ifndef KOMABAN_CORE_SFEN_H
#define KOMABAN_CORE_SFEN_H

#include <cstddef>
#include <string>
#include <string_view>

#include "komaban/core/position.h"

namespace komaban {

// Lenient readers of SFEN-derived text: they never reject malformed text.

// Board field, laid over b: "startpos" lays the start position and empties
// the hand; otherwise rank parts separated by "/" (first part row 9) place
// pieces, digits skip squares without clearing them, and any character that
// is not a piece letter places a piece of kind None.
void read_board_field(Board& b, std::string_view field);

// Hand field, added to h: items of an optional single digit and a character.
// Throws Panic when the text ends right after a digit; earlier items stay.
void read_hand_field(Hand& h, std::string_view field);

// A position from "<board field or startpos>[ <hand field>]"; further
// space-separated fields are ignored.
Board read_position(std::string_view sfen);

// The longest board field: nine rows of nine two-character symbols, eight "/".
constexpr std::size_t BOARD_FIELD_MAX = 9 * 9 * 2 + 8;

// The board field of a position, rows 9 to 1, columns 1 to 9.
std::string write_board_field(const Board& b);
// The same into out, which has room for BOARD_FIELD_MAX characters; returns
// the number written.
std::size_t write_board_field(const Board& b, char* out);

}  // namespace komaban

#endif
