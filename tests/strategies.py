"""Strategies and small models shared by the fuzz, leak and thread tests.

`fuzz` marks a property test as a fuzz target: it runs with the loaded
hypothesis profile (small in the suite, large under `make fuzz`), and counts
every example it tries in TRIED for the report of `make fuzz`.
"""

import functools
import operator
import os
from collections import Counter

import pytest
from hypothesis import given
from hypothesis import strategies as st

from komaban import Address, Board, ColorType, Hand, Move, Piece, PieceType

TRIED = Counter()
# `make fuzz` names a file that always holds the input being tried, so that a
# crash (which hypothesis cannot report) leaves its input behind.
LAST_INPUT = os.environ.get("FUZZ_LAST_INPUT")


def count_input(name):
    TRIED[name] += 1


def fuzz(*args, **kwargs):
    """Like hypothesis.given, for a fuzz target."""

    def decorate(test):
        @functools.wraps(test)
        def counted(*a, **k):
            count_input(test.__name__)
            if LAST_INPUT:
                with open(LAST_INPUT, "w", encoding="utf-8") as out:
                    out.write(f"{test.__module__}.{test.__name__}(*{a!r}, **{k!r})\n")
            return test(*a, **k)

        return pytest.mark.fuzz(given(*args, **kwargs)(counted))

    return decorate


# ---------------------------------------------------------------------------
# Values

BLACK, WHITE = ColorType.Black, ColorType.White
NO_COLOR = getattr(ColorType, "None")
COLORS = [BLACK, WHITE, NO_COLOR, ColorType.ColorNumber]
KINDS = [PieceType(v) for v in range(15)]
PIECES = [Piece(c, k) for c in COLORS for k in KINDS]
SIGNED = {0: 0, 1: 1, 2: 2, 255: -1}  # ColorType byte -> signed number

PANIC = "PanicException"


def is_panic(exc):
    return type(exc).__name__ == PANIC


colors = st.sampled_from(COLORS)
kinds = st.sampled_from(KINDS)
pieces = st.builds(Piece, colors, kinds)
# Any square index an Address can hold, playing squares more often.
addresses = st.one_of(
    st.builds(Address, st.integers(1, 9), st.integers(1, 9)),
    st.builds(Address, st.integers(0, 255), st.just(0)),
)

# Integers of every size: bytes, 16 and 64 bit bounds, beyond 64 bits, negative.
BOUNDS = [-1, 0, 1, 2, 3, 14, 15, 255, 256, 65535, 65536, 2**63 - 1, 2**63, 2**64 - 1, 2**64]
integers = st.one_of(
    st.sampled_from(BOUNDS),
    st.integers(-2, 300),
    st.integers(),
    st.integers(min_value=2**64, max_value=2**200),
    st.integers(max_value=-(2**64)),
)


class Boom(Exception):
    """Raised by an Index on purpose; must reach the caller unchanged."""


class Index:
    """An object with an integer index that may misbehave.

    __index__ returns `result` (an int, a bool, or something that is not an
    int), or raises it when it is an exception. With `reenter` set, it first
    reads `target` (set by the test), which fails while the call holds an
    exclusive borrow of it.
    """

    def __init__(self, result, reenter=False):
        self.result = result
        self.reenter = reenter
        self.target = None

    def __index__(self):
        if self.reenter and self.target is not None:
            repr(self.target)
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result

    def __repr__(self):
        return f"Index({self.result!r}, reenter={self.reenter})"


odd_indices = st.builds(
    Index,
    st.one_of(
        integers,
        st.booleans(),
        st.builds(Boom),
        st.sampled_from([1.5, "7", None, 3j]),
    ),
    st.booleans(),
)

int_like = st.one_of(integers, odd_indices)
# Anything a caller might pass where an object of some class is expected.
anything = st.one_of(
    st.none(),
    st.booleans(),
    integers,
    st.floats(allow_nan=False),
    st.text(max_size=4),
    odd_indices,
    colors,
    kinds,
    pieces,
    addresses,
    st.builds(Hand),
    st.just(Board()),
    st.just(Move(csa="7c7d")),
)


def expected_int(x, low, high, borrowed=False):
    """What converting x to an int in [low, high] gives: the int, or the type of
    the exception. `borrowed`: the call holds an exclusive borrow of the
    Index's target while it converts."""
    if isinstance(x, Index):
        if x.reenter and x.target is not None and borrowed:
            return RuntimeError
        if isinstance(x.result, BaseException):
            return type(x.result)
        if not isinstance(x.result, int):
            return TypeError
        x = x.result
    return int(x) if low <= x <= high else OverflowError


def outcome(call):
    """The result of call(), or the exception it raised."""
    try:
        return call()
    except BaseException as exc:  # noqa: B036 (PanicException derives from BaseException)
        if isinstance(exc, KeyboardInterrupt):
            raise
        return exc


# ---------------------------------------------------------------------------
# Text

DIGITS = "0123456789"
SFEN_CHARS = DIGITS + "KGRBSNLPkgrbsnlp+/-* bwx"
any_char = st.characters(exclude_categories=())  # lone surrogates included
short_texts = st.text(st.one_of(st.sampled_from(SFEN_CHARS), any_char), max_size=40)
# Text shaped like board and hand fields, where the readers do the most.
sfen_like = st.builds(
    lambda ranks, sep, hand, rest: "/".join(ranks) + sep + hand + rest,
    st.lists(
        st.text(st.sampled_from(DIGITS + "KGRBSNLPkgrbsnlp+xT\u00e9"), max_size=11), max_size=11
    ),
    st.sampled_from(["", " ", "  "]),
    st.text(st.sampled_from(DIGITS + "KGRBSNLPkgrbsnlpT-"), max_size=8),
    st.sampled_from(["", " b - 1", " 1"]),
)
# Text shaped like move text: squares, drops, promotion, multi-byte characters.
move_like = st.one_of(
    st.text(st.sampled_from("0123456789:`abcdefghijk*+PpGgTtx\u00e9\u3042"), max_size=6),
    st.builds(
        lambda *parts: "".join(parts),
        *(st.sampled_from(chars) for chars in ("79PpTtGx\u00e9", "*cT\u3042", "50:`", "eaik`")),
        st.text(st.sampled_from("+=x\u00e9"), max_size=2),
    ),
)
texts = st.one_of(
    sfen_like,
    move_like,
    short_texts,
    st.builds(
        lambda a, t, b: a + t + b,
        st.text(DIGITS, max_size=3),
        short_texts,
        st.text(DIGITS, min_size=1, max_size=3),
    ),  # fmt: skip
    st.builds(operator.mul, short_texts, st.integers(0, 2000)),
)


def encodable(text):
    try:
        text.encode()
    except UnicodeEncodeError:
        return False
    return True


def hand_field_fails(field):
    """A hand field fails to read when it ends right after a count digit."""
    i = 0
    while i < len(field):
        if field[i] in DIGITS:
            if i + 1 == len(field):
                return True
            i += 2
        else:
            i += 1
    return False


def field(board):
    """The board field of a Board's text."""
    text = str(board)
    assert text.startswith("Board(sfen=") and text.endswith(")")
    return text[len("Board(sfen=") : -1]


def move_text(move):
    text = str(move)
    assert text.startswith("Move(csa=") and text.endswith(")")
    return text[len("Move(csa=") : -1]


def game_fields(game):
    return (game.board, game.move_number, game.turn, game.winner)
