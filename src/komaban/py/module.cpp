// The module entry point: single-phase initialisation that registers the
// eight classes, in this order, into the module and its __all__.

#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

PyModuleDef MODULE = {
    PyModuleDef_HEAD_INIT,
    "komaban",
    "",
    0,  // no per-module state, so a re-import runs the init function again
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* the_module = nullptr;
std::int64_t first_interpreter = -1;

struct Registration {
  const char* name;
  PyTypeObject* (*create)();
};

constexpr Registration CLASSES[] = {
    {"Address", create_address_type},
    {"ColorType", create_color_type},
    {"PieceType", create_piece_type_type},
    {"Piece", create_piece_type},
    {"Move", create_move_type},
    {"Hand", create_hand_type},
    {"Board", create_board_type},
    {"Game", create_game_type},
};

PyObject* initialise() {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter < 0) throw_python_error();
  if (first_interpreter < 0) first_interpreter = interpreter;
  if (interpreter != first_interpreter) {
    PyErr_SetString(PyExc_ImportError, "komaban does not support sub-interpreters");
    throw_python_error();
  }
  if (the_module) return Py_NewRef(the_module);

  Ref module(check(PyModule_Create(&MODULE)));
  for (const Registration& c : CLASSES) register_class(module.get(), c.name, c.create());
  the_module = Py_NewRef(module.get());
  return module.release();
}

}  // namespace

}  // namespace komaban::py

PyMODINIT_FUNC PyInit_komaban(void) { return komaban::py::guarded(komaban::py::initialise); }
