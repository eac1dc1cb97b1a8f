import pytest
from helpers import panic_of
from hypothesis import given, settings
from hypothesis import strategies as st

from komaban import ColorType, Hand, Piece, PieceType

BLACK, WHITE, COLOR_NUMBER = ColorType.Black, ColorType.White, ColorType.ColorNumber
NO_COLOR, NO_KIND = getattr(ColorType, "None"), getattr(PieceType, "None")
KIND_NAMES = ["King", "Gold", "Rook", "Bichop", "Silver", "Knight", "Lance", "Pawn"]
KINDS = [getattr(PieceType, name) for name in KIND_NAMES]
CONVERT = "argument '{}': '{}' object cannot be converted to '{}'"
OUT_OF_RANGE = "out of range integral type conversion attempted"
FRESH_LABELS = [Piece(color, kind) for color in (BLACK, WHITE) for kind in KINDS]


def test_fresh_hand():
    hand = Hand()
    assert hand.counts == [0] * 16
    names = [(p.owner.name, p.piece_type.name) for p in hand.pieces]
    assert names == [(c, k) for c in ("Black", "White") for k in KIND_NAMES]
    assert hand.get_player_pieces(BLACK) == [] == hand.get_player_pieces(WHITE)


SLOT_CASES = [(BLACK, kind, slot) for slot, kind in enumerate(KINDS)]
SLOT_CASES += [(WHITE, kind, 8 + slot) for slot, kind in enumerate(KINDS)]
SLOT_CASES += [(color, NO_KIND, 0) for color in (BLACK, WHITE, NO_COLOR, COLOR_NUMBER)]
SLOT_CASES += [(BLACK, PieceType.Dragon, 8), (BLACK, PieceType.ProPawn, 13)]


@pytest.mark.parametrize("color, kind, slot", SLOT_CASES)
def test_counters_follow_slot_rule(color, kind, slot):
    hand = Hand()
    hand.add_piece(color, kind)
    assert hand.counts == [int(i == slot) for i in range(16)]
    hand.add_pieces(color, kind, 5)
    hand.decrease_piece(color, kind)
    assert hand.counts == [5 * (i == slot) for i in range(16)]
    assert hand.pieces == FRESH_LABELS


def test_counters_wrap_and_never_go_negative():
    hand = Hand()
    hand.add_pieces(BLACK, PieceType.Pawn, 200)
    hand.add_pieces(BLACK, PieceType.Pawn, 200)
    assert hand.counts[7] == 144
    hand.counts = [255] * 16
    hand.add_piece(WHITE, PieceType.Pawn)
    assert hand.counts == [255] * 15 + [0]
    hand.counts = [0] * 16
    hand.add_pieces(BLACK, PieceType.Gold, 3)
    for _ in range(4):
        hand.decrease_piece(BLACK, PieceType.Gold)
    assert hand.counts == [0] * 16
    with pytest.raises(OverflowError, match=OUT_OF_RANGE):
        hand.add_pieces(BLACK, PieceType.Gold, 256)


OPERATIONS = {
    "add_piece": lambda h, c, k: h.add_piece(c, k),
    "add_pieces": lambda h, c, k: h.add_pieces(c, k, 1),
    "decrease_piece": lambda h, c, k: h.decrease_piece(c, k),
}


@pytest.mark.parametrize("operation", OPERATIONS)
@pytest.mark.parametrize(
    "color, kind, index",
    [
        (COLOR_NUMBER, PieceType.King, 16),
        (NO_COLOR, PieceType.King, 65528),
        (COLOR_NUMBER, PieceType.Pawn, 23),
        (NO_COLOR, PieceType.Pawn, 65535),
        (WHITE, PieceType.Dragon, 16),
        (WHITE, PieceType.ProPawn, 21),
    ],
)
def test_slot_out_of_range_panics(operation, color, kind, index):
    hand = Hand()
    hand.counts = list(range(1, 17))
    exc = panic_of(lambda: OPERATIONS[operation](hand, color, kind))
    assert not isinstance(exc, Exception)
    assert exc.args == (f"index out of bounds: the len is 16 but the index is {index}",)
    assert hand.counts == list(range(1, 17))


@pytest.mark.parametrize("color, index", [(NO_COLOR, 65528), (COLOR_NUMBER, 16)])
def test_get_player_pieces_out_of_range_panics(color, index):
    exc = panic_of(lambda: Hand().get_player_pieces(color))
    assert str(exc) == f"index out of bounds: the len is 16 but the index is {index}"


@settings(max_examples=50)
@given(st.lists(st.integers(0, 255), min_size=16, max_size=16))
def test_get_player_pieces_lists_held_kinds_in_order(counts):
    hand = Hand()
    hand.counts = counts
    for base, color in ((0, BLACK), (8, WHITE)):
        held = [FRESH_LABELS[base + i] for i in range(8) if counts[base + i]]
        assert hand.get_player_pieces(color) == held


def test_assigned_labels_and_any_sequence():
    hand = Hand()
    hand.pieces = tuple(FRESH_LABELS[::-1])
    hand.counts = bytes(16)
    hand.add_pieces(BLACK, PieceType.Pawn, 3)
    hand.add_piece(BLACK, PieceType.Gold)
    assert hand.pieces == FRESH_LABELS[::-1]
    assert hand.get_player_pieces(BLACK) == [Piece(WHITE, PieceType.Lance), Piece(WHITE, KINDS[0])]
    with pytest.raises(AttributeError, match="can't delete attribute"):
        del hand.counts


@pytest.mark.parametrize(
    "attribute, value, error, message",
    [
        ("counts", 5, TypeError, CONVERT.format("counts", "int", "Sequence")),
        ("pieces", 5, TypeError, CONVERT.format("pieces", "int", "Sequence")),
        ("counts", [0] * 15, ValueError, "expected a sequence of length 16 (got 15)"),
        ("pieces", FRESH_LABELS * 2, ValueError, "expected a sequence of length 16 (got 32)"),
        ("counts", [1] * 15 + [256], OverflowError, OUT_OF_RANGE),
        ("pieces", FRESH_LABELS[:15] + [3], TypeError, CONVERT.format("pieces", "int", "Piece")),
    ],
)
def test_failed_assignment_leaves_hand_unchanged(attribute, value, error, message):
    hand, reference = Hand(), Hand()
    for h in (hand, reference):
        h.add_pieces(WHITE, PieceType.Rook, 2)
    with pytest.raises(error) as info:
        setattr(hand, attribute, value)
    assert str(info.value) == message
    assert hand == reference and hand.counts[10] == 2 and hand.pieces == FRESH_LABELS


def test_text_form():
    fresh = Hand()
    assert str(fresh).startswith(
        "Hand(pieces=[Piece { owner: Black, piece_type: King }, "
        "Piece { owner: Black, piece_type: Gold }, "
    )
    zeros = ", ".join(["0"] * 16)
    assert str(fresh).endswith(f"Piece {{ owner: White, piece_type: Pawn }}], counts=[{zeros}])")
    hand = Hand()
    hand.pieces = FRESH_LABELS[:14] + [
        Piece(NO_COLOR, PieceType.ProPawn),
        Piece(COLOR_NUMBER, NO_KIND),
    ]
    hand.counts = [0] * 13 + [10, 99, 255]
    assert str(hand) == repr(hand)
    assert str(hand).endswith(
        "Piece { owner: White, piece_type: Knight }, Piece { owner: None, piece_type: ProPawn }, "
        "Piece { owner: ColorNumber, piece_type: None }], counts=[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "
        "0, 0, 0, 10, 99, 255])"
    )


def test_equality():
    first, second = Hand(), Hand()
    assert first == second and not first != second
    second.add_piece(WHITE, PieceType.Knight)
    assert first != second and not first == second
    first.add_piece(WHITE, PieceType.Knight)
    assert first == second
    first.pieces = FRESH_LABELS[:15] + [Piece(WHITE, PieceType.ProPawn)]
    assert first != second
    assert (Hand() == [0] * 16) is False and Hand() != "Hand()"
    with pytest.raises(TypeError):
        _ = first < second
