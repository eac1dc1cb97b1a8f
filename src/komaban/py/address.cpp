// Address: a square index on the 11 x 11 grid, built from column and row.

#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

Signature NEW{"Address.__new__()", 2, "column", "row"};

PyObject* address_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const BoundArgs a = NEW.bind(args, kwargs);
    const std::uint8_t column = arg<U8>(a[0], "column");
    const std::uint8_t row = arg<U8>(a[1], "row");
    return wrap<AddressClass>(make_square(column, row));
  });
}

PyObject* address_str(PyObject* self) {
  return guarded([&] {
    const Square s = copy_of<AddressClass>(self);
    return PyUnicode_FromFormat("Address(column=%u, row=%u)", column_of(s), row_of(s));
  });
}

PyObject* to_int(PyObject* self, PyObject*) {
  return guarded([&] { return PyLong_FromLong(copy_of<AddressClass>(self)); });
}

PyObject* get_column(PyObject* self, void*) {
  return guarded([&] { return PyLong_FromLong(column_of(copy_of<AddressClass>(self))); });
}

PyObject* get_row(PyObject* self, void*) {
  return guarded([&] { return PyLong_FromLong(row_of(copy_of<AddressClass>(self))); });
}

// Replaces the column or the row of the index, keeping the other, in 8 bits.
template <bool Column>
int set_coordinate(PyObject* self, PyObject* value, void*) {
  return guarded_status([&] {
    refuse_delete(value);
    const std::uint64_t v = arg<U64>(value, Column ? "column" : "row");
    auto* a = instance<AddressClass>(self);
    ExclusiveBorrow borrow(a->borrow);
    const Square s = a->value;
    a->value = Column ? Square(FILE_NB * row_of(s) + v) : Square(column_of(s) + FILE_NB * v);
    return 0;
  });
}

PyGetSetDef GETSET[] = {
    {"column", get_column, set_coordinate<true>, nullptr, nullptr},
    {"row", get_row, set_coordinate<false>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef METHODS[] = {
    {"to_int", to_int, METH_NOARGS, "to_int($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Address(column, row)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(address_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<AddressClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(address_str)},
    {Py_tp_str, reinterpret_cast<void*>(address_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(compare_values<AddressClass>)},
    {Py_tp_getset, GETSET},
    {Py_tp_methods, METHODS},
    {0, nullptr},
};

}  // namespace

PyTypeObject* create_address_type() { return create_type<AddressClass>(SLOTS); }

}  // namespace komaban::py
