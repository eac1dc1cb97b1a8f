"""Board.execute_move (captures, promotion, drops) and Board.is_finished."""

import pytest
from helpers import panic_message

from komaban import Address, Board, ColorType, Move, Piece, PieceType

BLACK, WHITE = ColorType.Black, ColorType.White
NO_COLOR = getattr(ColorType, "None")
NO_KIND = getattr(PieceType, "None")
EMPTY = "9/9/9/9/9/9/9/9/9"


def played(sfen, *moves):
    board = Board(sfen)
    for m in moves:
        board.execute_move(Move(csa=m))
    return board


def with_pieces(sfen, *pieces):
    board = Board(sfen)
    for (column, row), kind, color in pieces:
        board.deploy(Address(column, row), kind, color)
    return board


@pytest.mark.parametrize(
    "sfen, moves, expected",
    [
        # plain moves for each side; the hands stay empty
        ("startpos", "7c7d", "lnsgkgsnl/1r5b1/ppppppppp/9/9/6P2/PPPPPP1PP/1B5R1/LNSGKGSNL"),
        ("startpos", "7c7d 3g3f", "lnsgkgsnl/1r5b1/pp1pppppp/2p6/9/6P2/PPPPPP1PP/1B5R1/LNSGKGSNL"),
        # Bichop takes Bichop (the path is not checked); the captor's Bichop slot counts it
        ("startpos", "2b8h", "lnsgkgsnl/1r5B1/ppppppppp/9/9/9/PPPPPPPPP/7R1/LNSGKGSNL B"),
        ("startpos", "8h2b", "lnsgkgsnl/1r7/ppppppppp/9/9/9/PPPPPPPPP/1b5R1/LNSGKGSNL b"),
        # the Horse goes back to the hand as a Bichop
        ("startpos", "2b8h+ 7i8h", "lnsgkg1nl/1r5s1/ppppppppp/9/9/9/PPPPPPPPP/7R1/LNSGKGSNL Bb"),
        # a move onto one of the mover's own pieces hands that piece to the opponent
        ("9/9/9/4P4/4G4/9/9/9/9", "5e5f", "9/9/9/4G4/9/9/9/9/9 p"),
        # drops take one piece out of the hand; an empty slot stays at 0
        (f"{EMPTY} 2P", "P*5e", "9/9/9/9/4P4/9/9/9/9 P"),
        (f"{EMPTY} P", "P*5e P*4e", "9/9/9/9/3PP4/9/9/9/9"),
        (f"{EMPTY} p2G", "p*1a G*9i", "8G/9/9/9/9/9/9/9/p8 G"),
        # a drop onto an occupied square captures first
        ("9/9/9/9/4p4/9/9/9/9 P", "P*5e", "9/9/9/9/4P4/9/9/9/9 P"),
    ],
)
def test_resulting_position(sfen, moves, expected):
    assert played(sfen, *moves.split()) == Board(expected)


PROMOTIONS = "Rook:Dragon Bichop:Horse Silver:ProSilver Knight:ProKnight Lance:ProLance"
PROMOTIONS += " Pawn:ProPawn King:King Gold:Gold Dragon:Dragon ProPawn:ProPawn"


@pytest.mark.parametrize("kind, arrives_as", [x.split(":") for x in PROMOTIONS.split()])
@pytest.mark.parametrize("color", [BLACK, WHITE])
def test_promote_flag(kind, arrives_as, color):
    kind, arrives_as = getattr(PieceType, kind), getattr(PieceType, arrives_as)
    board = with_pieces(EMPTY, ((5, 5), kind, color))
    board.execute_move(Move(csa="5e5f+"))
    assert board.get_piece(Address(5, 6)) == Piece(color, arrives_as)
    assert board.get_piece(Address(5, 5)) == Piece(NO_COLOR, NO_KIND)
    board.execute_move(Move(csa="5f5e"))
    assert board == with_pieces(EMPTY, ((5, 5), arrives_as, color))


def test_capture_with_promotion_makes_a_horse():
    board = played("startpos", "2b8h+")
    expected = "lnsgkgsnl/1r7/ppppppppp/9/9/9/PPPPPPPPP/7R1/LNSGKGSNL B"
    assert board == with_pieces(expected, ((8, 8), PieceType.Horse, BLACK))


@pytest.mark.parametrize("kind, letter", [("Dragon", "R"), ("Horse", "B"), ("ProPawn", "P")])
@pytest.mark.parametrize("captor", [BLACK, WHITE])
def test_captured_promoted_piece_is_demoted(kind, letter, captor):
    victim, row, move = (WHITE, 4, "5d5e") if captor == BLACK else (BLACK, 6, "5f5e")
    board = with_pieces(EMPTY, ((5, 5), getattr(PieceType, kind), victim))
    board.deploy(Address(5, row), PieceType.Gold, captor)
    board.execute_move(Move(csa=move))
    hand = letter if captor == BLACK else letter.lower()
    assert board == with_pieces(f"{EMPTY} {hand}", ((5, 5), PieceType.Gold, captor))


def test_black_drop_of_promoted_kind_uses_white_slot():
    # kind 14 with owner Black lands on slot 13, White's Knight
    board = Board(f"{EMPTY} 2n")
    board.execute_move(Move(to_address=Address(5, 5), piece=Piece(BLACK, PieceType.ProPawn)))
    assert board == with_pieces(f"{EMPTY} n", ((5, 5), PieceType.ProPawn, BLACK))


def test_white_drop_of_promoted_kind_fails_after_the_capture():
    board = Board("9/9/9/9/4G4/9/9/9/9")
    drop = Move(to_address=Address(5, 5), piece=Piece(WHITE, PieceType.ProPawn))
    message = panic_message(lambda: board.execute_move(drop))
    assert message == "index out of bounds: the len is 16 but the index is 21"
    assert board == Board(f"{EMPTY} g")


def test_move_from_an_empty_square():
    board = Board(EMPTY)
    board.execute_move(Move(csa="5e5f"))
    assert str(board) == f"Board(sfen={EMPTY})"
    assert board != Board(EMPTY)
    assert board.get_piece(Address(5, 6)) == Piece(WHITE, NO_KIND)


@pytest.mark.parametrize(
    "sfen, kings, expected",
    [
        ("startpos", [], (False, NO_COLOR)),
        (EMPTY, [], (True, WHITE)),
        ("4K4/9/9/9/9/9/9/9/9", [], (True, BLACK)),
        ("4k4/9/9/9/9/9/9/9/9", [], (True, WHITE)),
        (EMPTY, [((1, 1), BLACK), ((9, 9), BLACK)], (False, NO_COLOR)),
        (EMPTY, [((1, 1), WHITE), ((9, 9), WHITE), ((5, 5), BLACK)], (True, BLACK)),
        (EMPTY, [((5, 5), NO_COLOR)], (True, WHITE)),
        ("4k4/9/9/9/9/9/9/9/4K4 Kk", [], (False, NO_COLOR)),
    ],
)
def test_is_finished(sfen, kings, expected):
    board = with_pieces(sfen, *(((sq, PieceType.King, color) for sq, color in kings)))
    finished, winner = board.is_finished()
    assert type(finished) is bool and type(winner) is ColorType
    assert (finished, winner) == expected


@pytest.mark.parametrize(
    "sfen, move, expected, winner",
    [
        ("4k4/4R4/9/9/9/9/9/9/4K4", "5h5i", "4R4/9/9/9/9/9/9/9/4K4 K", BLACK),
        ("4k4/9/9/9/9/9/9/4r4/4K4", "5b5a", "4k4/9/9/9/9/9/9/9/4r4 k", WHITE),
        ("4k4/9/9/9/9/9/9/9/4K4 R", "R*5i", "4R4/9/9/9/9/9/9/9/4K4 K", BLACK),
    ],
)
def test_capturing_a_king_ends_the_game(sfen, move, expected, winner):
    board = Board(sfen)
    assert board.is_finished() == (False, NO_COLOR)
    board.execute_move(Move(csa=move))
    assert board == Board(expected)  # the King sits in the captor's King slot
    assert board.is_finished() == (True, winner)
    assert not any(m.is_drop() for m in board.search_moves(winner))
