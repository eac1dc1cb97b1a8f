// Move: one 16-bit move value, built from move text or from its parts.

#include <optional>

#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

Move value_of(PyObject* self) { return instance<MoveClass>(self)->value; }

Signature NEW{"Move.__new__()", 0, "csa", "from_address", "to_address", "promote", "piece"};

// None counts as not given, except for promote.
template <class Converter>
auto optional_arg(PyObject* o, const char* name) {
  using Value = decltype(Converter::convert(o));
  return o && o != Py_None ? std::optional<Value>(arg<Converter>(o, name)) : std::nullopt;
}

PyObject* move_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const BoundArgs a = NEW.bind(args, kwargs);
    const auto csa = optional_arg<Text>(a[0], "csa");
    const auto from = optional_arg<ValueOf<AddressClass>>(a[1], "from_address");
    const auto to = optional_arg<ValueOf<AddressClass>>(a[2], "to_address");
    const bool promote = a[3] ? arg<Bool>(a[3], "promote") : false;
    const auto piece = optional_arg<ValueOf<PieceClass>>(a[4], "piece");

    Move m = 0;
    if (csa) {
      m = read_move_text(*csa);
    } else if (from) {
      if (!to) panic_unwrap_none();
      m = make_board_move(*from, *to, promote);
    } else if (piece) {
      if (!to) panic_unwrap_none();
      m = make_drop(*to, piece->owner, piece->kind);
    }
    return wrap<MoveClass>(m);
  });
}

PyObject* move_str(PyObject* self) {
  return guarded([&] { return new_text("Move(csa=" + move_text(value_of(self)) + ")"); });
}

PyObject* is_drop_method(PyObject* self, PyObject*) { return new_bool(is_drop(value_of(self))); }

PyObject* is_promote_method(PyObject* self, PyObject*) {
  return new_bool(is_promote(value_of(self)));
}

PyObject* get_from(PyObject* self, PyObject*) {
  return guarded([&] { return wrap<AddressClass>(from_square(value_of(self))); });
}

PyObject* get_to(PyObject* self, PyObject*) {
  return guarded([&] { return wrap<AddressClass>(to_square(value_of(self))); });
}

PyObject* get_piece(PyObject* self, PyObject*) {
  return guarded([&] { return wrap<PieceClass>(move_piece(value_of(self))); });
}

PyMethodDef METHODS[] = {
    {"is_drop", is_drop_method, METH_NOARGS, "is_drop($self)\n--\n\n"},
    {"is_promote", is_promote_method, METH_NOARGS, "is_promote($self)\n--\n\n"},
    {"get_from", get_from, METH_NOARGS, "get_from($self)\n--\n\n"},
    {"get_to", get_to, METH_NOARGS, "get_to($self)\n--\n\n"},
    {"get_piece", get_piece, METH_NOARGS, "get_piece($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Move(csa=None, from_address=None, to_address=None, promote=False, piece=None)"
                    "\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(move_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<MoveClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(move_str)},
    {Py_tp_str, reinterpret_cast<void*>(move_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(compare_values<MoveClass>)},
    {Py_tp_methods, METHODS},
    {0, nullptr},
};

}  // namespace

PyTypeObject* create_move_type() { return create_type<MoveClass>(SLOTS); }

}  // namespace komaban::py
