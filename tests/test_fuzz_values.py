"""Constructors and setters of every class on integers of any size, objects
with odd __index__ methods and objects of the wrong class: only the documented
exceptions (or the caller's own, raised by its __index__), and a failed call
leaves the object as it was."""

import pytest
from hypothesis import strategies as st
from strategies import (
    BLACK,
    SIGNED,
    Index,
    anything,
    colors,
    expected_int,
    fuzz,
    game_fields,
    int_like,
    is_panic,
    kinds,
    outcome,
    pieces,
)

from komaban import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

# An __index__ returning a bool is deprecated, and still accepted.
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

U64_MAX = 2**64 - 1
ABSENT = object()


def failed(result, expected):
    """Checks a call that must fail with `expected` (an exception type); returns
    False when success was expected."""
    if isinstance(expected, type):
        assert type(result) is expected, (result, expected)
        return True
    assert not isinstance(result, BaseException), repr(result)
    return False


def first_failure(*expectations):
    """The first expected exception type among converted arguments, else None."""
    return next((e for e in expectations if isinstance(e, type)), None)


def target(value, obj):
    if isinstance(value, Index):
        value.target = obj
    return value


@fuzz(st.sampled_from([ColorType, PieceType]), int_like)
def test_enum_constructors(cls, value):
    result = outcome(lambda: cls(value))
    n = expected_int(value, 0, 255)
    if failed(result, n):
        return
    if cls is ColorType:
        assert result.value == (n if n <= 2 else 255)
    else:
        assert result.value == (n if 1 <= n <= 14 else 0)


@fuzz(int_like, int_like, st.sampled_from(["column", "row"]), int_like)
def test_address(column, row, attribute, value):
    result = outcome(lambda: Address(column, row))
    c, r = expected_int(column, 0, 255), expected_int(row, 0, 255)
    if failed(result, first_failure(c, r)):
        return
    index = (c + 11 * r) % 256
    assert result.to_int() == index
    target(value, result)
    outcome_of_set = outcome(lambda: setattr(result, attribute, value))
    n = expected_int(value, 0, U64_MAX)  # converted before the borrow
    if failed(outcome_of_set, n):
        assert result.to_int() == index
    elif attribute == "column":
        assert result.to_int() == (index // 11 * 11 + n) % 256
    else:
        assert result.to_int() == (index % 11 + 11 * n) % 256


def slot(color, kind):
    return 0 if kind.value == 0 else (SIGNED[color.value] * 8 + kind.value - 1) % 65536


@fuzz(colors, kinds, int_like, st.one_of(st.lists(int_like, min_size=15, max_size=17), anything))
def test_hand_counts(color, kind, count, table):
    hand = Hand()
    hand.counts = list(range(16))
    # add_pieces holds the hand while it converts the count.
    result = outcome(lambda: hand.add_pieces(color, kind, target(count, hand)))
    n, s = expected_int(count, 0, 255, borrowed=True), slot(color, kind)
    counts = list(range(16))
    if isinstance(n, type):
        failed(result, n)
    elif s >= 16:
        assert is_panic(result)
    else:
        assert result is None
        counts[s] = (counts[s] + n) % 256
    assert hand.counts == counts
    # Assigning the table converts every item before the hand is borrowed.
    result = outcome(lambda: setattr(hand, "counts", table))
    if isinstance(table, list) and len(table) == 16:
        items = [expected_int(target(x, hand), 0, 255) for x in table]
        expected = first_failure(*items)
        if not failed(result, expected):
            counts = items
    elif isinstance(table, (list, str)):
        failed(result, ValueError)
    else:
        failed(result, TypeError)
    assert hand.counts == counts


@fuzz(anything, anything, st.sampled_from(["owner", "piece_type"]), anything)
def test_piece(owner, piece_type, attribute, value):
    result = outcome(lambda: Piece(owner, piece_type))
    ok = isinstance(owner, ColorType) and isinstance(piece_type, PieceType)
    if failed(result, None if ok else TypeError):
        return
    before = Piece(owner, piece_type)
    needed = ColorType if attribute == "owner" else PieceType
    failure = outcome(lambda: setattr(result, attribute, value))
    if failed(failure, None if isinstance(value, needed) else TypeError):
        assert result == before
    else:
        assert getattr(result, attribute) == value


GAME_ATTRIBUTES = st.sampled_from(["board", "move_number", "turn", "winner"])


@fuzz(anything, int_like, anything, anything, GAME_ATTRIBUTES, st.one_of(anything, int_like))
def test_game(board, move_number, turn, winner, attribute, value):
    result = outcome(lambda: Game(board, move_number, turn, winner))
    expected = first_failure(
        None if isinstance(board, Board) else TypeError,
        expected_int(move_number, 0, 65535),
        None if isinstance(turn, ColorType) else TypeError,
        None if isinstance(winner, ColorType) else TypeError,
    )
    if failed(result, expected):
        return
    before = game_fields(result)
    failure = outcome(lambda: setattr(result, attribute, target(value, result)))
    if attribute == "move_number":
        expected = expected_int(value, 0, 65535)  # converted before the borrow
    else:
        expected = (
            None if isinstance(value, (Board, ColorType)[attribute != "board"]) else TypeError
        )
    if failed(failure, expected):
        assert game_fields(result) == before
    else:
        assert getattr(result, attribute) == value


optional = st.one_of(st.just(ABSENT), st.none(), anything)


@fuzz(st.one_of(optional, st.text(max_size=6)), optional, optional,
      st.one_of(st.just(ABSENT), st.booleans(), anything), st.one_of(optional, pieces))  # fmt: skip
def test_move_constructor(csa, from_address, to_address, promote, piece):
    given = {
        name: value
        for name, value in zip(
            ("csa", "from_address", "to_address", "promote", "piece"),
            (csa, from_address, to_address, promote, piece),
            strict=True,
        )
        if value is not ABSENT
    }
    result = outcome(lambda: Move(**given))

    def wrong(name, cls):
        if name not in given:
            return False
        value = given[name]
        # None stands for "not given", except for promote.
        return name == "promote" if value is None else not isinstance(value, cls)

    checks = [("csa", str), ("from_address", Address), ("to_address", Address),
              ("promote", bool), ("piece", Piece)]  # fmt: skip
    if any(wrong(name, cls) for name, cls in checks):
        assert type(result) is TypeError, repr(result)
        return
    present = {name: value for name, value in given.items() if value is not None}
    if "csa" in present:
        reference = outcome(lambda: Move(csa=csa))
    elif "from_address" in present or "piece" in present:
        key = "from_address" if "from_address" in present else "piece"
        if "to_address" not in present:
            assert is_panic(result), repr(result)
            return
        extra = {"promote": present.get("promote", False)} if key == "from_address" else {}
        reference = Move(**{key: present[key]}, to_address=to_address, **extra)
    else:
        reference = Move()
    if isinstance(reference, BaseException):
        assert type(result) is type(reference)
    else:
        assert result == reference


@fuzz(st.lists(st.tuples(colors, kinds, st.sampled_from(["add", "decrease"])), max_size=20))
def test_hand_operations_follow_the_slot_rule(operations):
    hand = Hand()
    counts = [0] * 16
    for color, kind, operation in operations:
        s = slot(color, kind)
        call = hand.add_piece if operation == "add" else hand.decrease_piece
        result = outcome(lambda call=call, color=color, kind=kind: call(color, kind))
        if s >= 16:
            assert is_panic(result)
        else:
            assert result is None
            counts[s] = (counts[s] + 1) % 256 if operation == "add" else max(counts[s] - 1, 0)
        assert hand.counts == counts
    for color in (BLACK, ColorType.White):
        base = SIGNED[color.value] * 8
        held = [k for k in range(1, 9) if counts[base + k - 1]]
        assert hand.get_player_pieces(color) == [Piece(color, PieceType(k)) for k in held]
