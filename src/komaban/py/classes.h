#ifndef KOMABAN_PY_CLASSES_H
#define KOMABAN_PY_CLASSES_H

// The eight class families: each names its native value and its type object,
// built once by its create function at module initialisation.

#include <iterator>

#include "komaban/core/game.h"
#include "komaban/core/move.h"
#include "komaban/core/position.h"
#include "komaban/core/types.h"
#include "komaban/py/binding.h"

namespace komaban::py {

struct AddressClass {
  using Value = Square;
  static constexpr const char* NAME = "Address";
  static inline PyTypeObject* type = nullptr;
};
struct ColorClass {
  using Value = Color;
  static constexpr const char* NAME = "ColorType";
  static inline PyTypeObject* type = nullptr;
};
struct PieceTypeClass {
  using Value = PieceType;
  static constexpr const char* NAME = "PieceType";
  static inline PyTypeObject* type = nullptr;
};
struct PieceClass {
  using Value = Piece;
  static constexpr const char* NAME = "Piece";
  static inline PyTypeObject* type = nullptr;
};
struct MoveClass {
  using Value = Move;
  static constexpr const char* NAME = "Move";
  static inline PyTypeObject* type = nullptr;
};
struct HandClass {
  using Value = Hand;
  static constexpr const char* NAME = "Hand";
  static inline PyTypeObject* type = nullptr;
};
struct BoardClass {
  using Value = Board;
  static constexpr const char* NAME = "Board";
  static inline PyTypeObject* type = nullptr;
};
struct GameClass {
  using Value = Game;
  static constexpr const char* NAME = "Game";
  static inline PyTypeObject* type = nullptr;
};

PyTypeObject* create_address_type();
PyTypeObject* create_color_type();
PyTypeObject* create_piece_type_type();
PyTypeObject* create_piece_type();
PyTypeObject* create_move_type();
PyTypeObject* create_hand_type();
PyTypeObject* create_board_type();
PyTypeObject* create_game_type();

// Shorthand for a list built at its final length from a native range.
template <class C, class Range>
PyObject* new_list_of(const Range& values) {
  Ref list(check(PyList_New(Py_ssize_t(std::distance(std::begin(values), std::end(values))))));
  Py_ssize_t i = 0;
  for (const auto& v : values) PyList_SET_ITEM(list.get(), i++, wrap<C>(v));
  return list.release();
}

// (finished, winner) as a new 2-tuple.
inline PyObject* new_outcome(Outcome outcome) {
  Ref winner(wrap<ColorClass>(outcome.winner));
  return check(PyTuple_Pack(2, outcome.finished ? Py_True : Py_False, winner.get()));
}

}  // namespace komaban::py

#endif
