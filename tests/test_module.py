"""Module frame: registration, class objects, argument binding, borrowing, internal failures."""

import gc
import importlib
import importlib.util
import operator
import shutil
import subprocess
import sys
import tracemalloc
import weakref

import pytest
from helpers import needs_second_interpreter

import komaban
from komaban import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

NAMES = ["Address", "ColorType", "PieceType", "Piece", "Move", "Hand", "Board", "Game"]
CLASSES = [
    ("Address(1, 1)", "(column, row)"),
    ("ColorType(0)", "(value)"),
    ("PieceType(1)", "(value)"),
    ("Piece(ColorType.Black, PieceType.King)", "(owner, piece_type)"),
    ("Move('7c7d')", "(csa=None, from_address=None, to_address=None, promote=False, piece=None)"),
    ("Hand()", "()"),
    ("Board()", "(sfen=...)"),
    ("Game()", "(board=..., move_number=1, turn=..., winner=...)"),
]
SAMPLES = [sample for sample, _ in CLASSES]
BLACK, WHITE, PAWN = ColorType.Black, ColorType.White, PieceType.Pawn
OVERFLOW = "out of range integral type conversion attempted"


def run(expression):
    return eval(expression, {name: getattr(komaban, name) for name in NAMES})


def fail(exc):
    raise exc


class Index:
    """Integer-like argument whose conversion runs a callback first."""

    def __init__(self, value, action=lambda: None):
        self.value, self.action = value, action

    def __index__(self):
        self.action()
        return self.value


def test_all_lists_the_eight_classes_and_nothing_else_is_public():
    assert komaban.__all__ == NAMES and komaban.__doc__ == ""
    assert sorted(n for n in dir(komaban) if not n.startswith("_")) == sorted(NAMES)


def test_reimport_yields_the_same_module_and_classes():
    classes = [getattr(komaban, n) for n in NAMES]
    saved = sys.modules.pop("komaban")
    try:
        again = importlib.import_module("komaban")
    finally:
        sys.modules["komaban"] = saved
    assert again is saved and [getattr(again, n) for n in NAMES] == classes


# The interpreters module: _interpreters from 3.13, _xxsubinterpreters before.
INTERPRETERS = next(
    (n for n in ("_interpreters", "_xxsubinterpreters") if importlib.util.find_spec(n)), None
)
SECOND_INTERPRETER = '''
import {module} as interpreters
from komaban import Board

interpreter = interpreters.create()
interpreters.run_string(interpreter, """
try:
    import komaban
except ImportError as exc:
    print("refused:", type(exc).__name__, exc, flush=True)
else:
    print("imported", flush=True)
""")
interpreters.destroy(interpreter)
print(Board())
'''
# The module's own refusal, or from 3.12 the interpreter's refusal of a module
# without multi-phase initialisation in an isolated sub-interpreter.
REFUSALS = (
    "komaban does not support sub-interpreters",
    "module komaban does not support loading in subinterpreters",
)


@pytest.mark.skipif(INTERPRETERS is None, reason="no sub-interpreter support")
@needs_second_interpreter
def test_a_second_interpreter_is_refused():
    # In a child process, so that a crash fails this test alone.
    script = SECOND_INTERPRETER.format(module=INTERPRETERS)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    refusal, board = result.stdout.splitlines()
    assert refusal in [f"refused: ImportError {message}" for message in REFUSALS]
    assert board.startswith("Board(sfen=lnsgkgsnl/")


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm not available")
def test_shared_object_exports_only_the_init_function():
    cmd = ["nm", "-D", "--defined-only", komaban.__file__]
    out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in out.splitlines() if line.strip()] == ["PyInit_komaban"]


@pytest.mark.skipif(shutil.which("readelf") is None, reason="readelf not available")
def test_shared_object_does_not_link_libpython():
    cmd = ["readelf", "-d", komaban.__file__]
    out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout
    needed = [line for line in out.splitlines() if "(NEEDED)" in line]
    assert needed and not any("libpython" in line for line in needed)


@pytest.mark.parametrize(("sample", "signature"), CLASSES)
def test_class_object_and_instance_layout(sample, signature):
    obj = run(sample)
    cls, name = type(obj), sample.split("(")[0]
    assert cls is getattr(komaban, name) and cls.__bases__ == (object,)
    assert cls.__module__ == "builtins" and cls.__qualname__ == name
    assert cls.__text_signature__ == signature
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    assert not hasattr(obj, "__dict__") and not gc.is_tracked(obj)
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


CP, SF, MV = ", color_type, piece_type", ", sfen", ", moves"
SIGNATURES = [
    (Address.to_int, ""), (Move.is_drop, ""), (Move.is_promote, ""), (Move.get_from, ""),
    (Move.get_to, ""), (Move.get_piece, ""), (Hand.add_piece, CP), (Hand.decrease_piece, CP),
    (Hand.add_pieces, CP + ", count"), (Hand.get_player_pieces, ", color_type"),
    (Board.startpos, ""), (Board.deploy, ", address, piece_type, color"),
    (Board.get_piece, ", address"),
    (Board.search_moves, ", color"), (Board.execute_move, MV), (Board.is_finished, ""),
    (Game.input_board, SF), (Game.input_hand, SF), (Game.input_move_number, SF),
    (Game.input_turn, SF), (Game.is_finished, ""), (Game.execute_move, MV), (Game.random_play, ""),
]  # fmt: skip


@pytest.mark.parametrize(("method", "params"), SIGNATURES)
def test_method_text_signature(method, params):
    assert method.__text_signature__ == f"($self{params})"


@pytest.mark.parametrize("sample", SAMPLES)
def test_hashing_and_comparison_protocol(sample):
    a, b = run(sample), run(sample)
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        with pytest.raises(TypeError):
            op(a, b)
    assert (a == "x") is False and (a != "x") is True and (a == object()) is False
    if isinstance(a, Game):
        assert hash(a) == object.__hash__(a) and {a: 1}[a] == 1 and b not in {a}
        assert a != b
        return
    assert a == b and not (a != b)
    for use in (hash, lambda o: {o}, lambda o: o in set(), lambda o: {o: 1}):
        with pytest.raises(TypeError):
            use(a)


@pytest.mark.parametrize(
    ("expression", "message"),
    [
        ("ColorType()", "ColorType.__new__() missing 1 required positional argument: 'value'"),
        ("Address()", "Address.__new__() missing 2 required positional arguments: "
                      "'column' and 'row'"),
        ("Piece(0)", "Piece.__new__() missing 1 required positional argument: 'piece_type'"),
        ("ColorType(1, 2)", "ColorType.__new__() takes 1 positional arguments but 2 were given"),
        ("Hand(1)", "Hand.__new__() takes 0 positional arguments but 1 was given"),
        ("Game(1, 2, 3, 4, 5)", "Game.__new__() takes from 0 to 4 positional arguments "
                                "but 5 were given"),
        ("ColorType(1, value=1)", "ColorType.__new__() got multiple values for argument 'value'"),
        ("ColorType(x=1)", "ColorType.__new__() got an unexpected keyword argument 'x'"),
        ("Board().deploy()", "Board.deploy() missing 3 required positional arguments: "
                             "'address', 'piece_type', and 'color'"),
        ("Board().deploy(1)", "Board.deploy() missing 2 required positional arguments: "
                              "'piece_type' and 'color'"),
        ("Hand().add_pieces(1, 2, 3, count=1)", "Hand.add_pieces() got multiple values "
                                                "for argument 'count'"),
        ("Game().input_turn(text='b')", "Game.input_turn() got an unexpected keyword "
                                        "argument 'text'"),
    ],
)  # fmt: skip
def test_binding_errors(expression, message):
    with pytest.raises(TypeError) as info:
        run(expression)
    assert type(info.value) is TypeError and str(info.value) == message


def test_every_parameter_accepts_a_keyword():
    assert ColorType(value=1) == WHITE and Address(row=2, column=3).to_int() == 25
    assert Piece(piece_type=PAWN, owner=WHITE) == Piece(WHITE, PAWN)
    assert Move(to_address=Address(7, 4), from_address=Address(7, 3)) == Move(csa="7c7d")
    hand = Hand()
    hand.add_pieces(count=3, piece_type=PAWN, color_type=BLACK)
    assert hand.counts[7] == 3


@pytest.mark.parametrize(
    ("expression", "param", "given", "target"),
    [("Piece(0, 0)", "owner", "int", "ColorType"),
     ("Piece(ColorType.Black, ColorType.Black)", "piece_type", "ColorType", "PieceType"),
     ("Board().deploy(Address(1, 1), 1, 0)", "piece_type", "int", "PieceType"),
     ("Move(promote=None)", "promote", "NoneType", "PyBool"),
     ("Move(promote=0)", "promote", "int", "PyBool"),
     ("Move(promote=1)", "promote", "int", "PyBool"),
     ("Board(sfen=None)", "sfen", "NoneType", "PyString"),
     ("Game().input_turn(b'w')", "sfen", "bytes", "PyString")],
)  # fmt: skip
def test_conversion_errors_are_prefixed(expression, param, given, target):
    with pytest.raises(TypeError) as info:
        run(expression)
    cause = f"'{given}' object cannot be converted to '{target}'"
    assert str(info.value) == f"argument '{param}': {cause}"
    assert type(info.value.__cause__) is TypeError and str(info.value.__cause__) == cause


def test_only_exact_type_errors_are_wrapped():
    class Narrow(TypeError):
        pass

    original, narrow = TypeError("no index here"), Narrow("narrow")
    with pytest.raises(TypeError) as info:
        Address(Index(0, lambda: fail(original)), 0)
    assert str(info.value) == "argument 'column': no index here"
    assert info.value.__cause__ is original
    with pytest.raises(Narrow) as info:
        Address(0, Index(0, lambda: fail(narrow)))
    assert info.value is narrow


@pytest.mark.parametrize(
    ("call", "exc_type", "message"),
    [(lambda: Address(0, Index(256)), OverflowError, OVERFLOW),
     (lambda: Address(2**70, 0), OverflowError, None),
     (lambda: Board("\ud800"), UnicodeEncodeError, None),
     (lambda: setattr(Hand(), "counts", [0] * 15), ValueError,
      "expected a sequence of length 16 (got 15)")],
)  # fmt: skip
def test_other_conversion_errors_propagate_unprefixed(call, exc_type, message):
    with pytest.raises(exc_type) as info:
        call()
    assert type(info.value) is exc_type and not str(info.value).startswith("argument")
    assert message is None or str(info.value) == message


@pytest.mark.parametrize(
    ("reentry", "message"),
    [(lambda hand: hand.counts, "Already mutably borrowed"),
     (lambda hand: hand.get_player_pieces(BLACK), "Already mutably borrowed"),
     (lambda hand: hand.add_piece(BLACK, PAWN), "Already borrowed"),
     (lambda hand: setattr(hand, "counts", [1] * 16), "Already borrowed")],
)  # fmt: skip
def test_borrow_conflicts_are_refused_and_released(reentry, message):
    hand = Hand()
    with pytest.raises(RuntimeError) as info:
        hand.add_pieces(BLACK, PAWN, Index(2, lambda: reentry(hand)))
    assert str(info.value) == message and hand.counts == [0] * 16
    hand.add_pieces(BLACK, PAWN, 2)
    assert hand.counts[7] == 2


def test_setter_converts_before_borrowing():
    address = Address(1, 1)
    address.column = Index(3, lambda: address.row)
    assert (address.column, address.row) == (3, 1)


def catch_panic(trigger):
    try:
        trigger()
    except Exception as exc:
        pytest.fail(f"internal failure caught by 'except Exception': {exc!r}")
    except BaseException as exc:  # noqa: B036
        return exc
    pytest.fail("no internal failure was raised")


@pytest.mark.parametrize(
    ("trigger", "message"),
    [(lambda hand: hand.add_piece(ColorType.ColorNumber, PAWN),
      "index out of bounds: the len is 16 but the index is 23"),
     (lambda hand: Move(csa=""), "byte index 2 is out of bounds of ``")],
)  # fmt: skip
def test_internal_failure_raises_panic_exception(trigger, message):
    hand = Hand()
    panic = catch_panic(lambda: trigger(hand))
    cls = type(panic)
    assert (cls.__module__, cls.__name__, cls.__bases__) == (
        "vexo_runtime", "PanicException", (BaseException,))  # fmt: skip
    assert panic.args == (message,) and not hasattr(komaban, "PanicException")
    assert type(catch_panic(lambda: Move(csa="7c"))) is cls
    hand.add_piece(WHITE, PAWN)
    assert hand.counts == [0] * 15 + [1]


@pytest.mark.parametrize("sample", SAMPLES)
def test_recycled_instances_are_new_objects_holding_their_class(sample):
    """Freed instance memory is reused (more objects than are kept for reuse,
    several times over): every live object is distinct, holds its own value
    and one reference to its class, which it gives back when it dies."""
    make = run(f"lambda: {sample}")

    def shown(o):
        return repr(o.board) + repr(o.turn) if isinstance(o, Game) else repr(o)

    cls, expected = type(make()), shown(make())
    before = sys.getrefcount(cls)
    for _ in range(3):
        objects = [make() for _ in range(1500)]
        assert len({id(o) for o in objects}) == len(objects)
        assert sys.getrefcount(cls) == before + len(objects)
        assert all(shown(o) == expected for o in objects)
        del objects
        assert sys.getrefcount(cls) == before


def test_recycled_moves_are_traced_where_they_are_made():
    """While tracemalloc traces, a Move made from a reused block is dated at
    the call that made it, as a Move from fresh memory is."""
    board = Board()
    tracemalloc.start()
    try:
        first = [board.search_moves(BLACK) for _ in range(200)]
        del first
        again, line = board.search_moves(BLACK), sys._getframe().f_lineno
        traces = [tracemalloc.get_object_traceback(move) for move in again]
    finally:
        tracemalloc.stop()
    assert {trace[0].lineno for trace in traces if trace is not None} == {line}
