#ifndef KOMABAN_PY_BINDING_H
#define KOMABAN_PY_BINDING_H

// The shared binding layer: instance layout, borrow guards, argument binding
// and conversion, error translation and type building. Every class wrapper
// is written in terms of these.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifdef Py_LIMITED_API
// The stable ABI offers only the checked, out-of-line forms of these.
#define PyTuple_GET_SIZE(tuple) PyTuple_Size(tuple)
#define PyTuple_GET_ITEM(tuple, i) PyTuple_GetItem(tuple, i)
#define PyList_SET_ITEM(list, i, item) PyList_SetItem(list, i, item)
#define PyObject_CallOneArg(callable, arg) PyObject_CallFunctionObjArgs(callable, arg, nullptr)
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

namespace komaban::py {

// ---------------------------------------------------------------------------
// Errors

// Thrown once a Python exception has been set; unwinds to the entry point.
struct PythonError {};

[[noreturn]] inline void throw_python_error() { throw PythonError{}; }

// Sets the Python exception for the exception being handled: PythonError is
// already set, Panic becomes PanicException, bad_alloc MemoryError.
void set_error_from_current_exception() noexcept;

// Every entry point runs its body through one of these, so no C++ exception
// ever crosses into the interpreter.
template <class F>
PyObject* guarded(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    return nullptr;
  }
}

template <class F>
int guarded_status(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    return -1;
  }
}

// Throws PythonError when a C API call reported failure.
inline PyObject* check(PyObject* result) {
  if (!result) throw_python_error();
  return result;
}

// Owns one reference.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* owned) : object_(owned) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }
  PyObject* get() const { return object_; }
  PyObject* release() {
    PyObject* o = object_;
    object_ = nullptr;
    return o;
  }

 private:
  PyObject* object_ = nullptr;
};

// ---------------------------------------------------------------------------
// Instances and borrows

// Object header, the class's value, and the borrow flag: 0 free, all bits set
// exclusively borrowed, any other n the number of shared borrows.
template <class T>
struct Instance {
  PyObject ob_base;
  T value;
  std::size_t borrow;
};

constexpr std::size_t EXCLUSIVE = ~std::size_t(0);

// Borrow flags are changed only with atomic operations. Calls into the
// module hold the global interpreter lock, so they never contend; the
// uncontended operations cost a few cycles.

class SharedBorrow {
 public:
  explicit SharedBorrow(std::size_t& flag) : flag_(flag) {
    if (!try_acquire(flag)) refuse();
  }
  // Takes over a borrow acquired by try_acquire.
  SharedBorrow(std::size_t& flag, std::adopt_lock_t) : flag_(flag) {}
  ~SharedBorrow() { std::atomic_ref(flag_).fetch_sub(1, std::memory_order_release); }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;

  // A compare-and-swap loop that refuses the exclusive value.
  static bool try_acquire(std::size_t& flag) {
    std::atomic_ref<std::size_t> ref(flag);
    std::size_t current = ref.load(std::memory_order_relaxed);
    do {
      if (current == EXCLUSIVE) return false;
    } while (!ref.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                        std::memory_order_relaxed));
    return true;
  }

 private:
  [[noreturn]] static void refuse();

  std::size_t& flag_;
};

class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(std::size_t& flag) : flag_(flag) {
    std::size_t expected = 0;
    if (!std::atomic_ref(flag).compare_exchange_strong(expected, EXCLUSIVE,
                                                       std::memory_order_acquire))
      refuse();
  }
  ~ExclusiveBorrow() { std::atomic_ref(flag_).store(0, std::memory_order_release); }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

 private:
  [[noreturn]] static void refuse();

  std::size_t& flag_;
};

// A class family: C::Value is the native value, C::type the type object.
template <class C>
using InstanceOf = Instance<typename C::Value>;

template <class C>
InstanceOf<C>* instance(PyObject* o) {
  return reinterpret_cast<InstanceOf<C>*>(o);
}

template <class C>
bool is_instance(PyObject* o) {
  return PyObject_TypeCheck(o, C::type);
}

// Instance memory of class C kept for reuse. Instances hold no references,
// so the block of a freed instance can serve the next new instance of the
// same class as it is: wrap() makes it a new object with PyObject_Init, which
// takes the reference to the heap type that every instance holds, and
// dealloc() gives that reference back whether it keeps the block or frees it.
// Every wrap() still returns a new object; only the memory is recycled. The
// lists rely on the global interpreter lock, so a build without it keeps
// none, and neither does a sanitizer build, which should see every free.
#if defined(Py_GIL_DISABLED) || defined(__SANITIZE_ADDRESS__)
constexpr bool RECYCLE_INSTANCES = false;
#else
constexpr bool RECYCLE_INSTANCES = true;
#endif

template <class C>
class FreeList {
 public:
  // About 32 KiB per class, and at least 16 blocks.
  static constexpr std::size_t CAPACITY =
      RECYCLE_INSTANCES ? std::max<std::size_t>(16, 32768 / sizeof(InstanceOf<C>)) : 0;

  static void* take() {
    if (size_) return blocks_[--size_];
    return PyObject_Malloc(sizeof(InstanceOf<C>));
  }

  static void give(void* block) {
    if (size_ < CAPACITY)
      blocks_[size_++] = block;
    else
      PyObject_Free(block);
  }

  static std::size_t size() { return size_; }

 private:
  static inline std::array<void*, CAPACITY> blocks_{};
  static inline std::size_t size_ = 0;
};

// Whether PyObject_Init would do no more than set the type, take a reference
// to it and set the reference count to 1: so when no memory tracing
// (tracemalloc dates each new object's block in it) and no reference tracer
// is active, and the build keeps no reference totals or object lists. Holds
// until Python code runs again.
bool object_init_is_plain();

// How wrap() makes a block an object: with PyObject_Init, or, when the caller
// has found object_init_is_plain(), by writing the same header directly.
enum class ObjectInit { Full, Plain };

// A new instance holding a copy of v.
template <class C, ObjectInit Init = ObjectInit::Full>
PyObject* wrap(const typename C::Value& v) {
  void* memory = FreeList<C>::take();
  if (!memory) throw std::bad_alloc();
  auto* self = static_cast<InstanceOf<C>*>(memory);
  if constexpr (Init == ObjectInit::Plain) {
    Py_SET_TYPE(&self->ob_base, C::type);
    Py_INCREF(C::type);
    self->ob_base.ob_refcnt = 1;  // not Py_SET_REFCNT, which reads the old count
  } else {
    PyObject_Init(&self->ob_base, C::type);
  }
  new (&self->value) typename C::Value(v);
  self->borrow = 0;
  return &self->ob_base;
}

// A copy of self's value, read under a shared borrow.
template <class C>
typename C::Value copy_of(PyObject* self) {
  auto* s = instance<C>(self);
  SharedBorrow borrow(s->borrow);
  return s->value;
}

// The deallocator of every class: instances hold no references, and a heap
// type is kept alive by each of its instances.
template <class C>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  FreeList<C>::give(self);
  Py_DECREF(type);
}

// ---------------------------------------------------------------------------
// Argument binding

constexpr std::size_t MAX_PARAMS = 5;
using BoundArgs = std::array<PyObject*, MAX_PARAMS>;  // borrowed; nullptr if not given

// Parameters of one constructor or method, all positional-or-keyword, the
// required ones first. Names are interned on first use.
class Signature {
 public:
  template <class... Names>
  constexpr Signature(const char* callable, std::size_t required, Names... names)
      : callable_(callable), names_{names...}, count_(sizeof...(Names)), required_(required) {}

  // Constructors: argument tuple and keyword dictionary.
  BoundArgs bind(PyObject* args, PyObject* kwargs);
  // Fast-call methods: argument vector, count and keyword names.
  BoundArgs bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

 private:
  void bind_positional(BoundArgs& bound, PyObject* const* args, Py_ssize_t nargs);
  void bind_keyword(BoundArgs& bound, Py_ssize_t nargs, PyObject* key, PyObject* value);
  void check_required(const BoundArgs& bound);
  void intern_names();

  const char* callable_;
  std::array<const char*, MAX_PARAMS> names_;
  std::size_t count_;
  std::size_t required_;
  std::array<PyObject*, MAX_PARAMS> interned_{};
};

// ---------------------------------------------------------------------------
// Argument conversion. Each converter throws PythonError on failure; arg()
// adds the "argument 'name': " prefix to a failure of exact type TypeError.

[[noreturn]] void raise_cannot_convert(PyObject* object, const char* target);
void prefix_type_error(const char* name);

template <class Converter>
auto arg(PyObject* object, const char* name) -> decltype(Converter::convert(object)) {
  try {
    return Converter::convert(object);
  } catch (const PythonError&) {
    prefix_type_error(name);
    throw;
  }
}

struct U8 {
  static std::uint8_t convert(PyObject* o);
};
struct U16 {
  static std::uint16_t convert(PyObject* o);
};
struct U64 {
  static std::uint64_t convert(PyObject* o);
};
struct Text {
  static std::string_view convert(PyObject* o);
};
struct Bool {
  static bool convert(PyObject* o);
};

// An instance of class C; the value is copied under a shared borrow.
template <class C>
struct ValueOf {
  static typename C::Value convert(PyObject* o) {
    if (!is_instance<C>(o)) raise_cannot_convert(o, C::NAME);
    auto* self = instance<C>(o);
    SharedBorrow borrow(self->borrow);
    return self->value;
  }
};

// Exactly N items, each converted by Item, fetched by index in order.
template <class Item, std::size_t N>
struct SequenceOf {
  using Value = decltype(Item::convert(nullptr));
  static std::array<Value, N> convert(PyObject* o) {
    if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
    const Py_ssize_t length = PySequence_Size(o);
    if (length < 0) throw_python_error();
    if (std::size_t(length) != N) {
      PyErr_Format(PyExc_ValueError, "expected a sequence of length %zu (got %zd)", N, length);
      throw_python_error();
    }
    std::array<Value, N> items{};
    for (std::size_t i = 0; i < N; ++i) {
      Ref item(check(PySequence_GetItem(o, Py_ssize_t(i))));
      items[i] = Item::convert(item.get());
    }
    return items;
  }
};

// ---------------------------------------------------------------------------
// Results

PyObject* new_text(std::string_view text);
PyObject* new_bool(bool b);

// Returns NotImplemented for orderings, else the answer to == or !=.
PyObject* equality_result(int op, bool equal);

// Rich comparison of two instances of C by value, both borrowed shared; any
// other operand, or one that cannot be borrowed, gives NotImplemented.
template <class C>
PyObject* compare_values(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || !is_instance<C>(other)) Py_RETURN_NOTIMPLEMENTED;
  auto* a = instance<C>(self);
  auto* b = instance<C>(other);
  if (!SharedBorrow::try_acquire(a->borrow)) Py_RETURN_NOTIMPLEMENTED;
  SharedBorrow hold_a(a->borrow, std::adopt_lock);
  if (!SharedBorrow::try_acquire(b->borrow)) Py_RETURN_NOTIMPLEMENTED;
  SharedBorrow hold_b(b->borrow, std::adopt_lock);
  return equality_result(op, a->value == b->value);
}

// The function and flags of a PyMethodDef entry for a fast-call method with
// keywords.
#define KOMABAN_FASTCALL(f) \
  reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)), METH_FASTCALL | METH_KEYWORDS

// Refuses `del obj.attr`.
void refuse_delete(PyObject* value);

// ---------------------------------------------------------------------------
// Types and the module

// A heap type "builtins.<name>": not subclassable, no __dict__, no weak
// references, not tracked by the garbage collector.
PyTypeObject* build_type(const char* qualified_name, std::size_t basicsize, PyType_Slot* slots);

// Stores a class attribute in a freshly built type's dictionary.
void set_class_attribute(PyTypeObject* type, const char* name, PyObject* value);

// Appends name to the module's __all__ and sets the attribute.
void register_class(PyObject* module, const char* name, PyTypeObject* type);

}  // namespace komaban::py

#endif
