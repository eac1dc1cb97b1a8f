// Game: a position with move number, side to move and winner; SFEN field
// input, moves, and random play to the end.

#include <type_traits>

#include "komaban/core/playout.h"
#include "komaban/core/sfen.h"
#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

using Self = InstanceOf<GameClass>;
Self* self_of(PyObject* o) { return instance<GameClass>(o); }

Signature NEW{"Game.__new__()", 0, "board", "move_number", "turn", "winner"};
Signature INPUT_BOARD{"Game.input_board()", 1, "sfen"};
Signature INPUT_HAND{"Game.input_hand()", 1, "sfen"};
Signature INPUT_MOVE_NUMBER{"Game.input_move_number()", 1, "sfen"};
Signature INPUT_TURN{"Game.input_turn()", 1, "sfen"};
Signature EXECUTE_MOVE{"Game.execute_move()", 1, "moves"};

PyObject* game_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const BoundArgs a = NEW.bind(args, kwargs);
    Game g;
    if (a[0]) g.board = arg<ValueOf<BoardClass>>(a[0], "board");
    if (a[1]) g.move_number = arg<U16>(a[1], "move_number");
    if (a[2]) g.turn = arg<ValueOf<ColorClass>>(a[2], "turn");
    if (a[3]) g.winner = arg<ValueOf<ColorClass>>(a[3], "winner");
    return wrap<GameClass>(g);
  });
}

// Attributes: reads give copies, assignments copy in.
template <class Converter, class Class, auto Field>
struct Attribute {
  static PyObject* get(PyObject* self, void*) {
    return guarded([&] {
      SharedBorrow borrow(self_of(self)->borrow);
      if constexpr (std::is_same_v<Class, void>)
        return check(PyLong_FromLong(self_of(self)->value.*Field));
      else
        return wrap<Class>(self_of(self)->value.*Field);
    });
  }
  static int set(PyObject* self, PyObject* value, void* name) {
    return guarded_status([&] {
      refuse_delete(value);
      const auto v = arg<Converter>(value, static_cast<const char*>(name));
      ExclusiveBorrow borrow(self_of(self)->borrow);
      self_of(self)->value.*Field = v;
      return 0;
    });
  }
};

using BoardAttribute = Attribute<ValueOf<BoardClass>, BoardClass, &Game::board>;
using MoveNumberAttribute = Attribute<U16, void, &Game::move_number>;
using TurnAttribute = Attribute<ValueOf<ColorClass>, ColorClass, &Game::turn>;
using WinnerAttribute = Attribute<ValueOf<ColorClass>, ColorClass, &Game::winner>;

// The body of an input_* method: bind, borrow exclusively, convert the text.
template <class F>
PyObject* input(Signature& signature, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames, F&& read) {
  return guarded([&] {
    const BoundArgs a = signature.bind(args, nargs, kwnames);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    read(self_of(self)->value, arg<Text>(a[0], "sfen"));
    Py_RETURN_NONE;
  });
}

PyObject* input_board(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return input(INPUT_BOARD, self, args, nargs, kwnames,
               [](Game& g, std::string_view text) { read_board_field(g.board, text); });
}

PyObject* input_hand(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return input(INPUT_HAND, self, args, nargs, kwnames, [](Game& g, std::string_view text) {
    if (!text.empty() && text != "-") read_hand_field(g.board.hand, text);
  });
}

PyObject* input_move_number(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return input(INPUT_MOVE_NUMBER, self, args, nargs, kwnames,
               [](Game& g, std::string_view text) { komaban::input_move_number(g, text); });
}

PyObject* input_turn(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return input(INPUT_TURN, self, args, nargs, kwnames,
               [](Game& g, std::string_view text) { komaban::input_turn(g, text); });
}

PyObject* is_finished(PyObject* self, PyObject*) {
  return guarded([&] {
    SharedBorrow borrow(self_of(self)->borrow);
    return new_outcome(game_outcome(self_of(self)->value));
  });
}

PyObject* execute_move(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = EXECUTE_MOVE.bind(args, nargs, kwnames);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    const Move m = arg<ValueOf<MoveClass>>(a[0], "moves");
    play(self_of(self)->value, m);
    Py_RETURN_NONE;
  });
}

PyObject* random_play(PyObject* self, PyObject*) {
  return guarded([&] {
    ExclusiveBorrow borrow(self_of(self)->borrow);
    Game& g = self_of(self)->value;
    play_random(g, thread_rng(), scratch_playout());
    return wrap<GameClass>(g);
  });
}

PyGetSetDef GETSET[] = {
    {"board", BoardAttribute::get, BoardAttribute::set, nullptr, const_cast<char*>("board")},
    {"move_number", MoveNumberAttribute::get, MoveNumberAttribute::set, nullptr,
     const_cast<char*>("move_number")},
    {"turn", TurnAttribute::get, TurnAttribute::set, nullptr, const_cast<char*>("turn")},
    {"winner", WinnerAttribute::get, WinnerAttribute::set, nullptr, const_cast<char*>("winner")},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef METHODS[] = {
    {"input_board", KOMABAN_FASTCALL(input_board), "input_board($self, sfen)\n--\n\n"},
    {"input_hand", KOMABAN_FASTCALL(input_hand), "input_hand($self, sfen)\n--\n\n"},
    {"input_move_number", KOMABAN_FASTCALL(input_move_number),
     "input_move_number($self, sfen)\n--\n\n"},
    {"input_turn", KOMABAN_FASTCALL(input_turn), "input_turn($self, sfen)\n--\n\n"},
    {"is_finished", is_finished, METH_NOARGS, "is_finished($self)\n--\n\n"},
    {"execute_move", KOMABAN_FASTCALL(execute_move), "execute_move($self, moves)\n--\n\n"},
    {"random_play", random_play, METH_NOARGS, "random_play($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Game(board=..., move_number=1, turn=..., winner=...)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(game_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<GameClass>)},
    {Py_tp_getset, GETSET},
    {Py_tp_methods, METHODS},
    {0, nullptr},
};

}  // namespace

PyTypeObject* create_game_type() { return create_type<GameClass>(SLOTS); }

}  // namespace komaban::py
