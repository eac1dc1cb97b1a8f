"""Board.search_moves: board moves by ascending source square, then drops."""

import pytest
from helpers import panic_message

from komaban import Address, Board, ColorType, Move, PieceType

BLACK, WHITE = ColorType.Black, ColorType.White
NO_COLOR = getattr(ColorType, "None")
EMPTY = "9/9/9/9/9/9/9/9/9"
KINGS = "4k4/9/9/9/9/9/9/9/4K4"  # White King on (5,9), Black King on (5,1)
SQUARES = [(c, r) for r in range(1, 10) for c in range(1, 10)]  # ascending index


def texts(moves):
    return [str(m)[len("Move(csa=") : -1] for m in moves]


def sq(column, row):
    return f"{column}{'abcdefghi'[row - 1]}"


START_BLACK = (
    "1a1b 3a3b 3a4b 4a3b 4a4b 4a5b 5a4b 5a5b 5a6b 6a5b 6a6b 6a7b 7a6b 7a7b 9a9b "
    "8b3b 8b4b 8b5b 8b6b 8b7b 8b9b 1c1d 2c2d 3c3d 4c4d 5c5d 6c6d 7c7d 8c8d 9c9d"
)
START_WHITE = (
    "1g1f 2g2f 3g3f 4g4f 5g5f 6g6f 7g7f 8g8f 9g9f 2h1h 2h3h 2h4h 2h5h 2h6h 2h7h "
    "1i1h 3i3h 3i4h 4i3h 4i4h 4i5h 5i4h 5i5h 5i6h 6i5h 6i6h 6i7h 7i6h 7i7h 9i9h"
)
ROOK_5E = "5e5a 5e5b 5e5c 5e5d 5e1e 5e2e 5e3e 5e4e 5e6e 5e7e 5e8e 5e9e 5e5f 5e5g 5e5h 5e5i"
ROOK_5H = "5h5a 5h5b 5h5c 5h5d 5h5e 5h5f 5h5g 5h1h 5h2h 5h3h 5h4h 5h6h 5h7h 5h8h 5h9h 5h5i"


PLUS_5E = " 5e5g+ 5e5h+ 5e5i+"


@pytest.mark.parametrize(
    "sfen, color, expected",
    [
        ("startpos", BLACK, START_BLACK),
        ("startpos", WHITE, START_WHITE),
        ("9/9/9/9/4R4/9/9/9/9", BLACK, ROOK_5E + PLUS_5E),
        ("9/4R4/9/9/9/9/9/9/9", BLACK, ROOK_5H + " " + ROOK_5H.replace(" ", "+ ") + "+"),
        ("9/4P4/9/9/9/9/9/9/9", BLACK, "5h5i 5h5i+"),
        ("4P4/9/9/9/9/9/9/9/9", BLACK, ""),
        ("9/9/9/9/9/9/9/4p4/9", WHITE, "5b5a 5b5a+"),
        ("9/9/9/9/9/9/9/9/4p4", WHITE, ""),
        ("1N7/9/9/9/9/9/9/9/9", BLACK, ""),
        ("9/9/4N4/9/9/9/9/9/9", BLACK, "5g4i 5g6i 5g4i+ 5g6i+"),
        ("9/9/9/9/9/9/4n4/9/9", WHITE, "5c4a 5c6a 5c4a+ 5c6a+"),
        ("9/9/9/4S4/9/9/9/9/9", BLACK, "5f4e 5f6e 5f4g 5f5g 5f6g 5f4g+ 5f5g+ 5f6g+"),
        # own pieces block, opponent pieces (the King too) are captured
        (
            "4k4/9/9/9/4R1P2/9/9/9/9",
            BLACK,
            "5e5a 5e5b 5e5c 5e5d 5e1e 5e2e 5e3e 5e4e 5e6e 5e5f 5e5g 5e5h 5e5i" + PLUS_5E + " 7e7f",
        ),
        (
            "9/9/9/9/4r2G1/9/4p4/9/9",
            WHITE,
            "5c5b 5c5b+ 5e5d 5e1e 5e2e 5e3e 5e4e 5e6e 5e7e 5e8e 5e5f 5e5g 5e5h 5e5i",
        ),
    ],
)
def test_board_moves(sfen, color, expected):
    assert " ".join(texts(Board(sfen).search_moves(color))) == expected


# moves of a lone piece on (5,5): plain moves plus promoting moves into the zone
ALONE = "King:8 Gold:6 Rook:19 Bichop:22 Silver:5 Knight:4 Lance:7 Pawn:1 Dragon:20 Horse:20"
ALONE += " ProSilver:6 ProKnight:6 ProLance:6 ProPawn:6 None:0"


@pytest.mark.parametrize("kind, count", [x.split(":") for x in ALONE.split()])
@pytest.mark.parametrize("color", [BLACK, WHITE])
def test_each_kind_alone_in_the_centre(kind, count, color):
    board = Board(EMPTY)
    board.deploy(Address(5, 5), getattr(PieceType, kind), color)
    moves = board.search_moves(color)
    assert len(moves) == int(count)
    assert all(m.get_from() == Address(5, 5) and not m.is_drop() for m in moves)
    plain = [m.get_to().to_int() for m in moves if not m.is_promote()]
    assert plain == sorted(set(plain))
    assert board.search_moves(WHITE if color == BLACK else BLACK) == []


def test_square_in_no_colour_board_is_passed_through():
    board = Board("9/9/9/9/4R4/9/9/9/9")
    board.deploy(Address(5, 7), PieceType.Pawn, NO_COLOR)
    assert " ".join(texts(board.search_moves(BLACK))) == ROOK_5E + PLUS_5E
    assert board.search_moves(WHITE) == []


FORBIDDEN_ROWS = {"G": (), "R": (), "B": (), "S": (), "N": (8, 9), "L": (9,), "P": (9,)}


@pytest.mark.parametrize(
    "color, hand",
    [(BLACK, "3PLN2SBRG9P"), (WHITE, "3plnsbrg"), (BLACK, "N"), (WHITE, "l"), (BLACK, "P")],
)
def test_drops_follow_board_moves_by_kind_each_kind_once(color, hand):
    moves = texts(Board(f"{KINGS} {hand}").search_moves(color))
    king = "5a4a 5a6a 5a4b 5a5b 5a6b" if color == BLACK else "5i4h 5i5h 5i6h 5i4i 5i6i"
    assert " ".join(moves[:5]) == king
    expected = [
        f"{kind if color == BLACK else kind.lower()}*{sq(c, r)}"
        for kind in "GRBSNLP"
        if kind in hand.upper()
        for c, r in SQUARES
        if c != 5 or r not in (1, 9)
        if (r if color == BLACK else 10 - r) not in FORBIDDEN_ROWS[kind]
    ]
    assert moves[5:] == expected


def test_pawn_drops_skip_columns_with_an_own_unpromoted_pawn():
    board = Board("4k4/9/2p4P1/9/9/9/9/4P4/4K4 P")
    drops = texts(m for m in board.search_moves(BLACK) if m.is_drop())
    occupied = {(5, 1), (5, 9), (3, 7), (8, 7), (5, 2)}
    expected = [(c, r) for c, r in SQUARES if c not in (5, 8) and r != 9 and (c, r) not in occupied]
    assert drops == [f"P*{sq(c, r)}" for c, r in expected]
    board.execute_move(Move(csa="5b5c+"))  # a ProPawn no longer blocks its column
    board.execute_move(Move(csa="8g8h+"))
    drops = texts(m for m in board.search_moves(BLACK) if m.is_drop())
    occupied = {(5, 1), (5, 9), (3, 7), (8, 8), (5, 3)}
    assert drops == [f"P*{sq(c, r)}" for c, r in SQUARES if r != 9 and (c, r) not in occupied]


@pytest.mark.parametrize("sfen", [f"{KINGS} K", f"{KINGS} 2Kk", f"{EMPTY} K"])
def test_king_in_hand_is_never_dropped(sfen):
    assert not any(m.is_drop() for m in Board(sfen).search_moves(BLACK))


@pytest.mark.parametrize("color, slot", [(NO_COLOR, 65528), (ColorType.ColorNumber, 16)])
def test_colour_without_a_hand_row(color, slot):
    board = Board()
    message = panic_message(lambda: board.search_moves(color))
    assert message == f"index out of bounds: the len is 16 but the index is {slot}"
    assert board == Board()
