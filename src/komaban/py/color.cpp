// ColorType: the side of a piece, of the player to move, of the winner.

#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

Color value_of(PyObject* self) { return instance<ColorClass>(self)->value; }

Signature NEW{"ColorType.__new__()", 1, "value"};

PyObject* color_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const BoundArgs a = NEW.bind(args, kwargs);
    return wrap<ColorClass>(color_from_byte(arg<U8>(a[0], "value")));
  });
}

PyObject* color_repr(PyObject* self) {
  const Color c = value_of(self);
  return PyUnicode_FromFormat("<ColorType.%s: %u>", color_name(c).data(), unsigned(color_byte(c)));
}

PyObject* color_str(PyObject* self) {
  return PyUnicode_FromFormat("ColorType.%s", color_name(value_of(self)).data());
}

PyObject* color_int(PyObject* self) { return PyLong_FromLong(long(value_of(self))); }

// Against another ColorType by byte, against an integer by signed number.
PyObject* color_richcompare(PyObject* self, PyObject* other, int op) {
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  const Color c = value_of(self);
  if (is_instance<ColorClass>(other)) return equality_result(op, c == value_of(other));
  const long v = PyLong_AsLong(other);
  if (v == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    Py_RETURN_NOTIMPLEMENTED;
  }
  return equality_result(op, long(c) == v);
}

PyObject* get_name(PyObject* self, void*) {
  return guarded([&] { return new_text(color_name(value_of(self))); });
}

PyObject* get_value(PyObject* self, void*) { return PyLong_FromLong(color_byte(value_of(self))); }

PyGetSetDef GETSET[] = {
    {"name", get_name, nullptr, nullptr, nullptr},
    {"value", get_value, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("ColorType(value)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(color_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<ColorClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(color_repr)},
    {Py_tp_str, reinterpret_cast<void*>(color_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(color_richcompare)},
    {Py_nb_int, reinterpret_cast<void*>(color_int)},
    {Py_tp_getset, GETSET},
    {0, nullptr},
};

}  // namespace

PyTypeObject* create_color_type() {
  if (ColorClass::type) return ColorClass::type;
  PyTypeObject* type = create_type<ColorClass>(SLOTS);
  for (Color c : {Color::None, Color::Black, Color::White, Color::ColorNumber})
    set_class_attribute(type, color_name(c).data(), wrap<ColorClass>(c));
  return type;
}

}  // namespace komaban::py
