// Board: a position, read from SFEN-derived text, edited, queried, searched
// for moves and played on.

#include "komaban/core/execute.h"
#include "komaban/core/movegen.h"
#include "komaban/core/sfen.h"
#include "komaban/py/classes.h"

namespace komaban::py {

namespace {

using Self = InstanceOf<BoardClass>;
Self* self_of(PyObject* o) { return instance<BoardClass>(o); }

Signature NEW{"Board.__new__()", 0, "sfen"};
Signature DEPLOY{"Board.deploy()", 3, "address", "piece_type", "color"};
Signature GET_PIECE{"Board.get_piece()", 1, "address"};
Signature SEARCH_MOVES{"Board.search_moves()", 1, "color"};
Signature EXECUTE_MOVE{"Board.execute_move()", 1, "moves"};

PyObject* board_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const BoundArgs a = NEW.bind(args, kwargs);
    const std::string_view sfen = a[0] ? arg<Text>(a[0], "sfen") : "startpos";
    return wrap<BoardClass>(read_position(sfen));
  });
}

PyObject* board_str(PyObject* self) {
  return guarded([&] {
    SharedBorrow borrow(self_of(self)->borrow);
    static constexpr std::string_view HEAD = "Board(sfen=";
    char text[HEAD.size() + BOARD_FIELD_MAX + 1];
    HEAD.copy(text, HEAD.size());
    std::size_t size = HEAD.size() + write_board_field(self_of(self)->value, text + HEAD.size());
    text[size++] = ')';
    return new_text({text, size});
  });
}

PyObject* deploy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = DEPLOY.bind(args, nargs, kwnames);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    const Square s = arg<ValueOf<AddressClass>>(a[0], "address");
    const PieceType k = arg<ValueOf<PieceTypeClass>>(a[1], "piece_type");
    const Color c = arg<ValueOf<ColorClass>>(a[2], "color");
    place_piece(self_of(self)->value, s, k, c);
    Py_RETURN_NONE;
  });
}

PyObject* startpos(PyObject* self, PyObject*) {
  return guarded([&] {
    ExclusiveBorrow borrow(self_of(self)->borrow);
    overlay_start_position(self_of(self)->value);
    Py_RETURN_NONE;
  });
}

PyObject* get_piece(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = GET_PIECE.bind(args, nargs, kwnames);
    SharedBorrow borrow(self_of(self)->borrow);
    const Square s = arg<ValueOf<AddressClass>>(a[0], "address");
    const Board& b = self_of(self)->value;
    const Color owner = contains(b.occupied, s) ? color_at(b, s) : Color::None;
    return wrap<PieceClass>(Piece{owner, piece_type_at(b, s)});
  });
}

PyObject* search_moves(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = SEARCH_MOVES.bind(args, nargs, kwnames);
    SharedBorrow borrow(self_of(self)->borrow);
    const Color c = arg<ValueOf<ColorClass>>(a[0], "color");
    MoveList& list = scratch_move_list();
    generate_moves(self_of(self)->value, c, list);
    return new_list_of<MoveClass>(list);
  });
}

PyObject* execute_move(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const BoundArgs a = EXECUTE_MOVE.bind(args, nargs, kwnames);
    ExclusiveBorrow borrow(self_of(self)->borrow);
    const Move m = arg<ValueOf<MoveClass>>(a[0], "moves");
    komaban::execute_move(self_of(self)->value, m);
    Py_RETURN_NONE;
  });
}

PyObject* is_finished(PyObject* self, PyObject*) {
  return guarded([&] { return new_outcome(king_outcome(copy_of<BoardClass>(self))); });
}

PyMethodDef METHODS[] = {
    {"deploy", KOMABAN_FASTCALL(deploy), "deploy($self, address, piece_type, color)\n--\n\n"},
    {"startpos", startpos, METH_NOARGS, "startpos($self)\n--\n\n"},
    {"get_piece", KOMABAN_FASTCALL(get_piece), "get_piece($self, address)\n--\n\n"},
    {"search_moves", KOMABAN_FASTCALL(search_moves), "search_moves($self, color)\n--\n\n"},
    {"execute_move", KOMABAN_FASTCALL(execute_move), "execute_move($self, moves)\n--\n\n"},
    {"is_finished", is_finished, METH_NOARGS, "is_finished($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Board(sfen=...)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(board_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<BoardClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(board_str)},
    {Py_tp_str, reinterpret_cast<void*>(board_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(compare_values<BoardClass>)},
    {Py_tp_methods, METHODS},
    {0, nullptr},
};

}  // namespace

PyTypeObject* create_board_type() { return create_type<BoardClass>(SLOTS); }

}  // namespace komaban::py
