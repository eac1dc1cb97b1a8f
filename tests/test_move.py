"""The Move class: 16-bit move values, their text form and the constructor."""

import pytest
from helpers import panic_message

from komaban import Address, ColorType, Move, Piece, PieceType

BLACK, WHITE = ColorType.Black, ColorType.White
NO_COLOR, NO_KIND = getattr(ColorType, "None"), getattr(PieceType, "None")


def test_default_move_is_value_zero():
    m = Move()
    assert not m.is_drop() and not m.is_promote()
    assert m.get_from() == Address(0, 0) and m.get_to() == Address(0, 0)
    assert str(m) == repr(m) == "Move(csa=0`0`)"


@pytest.mark.parametrize(
    "csa, shown, drop, promote",
    [
        ("7c7d", "7c7d", False, False),
        ("7c7d+", "7c7d+", False, True),
        ("7c7d=", "7c7d", False, False),
        ("7c7d+xyz", "7c7d+", False, True),
        ("0`:j", "0`:j", False, False),  # off-board squares use the same arithmetic
        ("P*5e", "P*5e", True, False),
        ("p*5e", "p*5e", True, False),
        ("A*5e", " *5e", True, False),
        ("x*5e", " *5e", True, False),
        ("P*5e+", "P*5e", True, False),
        ("é*5e", " *0c", True, False),  # bytes 2 and 3 ("*5") name the target square
        ("1a1l", "1a5`+", False, True),  # to index 133 spills into the promote bit
        ("P*1l", "P*5`", True, True),
        ("1l1a", "5`2a", False, False),  # from index 133 spills into the to field
    ],
)
def test_csa_text(csa, shown, drop, promote):
    m = Move(csa=csa)
    assert str(m) == repr(m) == f"Move(csa={shown})"
    assert (m.is_drop(), m.is_promote()) == (drop, promote)


@pytest.mark.parametrize(
    "csa, owner, kind, from_index, to_index",
    [
        ("P*5e", BLACK, PieceType.Pawn, 8, 60),
        ("p*5e", WHITE, PieceType.Pawn, 72, 60),
        ("A*5e", BLACK, NO_KIND, 0, 60),
        ("x*5e", WHITE, NO_KIND, 64, 60),
        ("Ő*5e", BLACK, NO_KIND, 0, 33),  # U+0150: only the low byte 0x50 is compared
        ("ŧ*5e", WHITE, NO_KIND, 64, 33),  # U+0167
        ("7c7d", BLACK, NO_KIND, 40, 51),  # board moves decode their from index too
        ("2a2b", BLACK, PieceType.ProLance, 13, 24),
        ("6f6g", WHITE, PieceType.Pawn, 72, 83),
    ],
)
def test_getters(csa, owner, kind, from_index, to_index):
    m = Move(csa=csa)
    assert m.get_piece() == Piece(owner, kind)
    assert (m.get_from().to_int(), m.get_to().to_int()) == (from_index, to_index)


@pytest.mark.parametrize(
    "csa, message",
    [
        ("", "byte index 2 is out of bounds of ``"),
        ("7", "byte index 2 is out of bounds of `7`"),
        ("7c", "index out of bounds: the len is 0 but the index is 0"),
        ("7c7", "index out of bounds: the len is 1 but the index is 1"),
        ("aé", "byte index 2 is not a char boundary; it is inside 'é' (bytes 1..3) of `aé`"),
        ("7€7d", "byte index 2 is not a char boundary; it is inside '€' (bytes 1..4) of `7€7d`"),
        # The quoted text survives whole, NUL characters included.
        ("\x00", "byte index 2 is out of bounds of `\x00`"),
        (
            "aé\x00x",
            "byte index 2 is not a char boundary; it is inside 'é' (bytes 1..3) of `aé\x00x`",
        ),
    ],
)
def test_csa_too_short_or_split_character(csa, message):
    assert panic_message(lambda: Move(csa=csa)) == message


SILVER_W = Piece(WHITE, PieceType.Silver)
FROM, TO = {"from_address": Address(7, 3)}, {"to_address": Address(5, 5)}


@pytest.mark.parametrize(
    "kwargs, shown",
    [
        ({**FROM, "to_address": Address(7, 4), "promote": True}, "7c7d+"),
        ({**FROM, "to_address": Address(7, 4), "piece": SILVER_W}, "7c7d"),
        ({"from_address": Address(1, 1), "to_address": Address(1, 12)}, "1a5`+"),
        ({"to_address": Address(2, 2), "piece": SILVER_W, "promote": True}, "s*2b"),
        ({**TO, "piece": Piece(NO_COLOR, PieceType.Pawn)}, "p*6e"),  # owner 0xff << 6 spills
        ({**TO, "piece": Piece(ColorType.ColorNumber, PieceType.Pawn)}, "P*6e"),
        ({**TO, "promote": True}, "0`0`"),
        ({**FROM, **TO, "csa": "7c7d", "promote": True, "piece": SILVER_W}, "7c7d"),
    ],
)
def test_constructor_from_parts(kwargs, shown):
    m = Move(**kwargs)
    assert str(m) == f"Move(csa={shown})"
    assert m == Move(csa=shown)


@pytest.mark.parametrize("kwargs", [FROM, {"piece": SILVER_W, "promote": True}])
def test_missing_to_address(kwargs):
    assert panic_message(lambda: Move(**kwargs)) == "called `Option::unwrap()` on a `None` value"


@pytest.mark.parametrize(
    "kwargs, name, given, target",
    [
        ({"csa": "7c7d", "piece": 1}, "piece", "int", "Piece"),
        ({"csa": 7, "from_address": 1}, "csa", "int", "PyString"),
        ({"csa": "7c7d", "promote": None}, "promote", "NoneType", "PyBool"),
        ({**TO, "from_address": SILVER_W}, "from_address", "Piece", "Address"),
    ],
)
def test_bad_argument_types_fail_even_when_unused(kwargs, name, given, target):
    with pytest.raises(TypeError) as info:
        Move(**kwargs)
    assert (
        str(info.value) == f"argument '{name}': '{given}' object cannot be converted to '{target}'"
    )


def test_equality_without_ordering_or_hash():
    a, b = Move(csa="7c7d"), Move("7c7d")
    assert a == b and not (a != b) and a is not b
    assert a != Move(csa="7c7d+") and Move(csa="P*5e") != Move(csa="p*5e")
    assert (a == "7c7d") is False and (a != "7c7d") is True
    with pytest.raises(TypeError):
        _ = a < b
    with pytest.raises(TypeError):
        hash(a)
