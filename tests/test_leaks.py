"""Every public call, error paths included, repeated: a leak of one object or
one reference per call shows in the Python heap (tracemalloc), in the native
heap, or in the reference counts of the classes and enumeration members."""

import ctypes
import gc
import sys
import tracemalloc

import pytest
from strategies import Index, outcome

import komaban
from komaban import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

B, W = ColorType.Black, ColorType.White
NO_COLOR = getattr(ColorType, "None")
K, P = PieceType.King, PieceType.Pawn
CLASSES = [getattr(komaban, name) for name in komaban.__all__]
MEMBERS = [v for cls in (ColorType, PieceType) for v in vars(cls).values() if type(v) is cls]
WATCHED = CLASSES + MEMBERS


def reenter(hand):
    """A count whose conversion reads the hand while add_pieces holds it."""
    index = Index(1, reenter=True)
    index.target = hand
    return index


# Each entry is run as Python source, so a failure names the call. The names
# a, c, k, p, m, h, b, g are fresh objects of each class.
CALLS = {
    "Address": [
        "Address(3, 4)", "Address(300, 0)", "Address('x', 0)", "Address(column=1)",
        "a.column", "a.row", "a.to_int()", "str(a)", "a == Address(1, 1)", "a == 'x'",
        "a.column = 5", "a.row = 2**64", "a.column = 'x'", "del a.column", "a < a", "hash(a)",
    ],
    "ColorType": [
        "ColorType(1)", "ColorType(300)", "ColorType('x')", "c.name", "c.value", "int(c)",
        "repr(c)", "str(c)", "c == 1", "c == 'x'", "c == W", "c.value = 1",
    ],
    "PieceType": [
        "PieceType(9)", "PieceType(-1)", "PieceType(None)", "k.name", "k.value", "int(k)",
        "repr(k)", "str(k)", "k == 1", "k == 1.5", "k == P",
    ],
    "Piece": [
        "Piece(B, K)", "Piece(0, K)", "Piece(B)", "p.owner", "p.piece_type", "p.owner = W",
        "p.piece_type = 1", "del p.owner", "str(p)", "repr(p)", "p == Piece(B, P)", "p == 1",
    ],
    "Move": [
        "Move()", "Move(csa='7c7d+')", "Move(csa='P*5e')", "Move(csa='7c')", "Move(csa='\\ud800')",
        "Move(csa='\\u00e9\\u00e9')", "Move(csa=1)", "Move(promote=None)", "Move(x=1)",
        "Move(from_address=Address(7, 3), to_address=Address(7, 4), promote=True)",
        "Move(piece=Piece(W, P), to_address=Address(5, 5))", "Move(from_address=Address(7, 3))",
        "m.is_drop()", "m.is_promote()", "m.get_from()", "m.get_to()", "m.get_piece()",
        "str(m)", "m == Move()", "m.is_drop(1)",
    ],
    "Hand": [
        "Hand()", "Hand(1)", "h.pieces", "h.counts", "h.pieces = h.pieces",
        "h.counts = [1] * 16", "h.counts = [1] * 15", "h.counts = 1", "h.counts = [-1] * 16",
        "h.pieces = [1] * 16", "del h.pieces", "h.add_piece(B, P)", "h.add_pieces(W, P, 3)",
        "h.add_pieces(W, P, 256)", "h.add_piece(ColorType.ColorNumber, P)",
        "h.add_pieces(B, P, reenter(h))", "h.decrease_piece(B, P)", "h.get_player_pieces(W)",
        "h.get_player_pieces(NO_COLOR)", "h.add_piece(color=B)", "h.add_piece(B, P, x=1)",
        "str(h)", "h == Hand()", "h < h",
    ],
    "Board": [
        "Board()", "Board('lnsgk/9/4K w 2P')", "Board('startpos 2')", "Board(None)",
        "Board('\\ud800')", "b.deploy(Address(5, 5), P, W)", "b.deploy(1, P, W)", "b.startpos()",
        "b.get_piece(Address(5, 1))", "b.search_moves(B)", "b.search_moves(NO_COLOR)",
        "b.execute_move(Move(csa='7c7d'))", "b.execute_move(Move(csa='+p*5e'))",
        "b.is_finished()", "str(b)", "b == Board()", "b.startpos(1)",
    ],
    "Game": [
        "Game()", "Game(Board(''), 7, W, B)", "Game(move_number=70000)", "Game(turn=None)",
        "g.board", "g.move_number", "g.turn", "g.winner", "g.board = Board('')",
        "g.move_number = 3", "g.turn = W", "g.winner = 1", "del g.turn",
        "g.input_board('4k4/9/P8')", "g.input_hand('S2Pb')", "g.input_hand('2')",
        "g.input_hand('\\ud800')", "g.input_move_number('42')", "g.input_turn('w')",
        "g.input_turn(None)", "g.is_finished()", "g.execute_move(Move(csa='7g7f'))",
        "g.execute_move(Move(csa='+p*5e'))", "Game().random_play()",
        "Game(turn=NO_COLOR).random_play()", "hash(g)",
    ],
}  # fmt: skip

ROUNDS, REPEATS = 2, 100
# A leaked object takes at least 32 bytes per call; measuring itself costs
# about a kilobyte, whatever the number of calls.
LIMIT = 2048 + REPEATS * 8


def native_heap():
    """Bytes in use in the C heap: the sanitizer's count under `make sanitize`
    (where Python objects live in that heap too), else glibc's."""
    libc = ctypes.CDLL(None)
    if hasattr(libc, "__sanitizer_get_current_allocated_bytes"):
        libc.__sanitizer_get_current_allocated_bytes.restype = ctypes.c_size_t
        return libc.__sanitizer_get_current_allocated_bytes()

    class Mallinfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in "arena ordblks smblks hblks hblkhd "
                    "usmblks fsmblks uordblks fordblks keepcost".split()]  # fmt: skip

    libc.mallinfo2.restype = Mallinfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def refcounts():
    return [sys.getrefcount(o) for o in WATCHED]


def measure(code, namespace):
    """Growth of the Python heap, the C heap and the watched reference counts
    over REPEATS runs of code."""
    gc.collect(1)  # young cycles; the whole heap would take far longer
    refs, python, native = refcounts(), tracemalloc.get_traced_memory()[0], native_heap()
    for _ in range(REPEATS):
        outcome(lambda: exec(code, namespace))
    gc.collect(1)  # young cycles; the whole heap would take far longer
    grown = [after - before for after, before in zip(refcounts(), refs, strict=True)]
    return (
        tracemalloc.get_traced_memory()[0] - python,
        native_heap() - native,
        {repr(WATCHED[i]): d for i, d in enumerate(grown) if d},
    )


@pytest.fixture
def traced():
    tracemalloc.start()
    yield
    tracemalloc.stop()


@pytest.mark.parametrize("family", list(CALLS))
def test_calls_do_not_leak(family, traced):
    if not hasattr(ctypes.CDLL(None), "mallinfo2"):
        pytest.skip("no way to measure the C heap here")
    leaks = {}
    for source in CALLS[family]:
        code = compile(source, source, "exec")
        namespace = dict(globals(), a=Address(1, 1), c=ColorType(1), k=PieceType(9),
                         p=Piece(B, K), m=Move(csa="P*5e"), h=Hand(), b=Board(),
                         g=Game())  # fmt: skip
        for _ in range(20):  # warm up caches, interned names, free lists
            outcome(lambda code=code, namespace=namespace: exec(code, namespace))
        # A leak grows every round; a stray allocation of the runtime does not.
        rounds = [measure(code, namespace) for _ in range(ROUNDS)]
        if all(py > LIMIT or native > LIMIT or refs for py, native, refs in rounds):
            leaks[source] = rounds
    assert not leaks
