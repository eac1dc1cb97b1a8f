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

// "builtins." followed by a class name, as one compile-time string, so that
// the type's qualified name lives as long as the type.
template <std::size_t N>
struct ClassName {
  static constexpr char MODULE[] = "builtins.";
  char text[sizeof MODULE - 1 + N]{};
  constexpr ClassName(const char (&name)[N]) {
    for (std::size_t i = 0; i < sizeof MODULE - 1; ++i) text[i] = MODULE[i];
    for (std::size_t i = 0; i < N; ++i) text[sizeof MODULE - 1 + i] = name[i];
  }
};

template <class V, ClassName Name>
struct Family {
  using Value = V;
  static constexpr const char* QUALIFIED_NAME = Name.text;
  static constexpr const char* NAME = Name.text + sizeof ClassName<1>::MODULE - 1;
  static inline PyTypeObject* type = nullptr;
};

using AddressClass = Family<Square, "Address">;
using ColorClass = Family<Color, "ColorType">;
using PieceTypeClass = Family<PieceType, "PieceType">;
using PieceClass = Family<Piece, "Piece">;
using MoveClass = Family<Move, "Move">;
using HandClass = Family<Hand, "Hand">;
using BoardClass = Family<Board, "Board">;
using GameClass = Family<Game, "Game">;

// Builds the type of family C once; later calls return it.
template <class C>
PyTypeObject* create_type(PyType_Slot* slots) {
  if (!C::type) C::type = build_type(C::QUALIFIED_NAME, sizeof(InstanceOf<C>), slots);
  return C::type;
}

PyTypeObject* create_address_type();
PyTypeObject* create_color_type();
PyTypeObject* create_piece_type_type();
PyTypeObject* create_piece_type();
PyTypeObject* create_move_type();
PyTypeObject* create_hand_type();
PyTypeObject* create_board_type();
PyTypeObject* create_game_type();

// Shorthand for a list built at its final length from a native range. The
// items are made without PyObject_Init when it would only set the header:
// no Python code runs while the list is filled.
template <class C, class Range>
PyObject* new_list_of(const Range& values) {
  Ref list(check(PyList_New(Py_ssize_t(std::distance(std::begin(values), std::end(values))))));
  Py_ssize_t i = 0;
  if (object_init_is_plain()) {
    for (const auto& v : values) PyList_SET_ITEM(list.get(), i++, (wrap<C, ObjectInit::Plain>(v)));
  } else {
    for (const auto& v : values) PyList_SET_ITEM(list.get(), i++, wrap<C>(v));
  }
  return list.release();
}

// (finished, winner) as a new 2-tuple.
inline PyObject* new_outcome(Outcome outcome) {
  Ref winner(wrap<ColorClass>(outcome.winner));
  return check(PyTuple_Pack(2, outcome.finished ? Py_True : Py_False, winner.get()));
}

}  // namespace komaban::py

#endif
