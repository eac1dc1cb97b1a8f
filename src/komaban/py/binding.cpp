#include "komaban/py/binding.h"

#include <exception>

#include "komaban/core/panic.h"

namespace komaban::py {

// ---------------------------------------------------------------------------
// Errors

namespace {

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (!type)
    type = PyErr_NewExceptionWithDoc(
        "vexo_runtime.PanicException",
        "Raised when native code called from Python fails.\n\n"
        "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
        "normally travels up the whole stack and ends the interpreter instead of being\n"
        "caught by `except Exception`.",
        PyExc_BaseException, nullptr);
  return type;
}

// The message is taken with its length, so text with NUL characters that a
// caller passed in survives whole.
void raise_panic(std::string_view message) {
  PyObject* type = panic_exception_type();
  if (!type) return;  // the error of creating it is set
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), Py_ssize_t(message.size()), "replace");
  if (!text) return;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

}  // namespace

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) raise_panic("a Python error was reported but not set");
  } catch (const Panic& panic) {
    raise_panic(panic.message());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown native failure");
  }
}

// ---------------------------------------------------------------------------
// Borrows

void SharedBorrow::refuse() {
  PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
  throw_python_error();
}

void ExclusiveBorrow::refuse() {
  PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
  throw_python_error();
}

// ---------------------------------------------------------------------------
// Instances

namespace c_api {
// Python 3.11's tracemalloc.h declares this without C linkage.
extern "C" int PyTraceMalloc_Untrack(unsigned int domain, std::uintptr_t ptr);
}  // namespace c_api

bool object_init_is_plain() {
// The limited API offers neither question (nor promises the header layout).
#if defined(Py_REF_DEBUG) || defined(Py_TRACE_REFS) || defined(Py_GIL_DISABLED) || \
    defined(Py_LIMITED_API)
  return false;
#else
#if PY_VERSION_HEX >= 0x030D0000
  void* data = nullptr;
  if (PyRefTracer_GetTracer(&data)) return false;
#endif
  // Untracking a block at address 0, which no domain can hold, changes
  // nothing; the answer -2 says that tracemalloc is not tracing.
  return c_api::PyTraceMalloc_Untrack(0, 0) == -2;
#endif
}

// ---------------------------------------------------------------------------
// Argument binding

namespace {

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_name_list(const std::array<const char*, MAX_PARAMS>& names, std::size_t count) {
  std::string list;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) {
      if (count > 2) list += ',';
      list += i + 1 == count ? " and " : " ";
    }
    list += '\'';
    list += names[i];
    list += '\'';
  }
  return list;
}

const char* was_or_were(Py_ssize_t n) { return n == 1 ? "was" : "were"; }

}  // namespace

void Signature::intern_names() {
  if (count_ == 0 || interned_[0]) return;
  for (std::size_t i = 0; i < count_; ++i)
    interned_[i] = check(PyUnicode_InternFromString(names_[i]));  // kept for the process
}

void Signature::bind_positional(BoundArgs& bound, PyObject* const* args, Py_ssize_t nargs) {
  if (std::size_t(nargs) > count_) {
    if (required_ == count_)
      PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", callable_,
                   count_, nargs, was_or_were(nargs));
    else
      PyErr_Format(PyExc_TypeError,
                   "%s takes from %zu to %zu positional arguments but %zd %s given", callable_,
                   required_, count_, nargs, was_or_were(nargs));
    throw_python_error();
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[std::size_t(i)] = args[i];
}

void Signature::bind_keyword(BoundArgs& bound, Py_ssize_t nargs, PyObject* key, PyObject* value) {
  std::size_t i = 0;
  while (i < count_ && key != interned_[i]) ++i;
  if (i == count_ && PyUnicode_Check(key)) {
    i = 0;
    while (i < count_ && PyUnicode_Compare(key, interned_[i]) != 0) ++i;
  }
  if (i == count_) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", callable_, key);
    throw_python_error();
  }
  if (Py_ssize_t(i) < nargs) {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", callable_, names_[i]);
    throw_python_error();
  }
  bound[i] = value;
}

void Signature::check_required(const BoundArgs& bound) {
  std::array<const char*, MAX_PARAMS> missing{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < required_; ++i)
    if (!bound[i]) missing[n++] = names_[i];
  if (!n) return;
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", callable_, n,
               n == 1 ? "argument" : "arguments", quoted_name_list(missing, n).c_str());
  throw_python_error();
}

BoundArgs Signature::bind(PyObject* args, PyObject* kwargs) {
  intern_names();
  BoundArgs bound{};
#ifdef Py_LIMITED_API
  // The limited API lends no pointer to a tuple's items: copy out those that
  // can bind (more than that is refused before any is read).
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  BoundArgs items{};
  for (Py_ssize_t i = 0; i < nargs && i < Py_ssize_t(MAX_PARAMS); ++i)
    items[std::size_t(i)] = PyTuple_GET_ITEM(args, i);
  bind_positional(bound, items.data(), nargs);
#else
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  bind_positional(bound, &PyTuple_GET_ITEM(args, 0), nargs);
#endif
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(bound, nargs, key, value);
  }
  check_required(bound);
  return bound;
}

BoundArgs Signature::bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  intern_names();
  BoundArgs bound{};
  bind_positional(bound, args, nargs);
  if (kwnames) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i)
      bind_keyword(bound, nargs, PyTuple_GET_ITEM(kwnames, i), args[nargs + i]);
  }
  check_required(bound);
  return bound;
}

// ---------------------------------------------------------------------------
// Conversion

void raise_cannot_convert(PyObject* object, const char* target) {
  Ref name(PyType_GetQualName(Py_TYPE(object)));
  if (name.get())
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
  throw_python_error();
}

void prefix_type_error(const char* name) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback) PyException_SetTraceback(value, traceback);
  Py_XDECREF(traceback);
  Py_DECREF(type);
  PyObject* wrapped = nullptr;
  if (PyObject* message = PyUnicode_FromFormat("argument '%s': %S", name, value)) {
    wrapped = PyObject_CallOneArg(PyExc_TypeError, message);
    Py_DECREF(message);
  }
  if (!wrapped) {
    Py_DECREF(value);
    return;  // the error of building it is set
  }
  PyException_SetCause(wrapped, value);  // steals value
  PyErr_SetObject(PyExc_TypeError, wrapped);
  Py_DECREF(wrapped);
}

namespace {

// An integer from 0 to max, by PyLong_AsLong.
long small_unsigned(PyObject* o, long max) {
  const long v = PyLong_AsLong(o);
  if (v == -1 && PyErr_Occurred()) throw_python_error();
  if (v < 0 || v > max) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    throw_python_error();
  }
  return v;
}

}  // namespace

std::uint8_t U8::convert(PyObject* o) { return std::uint8_t(small_unsigned(o, 0xff)); }

std::uint16_t U16::convert(PyObject* o) { return std::uint16_t(small_unsigned(o, 0xffff)); }

std::uint64_t U64::convert(PyObject* o) {
  Ref index(check(PyNumber_Index(o)));
  const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
  return v;
}

std::string_view Text::convert(PyObject* o) {
  if (!PyUnicode_Check(o)) raise_cannot_convert(o, "PyString");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(o, &size);
  if (!data) throw_python_error();
  return {data, std::size_t(size)};
}

bool Bool::convert(PyObject* o) {
  if (!PyBool_Check(o)) raise_cannot_convert(o, "PyBool");
  return o == Py_True;
}

// ---------------------------------------------------------------------------
// Results

PyObject* new_text(std::string_view text) {
  return check(PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size())));
}

PyObject* new_bool(bool b) { return Py_NewRef(b ? Py_True : Py_False); }

PyObject* equality_result(int op, bool equal) {
  if (op == Py_EQ) return new_bool(equal);
  if (op == Py_NE) return new_bool(!equal);
  Py_RETURN_NOTIMPLEMENTED;
}

void refuse_delete(PyObject* value) {
  if (value) return;
  PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
  throw_python_error();
}

// ---------------------------------------------------------------------------
// Types and the module

PyTypeObject* build_type(const char* qualified_name, std::size_t basicsize, PyType_Slot* slots) {
  PyType_Spec spec = {qualified_name, int(basicsize), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  return reinterpret_cast<PyTypeObject*>(check(PyType_FromSpec(&spec)));
}

void set_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
  Ref owned(value);
#ifdef Py_LIMITED_API
  // The type's dictionary is out of reach and the immutable type refuses
  // setattr; generic attribute setting stores into the dictionary directly.
  Ref key(check(PyUnicode_FromString(name)));
  if (PyObject_GenericSetAttr(reinterpret_cast<PyObject*>(type), key.get(), value) < 0)
    throw_python_error();
#else
  if (PyDict_SetItemString(type->tp_dict, name, value) < 0) throw_python_error();
#endif
  PyType_Modified(type);
}

void register_class(PyObject* module, const char* name, PyTypeObject* type) {
  PyObject* all = PyDict_GetItemString(PyModule_GetDict(module), "__all__");  // borrowed
  if (!all) {
    Ref list(check(PyList_New(0)));
    if (PyModule_AddObjectRef(module, "__all__", list.get()) < 0) throw_python_error();
    all = list.get();  // the module holds it now
  }
  Ref text(check(PyUnicode_FromString(name)));
  if (PyList_Append(all, text.get()) < 0) throw_python_error();
  if (PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) < 0)
    throw_python_error();
}

}  // namespace komaban::py
