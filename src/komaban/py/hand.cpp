// Hand: the pieces in hand of both players, addressed by the slot rule.

#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

using Self = InstanceOf<HandClass>;
Self* self_of(PyObject* o) { return instance<HandClass>(o); }

Signature NEW{"Hand.__new__()", 0};
Signature ADD_PIECE{"Hand.add_piece()", 2, "color_type", "piece_type"};
Signature ADD_PIECES{"Hand.add_pieces()", 3, "color_type", "piece_type", "count"};
Signature DECREASE_PIECE{"Hand.decrease_piece()", 2, "color_type", "piece_type"};
Signature GET_PLAYER_PIECES{"Hand.get_player_pieces()", 1, "color_type"};

PyObject* hand_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    NEW.bind(args, kwargs);
    return wrap<HandClass>(Hand{});
  });
}

PyObject* hand_str(PyObject* self) {
  return guarded([&] { return new_text(copy_of<HandClass>(self).to_string()); });
}

PyObject* get_pieces(PyObject* self, void*) {
  return guarded([&] { return new_list_of<PieceClass>(copy_of<HandClass>(self).pieces); });
}

PyObject* get_counts(PyObject* self, void*) {
  return guarded([&] {
    const Hand h = copy_of<HandClass>(self);
    Ref list(check(PyList_New(Hand::SIZE)));
    for (int s = 0; s < Hand::SIZE; ++s)
      PyList_SET_ITEM(list.get(), s, check(PyLong_FromLong(h.counts[std::size_t(s)])));
    return list.release();
  });
}

// All 16 items are converted before the hand is borrowed, so a failed
// assignment changes nothing.
template <class Item, auto Field>
int set_table(PyObject* self, PyObject* value, const char* name) {
  return guarded_status([&] {
    refuse_delete(value);
    const auto table = arg<SequenceOf<Item, Hand::SIZE>>(value, name);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    self_of(self)->value.*Field = table;
    return 0;
  });
}

int set_pieces(PyObject* self, PyObject* value, void*) {
  return set_table<ValueOf<PieceClass>, &Hand::pieces>(self, value, "pieces");
}

int set_counts(PyObject* self, PyObject* value, void*) {
  return set_table<U8, &Hand::counts>(self, value, "counts");
}

PyObject* add_piece(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = ADD_PIECE.bind(args, nargs, kwnames);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    const Color c = arg<ValueOf<ColorClass>>(a[0], "color_type");
    const PieceType k = arg<ValueOf<PieceTypeClass>>(a[1], "piece_type");
    self_of(self)->value.add(c, k);
    Py_RETURN_NONE;
  });
}

PyObject* add_pieces(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = ADD_PIECES.bind(args, nargs, kwnames);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    const Color c = arg<ValueOf<ColorClass>>(a[0], "color_type");
    const PieceType k = arg<ValueOf<PieceTypeClass>>(a[1], "piece_type");
    const std::uint8_t count = arg<U8>(a[2], "count");
    self_of(self)->value.add(c, k, count);
    Py_RETURN_NONE;
  });
}

PyObject* decrease_piece(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = DECREASE_PIECE.bind(args, nargs, kwnames);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    const Color c = arg<ValueOf<ColorClass>>(a[0], "color_type");
    const PieceType k = arg<ValueOf<PieceTypeClass>>(a[1], "piece_type");
    self_of(self)->value.decrease(c, k);
    Py_RETURN_NONE;
  });
}

PyObject* get_player_pieces(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = GET_PLAYER_PIECES.bind(args, nargs, kwnames);
    SharedBorrow borrow(self_of(self)->borrow);
    const Color c = arg<ValueOf<ColorClass>>(a[0], "color_type");
    return new_list_of<PieceClass>(self_of(self)->value.player_pieces(c));
  });
}

PyGetSetDef GETSET[] = {
    {"pieces", get_pieces, set_pieces, nullptr, nullptr},
    {"counts", get_counts, set_counts, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef METHODS[] = {
    {"add_piece", KOMABAN_FASTCALL(add_piece), "add_piece($self, color_type, piece_type)\n--\n\n"},
    {"add_pieces", KOMABAN_FASTCALL(add_pieces),
     "add_pieces($self, color_type, piece_type, count)\n--\n\n"},
    {"decrease_piece", KOMABAN_FASTCALL(decrease_piece),
     "decrease_piece($self, color_type, piece_type)\n--\n\n"},
    {"get_player_pieces", KOMABAN_FASTCALL(get_player_pieces),
     "get_player_pieces($self, color_type)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Hand()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(hand_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<HandClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(hand_str)},
    {Py_tp_str, reinterpret_cast<void*>(hand_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(compare_values<HandClass>)},
    {Py_tp_getset, GETSET},
    {Py_tp_methods, METHODS},
    {0, nullptr},
};

}  // namespace

PyTypeObject* create_hand_type() { return create_type<HandClass>(SLOTS); }

}  // namespace komaban::py
