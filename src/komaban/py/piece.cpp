// PieceType, the kind of a piece, and Piece, a kind with an owner.

#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

// ---------------------------------------------------------------------------
// PieceType

PieceType kind_of(PyObject* self) { return instance<PieceTypeClass>(self)->value; }

Signature KIND_NEW{"PieceType.__new__()", 1, "value"};

PyObject* kind_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const BoundArgs a = KIND_NEW.bind(args, kwargs);
    return wrap<PieceTypeClass>(piece_type_from_number(arg<U8>(a[0], "value")));
  });
}

PyObject* kind_repr(PyObject* self) {
  const PieceType k = kind_of(self);
  return PyUnicode_FromFormat("<PieceType.%s: %d>", piece_type_name(k).data(), index(k));
}

PyObject* kind_str(PyObject* self) {
  return PyUnicode_FromFormat("PieceType.%s", piece_type_name(kind_of(self)).data());
}

PyObject* kind_int(PyObject* self) { return PyLong_FromLong(index(kind_of(self))); }

// Against another PieceType, or against an unsigned integer.
PyObject* kind_richcompare(PyObject* self, PyObject* other, int op) {
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  const PieceType k = kind_of(self);
  if (is_instance<PieceTypeClass>(other)) return equality_result(op, k == kind_of(other));
  try {
    return equality_result(op, std::uint64_t(index(k)) == U64::convert(other));
  } catch (const PythonError&) {
    PyErr_Clear();
    Py_RETURN_NOTIMPLEMENTED;
  }
}

PyObject* kind_get_name(PyObject* self, void*) {
  return guarded([&] { return new_text(piece_type_name(kind_of(self))); });
}

PyGetSetDef KIND_GETSET[] = {
    {"name", kind_get_name, nullptr, nullptr, nullptr},
    {"value", reinterpret_cast<getter>(+[](PyObject* self, void*) { return kind_int(self); }),
     nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot KIND_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("PieceType(value)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(kind_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PieceTypeClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(kind_repr)},
    {Py_tp_str, reinterpret_cast<void*>(kind_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(kind_richcompare)},
    {Py_nb_int, reinterpret_cast<void*>(kind_int)},
    {Py_tp_getset, KIND_GETSET},
    {0, nullptr},
};

// ---------------------------------------------------------------------------
// Piece

Signature PIECE_NEW{"Piece.__new__()", 2, "owner", "piece_type"};

PyObject* piece_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const BoundArgs a = PIECE_NEW.bind(args, kwargs);
    const Color owner = arg<ValueOf<ColorClass>>(a[0], "owner");
    const PieceType kind = arg<ValueOf<PieceTypeClass>>(a[1], "piece_type");
    return wrap<PieceClass>(Piece{owner, kind});
  });
}

PyObject* piece_repr(PyObject* self) {
  return guarded([&] {
    const Piece p = copy_of<PieceClass>(self);
    return PyUnicode_FromFormat("Piece(owner=<ColorType.%s: %u>, piece_type=<PieceType.%s: %d>)",
                                color_name(p.owner).data(), unsigned(color_byte(p.owner)),
                                piece_type_name(p.kind).data(), index(p.kind));
  });
}

PyObject* piece_str(PyObject* self) {
  return guarded([&] {
    const Piece p = copy_of<PieceClass>(self);
    return PyUnicode_FromFormat("Piece(owner=ColorType.%s, piece_type=PieceType.%s)",
                                color_name(p.owner).data(), piece_type_name(p.kind).data());
  });
}

PyObject* get_owner(PyObject* self, void*) {
  return guarded([&] { return wrap<ColorClass>(copy_of<PieceClass>(self).owner); });
}

int set_owner(PyObject* self, PyObject* value, void*) {
  return guarded_status([&] {
    refuse_delete(value);
    const Color owner = arg<ValueOf<ColorClass>>(value, "owner");
    ExclusiveBorrow borrow(instance<PieceClass>(self)->borrow);
    instance<PieceClass>(self)->value.owner = owner;
    return 0;
  });
}

PyObject* get_piece_type(PyObject* self, void*) {
  return guarded([&] { return wrap<PieceTypeClass>(copy_of<PieceClass>(self).kind); });
}

int set_piece_type(PyObject* self, PyObject* value, void*) {
  return guarded_status([&] {
    refuse_delete(value);
    const PieceType kind = arg<ValueOf<PieceTypeClass>>(value, "piece_type");
    ExclusiveBorrow borrow(instance<PieceClass>(self)->borrow);
    instance<PieceClass>(self)->value.kind = kind;
    return 0;
  });
}

PyGetSetDef PIECE_GETSET[] = {
    {"owner", get_owner, set_owner, nullptr, nullptr},
    {"piece_type", get_piece_type, set_piece_type, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot PIECE_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Piece(owner, piece_type)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(piece_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PieceClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(piece_repr)},
    {Py_tp_str, reinterpret_cast<void*>(piece_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(compare_values<PieceClass>)},
    {Py_tp_getset, PIECE_GETSET},
    {0, nullptr},
};

}  // namespace

PyTypeObject* create_piece_type_type() {
  if (PieceTypeClass::type) return PieceTypeClass::type;
  PyTypeObject* type = create_type<PieceTypeClass>(KIND_SLOTS);
  for (int k = 0; k < PIECE_TYPE_NB; ++k)
    set_class_attribute(type, piece_type_name(PieceType(k)).data(),
                        wrap<PieceTypeClass>(PieceType(k)));
  return type;
}

PyTypeObject* create_piece_type() { return create_type<PieceClass>(PIECE_SLOTS); }

}  // namespace komaban::py
