"""The small value classes: ColorType, PieceType, Piece and Address."""

import operator

import pytest

import komaban
from komaban import Address, ColorType, Piece, PieceType

KINDS = ("None King Gold Rook Bichop Silver Knight Lance Pawn Dragon Horse ProSilver ProKnight "
         "ProLance ProPawn").split()  # fmt: skip
COLORS = [("None", 255, -1), ("Black", 0, 0), ("White", 1, 1), ("ColorNumber", 2, 2)]
MEMBERS = [(ColorType, *c) for c in COLORS] + [(PieceType, n, i, i) for i, n in enumerate(KINDS)]
NO_COLOR = ColorType(255)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(("cls", "name", "value", "number"), MEMBERS)
def test_enum_members(cls, name, value, number):
    member = getattr(cls, name)
    assert member is getattr(cls, name) and type(member) is cls
    assert (member.name, member.value, int(member)) == (name, value, number)
    assert repr(member) == f"<{cls.__name__}.{name}: {value}>"
    assert str(member) == f"{cls.__name__}.{name}" and bool(member) is True
    assert member == number and member == Index(number) and not (member != number)
    made = cls(value)
    assert made == member and made is not member and made.name == name
    for attr in ("name", "value"):
        with pytest.raises(AttributeError):
            setattr(member, attr, 1)
    assert (member.name, member.value) == (name, value)


@pytest.mark.parametrize(
    ("cls", "value", "name"),
    [(ColorType, 3, "None"), (ColorType, 200, "None"), (ColorType, True, "White"),
     (ColorType, False, "Black"), (ColorType, Index(2), "ColorNumber"), (PieceType, 15, "None"),
     (PieceType, 255, "None"), (PieceType, Index(9), "Dragon")],
)  # fmt: skip
def test_enum_from_any_byte(cls, value, name):
    made = cls(value)
    assert str(made) == f"{cls.__name__}.{name}" and made == getattr(cls, name)


@pytest.mark.parametrize(
    ("left", "right", "equal"),
    [(ColorType.Black, False, True), (NO_COLOR, -1, True), (NO_COLOR, 255, False),
     (ColorType.White, 257, False), (ColorType.Black, 2**64, False), (ColorType.Black, "0", False),
     (ColorType.White, 1.0, False), (ColorType.White, ColorType.ColorNumber, False),
     (PieceType.King, True, True), (PieceType.King, -1, False), (PieceType.King, 1.0, False),
     (PieceType.King, 257, False), (PieceType.King, 2**64 + 1, False),
     (PieceType.King, ColorType.White, False), (PieceType.Rook, PieceType.Dragon, False)],
)  # fmt: skip
def test_enum_equality(left, right, equal):
    assert (left == right) is equal and (left != right) is (not equal)


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("member", [ColorType.Black, PieceType.Rook])
def test_enums_are_neither_ordered_nor_indices(member, op):
    for misuse in (lambda: op(member, 1), lambda: operator.index(member), lambda: [0, 1][member]):
        with pytest.raises(TypeError):
            misuse()


@pytest.mark.parametrize(
    ("expression", "exc_type", "param"),
    [("ColorType(-1)", OverflowError, None), ("ColorType(256)", OverflowError, None),
     ("ColorType(int(ColorType(255)))", OverflowError, None),
     ("PieceType(-1)", OverflowError, None), ("PieceType(256)", OverflowError, None),
     ("Address(256, 0)", OverflowError, None), ("Address(-1, 0)", OverflowError, None),
     ("Address(0, 256)", OverflowError, None),
     ("ColorType('0')", TypeError, "value"), ("PieceType(1.0)", TypeError, "value"),
     ("Address('1', 0)", TypeError, "column"), ("Address(0, None)", TypeError, "row"),
     ("Piece(ColorType.Black, 1)", TypeError, "piece_type")],
)  # fmt: skip
def test_bad_constructor_arguments(expression, exc_type, param):
    with pytest.raises(exc_type) as info:
        eval(expression, {name: getattr(komaban, name) for name in komaban.__all__})
    if param is None:
        assert str(info.value) == "out of range integral type conversion attempted"
    else:
        assert str(info.value) == f"argument '{param}': {info.value.__cause__}"


def test_piece_text():
    king = Piece(ColorType.Black, PieceType.King)
    assert repr(king) == "Piece(owner=<ColorType.Black: 0>, piece_type=<PieceType.King: 1>)"
    assert str(king) == "Piece(owner=ColorType.Black, piece_type=PieceType.King)"
    odd = Piece(NO_COLOR, PieceType.ProPawn)
    assert repr(odd) == "Piece(owner=<ColorType.None: 255>, piece_type=<PieceType.ProPawn: 14>)"
    assert str(odd) == "Piece(owner=ColorType.None, piece_type=PieceType.ProPawn)"


def test_piece_equality_and_fields():
    a, b = Piece(ColorType.Black, PieceType.King), Piece(ColorType.Black, PieceType.King)
    assert a == b and not (a != b)
    assert b.owner is not b.owner and b.owner == b.owner == ColorType.Black
    b.owner = ColorType.ColorNumber
    assert a != b and b.owner.name == "ColorNumber"
    b.owner, b.piece_type = ColorType.Black, PieceType.Dragon
    assert a != b and str(b) == "Piece(owner=ColorType.Black, piece_type=PieceType.Dragon)"
    assert (a == PieceType.King) is False and (a != None) is True  # noqa: E711


@pytest.mark.parametrize(
    ("attr", "value", "given", "target"),
    [("owner", 1, "int", "ColorType"), ("owner", PieceType.King, "PieceType", "ColorType"),
     ("piece_type", None, "NoneType", "PieceType")],
)  # fmt: skip
def test_piece_failed_setter_keeps_value(attr, value, given, target):
    piece = Piece(ColorType.White, PieceType.Pawn)
    with pytest.raises(TypeError) as info:
        setattr(piece, attr, value)
    assert (
        str(info.value) == f"argument '{attr}': '{given}' object cannot be converted to '{target}'"
    )
    assert piece == Piece(ColorType.White, PieceType.Pawn)


@pytest.mark.parametrize(
    ("column", "row", "index", "shown"),
    [(1, 1, 12, (1, 1)), (9, 9, 108, (9, 9)), (0, 0, 0, (0, 0)), (10, 10, 120, (10, 10)),
     (7, 3, 40, (7, 3)), (11, 0, 11, (0, 1)), (0, 24, 8, (8, 0)), (255, 255, 244, (2, 22)),
     (True, Index(2), 23, (1, 2))],
)  # fmt: skip
def test_address_from_column_and_row(column, row, index, shown):
    address = Address(column, row)
    assert address.to_int() == index and (address.column, address.row) == shown
    assert str(address) == repr(address) == "Address(column={}, row={})".format(*shown)
    assert address == Address(*shown) and not (address != Address(*shown))


@pytest.mark.parametrize(
    ("attr", "value", "index"),
    [("column", 11, 22), ("row", 24, 9), ("column", 256, 11), ("column", 5, 16), ("row", 0, 1),
     ("column", 2**64 - 1, 10), ("row", 2**64 - 1, 246), ("row", Index(3), 34)],
)  # fmt: skip
def test_address_setters_replace_one_coordinate_and_wrap(attr, value, index):
    address = Address(1, 1)
    setattr(address, attr, value)
    assert address.to_int() == index


@pytest.mark.parametrize(
    ("attr", "value", "exc_type"),
    [("column", -1, OverflowError), ("row", 2**64, OverflowError), ("row", "1", TypeError),
     ("column", 1.0, TypeError)],
)  # fmt: skip
def test_address_failed_setter_keeps_value(attr, value, exc_type):
    address = Address(1, 1)
    with pytest.raises(exc_type) as info:
        setattr(address, attr, value)
    assert str(info.value).startswith(f"argument '{attr}': ") is (exc_type is TypeError)
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(address, attr)
    assert address.to_int() == 12


def test_address_compares_only_with_addresses():
    assert Address(1, 1) == Address(12, 0) and Address(1, 1) != Address(1, 2)
    assert (Address(1, 1) == 12) is False and (Address(1, 1) != 12) is True
    with pytest.raises(TypeError):
        Address(1, 1).to_int(1)
