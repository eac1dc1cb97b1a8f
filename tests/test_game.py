import pytest
from helpers import panic_message

from komaban import Address, Board, ColorType, Game, Move, Piece, PieceType

BLACK, WHITE = ColorType.Black, ColorType.White
NONE = getattr(ColorType, "None")
START = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL"
RANGE_ERROR = "^out of range integral type conversion attempted$"


def test_defaults_and_arguments():
    g = Game()
    assert g.board == Board() and str(g.board) == f"Board(sfen={START})"
    assert (g.move_number, g.turn, g.winner) == (1, BLACK, NONE)
    g = Game(winner=BLACK, turn=WHITE, move_number=77, board=Board("4k4 P"))
    assert (g.board, g.move_number, g.turn, g.winner) == (Board("4k4 P"), 77, WHITE, BLACK)


@pytest.mark.parametrize("name, target", [
    ("board", "Board"), ("move_number", None), ("turn", "ColorType"), ("winner", "ColorType"),
])  # fmt: skip
def test_none_is_a_conversion_error(name, target):
    with pytest.raises(TypeError) as info:
        Game(**{name: None})
    assert str(info.value).startswith(f"argument '{name}': 'NoneType' object cannot be ")
    assert target is None or str(info.value).endswith(f"converted to '{target}'")


@pytest.mark.parametrize("value", [65536, -1])
def test_move_number_out_of_range(value):
    with pytest.raises(OverflowError, match=RANGE_ERROR):
        Game(move_number=value)
    g = Game()
    with pytest.raises(OverflowError, match=RANGE_ERROR):
        g.move_number = value
    assert g.move_number == 1


def test_attributes_are_copies():
    given = Board()
    g = Game(given)
    given.deploy(Address(5, 5), PieceType.Rook, BLACK)
    g.board.deploy(Address(5, 4), PieceType.Gold, WHITE)
    assert g.board == Board() and g.board is not g.board and g.turn is not g.turn
    g.board = given
    given.deploy(Address(5, 6), PieceType.Pawn, WHITE)
    assert g.board == Board("lnsgkgsnl/1r5b1/ppppppppp/9/4R4/9/PPPPPPPPP/1B5R1/LNSGKGSNL")
    turn = ColorType(1)
    g.turn = turn
    assert g.turn == WHITE and g.turn is not turn


@pytest.mark.parametrize("name, value, message", [
    ("board", None, "'NoneType' object cannot be converted to 'Board'"),
    ("turn", 1, "'int' object cannot be converted to 'ColorType'"),
    ("winner", "b", "'str' object cannot be converted to 'ColorType'"),
])  # fmt: skip
def test_attribute_assignment_conversion_errors(name, value, message):
    g = Game()
    with pytest.raises(TypeError) as info:
        setattr(g, name, value)
    assert str(info.value) == f"argument '{name}': {message}"
    assert (g.board, g.turn, g.winner) == (Board(), BLACK, NONE)


@pytest.mark.parametrize("name", ["board", "move_number", "turn", "winner"])
def test_attributes_cannot_be_deleted(name):
    with pytest.raises(AttributeError, match=r"^can't delete attribute$"):
        delattr(Game(), name)


@pytest.mark.parametrize("initial, text, expected", [
    ("startpos", "9/9/9/9/9/9/9/9/9", "startpos"),
    (" P", START, "startpos P"),
    ("startpos", "4k4", "startpos"),
    ("startpos", "k3K", "knsgKgsnl" + START[9:]),
    ("startpos 2p", "9/9/9/9/9/9/9/9/4k4", START[:-5] + "k" + START[-4:] + " 2p"),
    ("4k4/9/9/9/4k4 P", "startpos", "lnsgkgsnl/1r5b1/ppppppppp/9/4k4/9/PPPPPPPPP/1B5R1/LNSGKGSNL"),
    ("startpos P", "startpos ", "startpos!" + START[9:] + " P"),
    ("startpos P", "startpos P", "startpos!P" + START[9:] + " P"),
])  # fmt: skip
def test_input_board(initial, text, expected):
    g = Game(Board(initial), 9, WHITE, BLACK)
    g.input_board(text)
    assert g.board == Board(expected)
    assert (g.move_number, g.turn, g.winner) == (9, WHITE, BLACK)
    if text.startswith("startpos "):
        assert g.board.get_piece(Address(1, 9)) == Piece(WHITE, PieceType.Silver)


@pytest.mark.parametrize("texts, expected", [
    (["S2Pb"], "S2Pb"), (["S2Pb", "S2Pb"], "2S4P2b"), (["-"], ""), ([""], ""),
    (["10P"], "KP"), (["9P" * 28 + "4P"], ""), (["x", "X"], "2K"),
])  # fmt: skip
def test_input_hand(texts, expected):
    g = Game(move_number=3)
    for text in texts:
        g.input_hand(text)
    assert g.board == Board("startpos " + expected)
    assert (g.move_number, g.turn) == (3, BLACK)


@pytest.mark.parametrize("text, expected", [("2", ""), ("P2", "P"), ("Pg3", "Pg")])
def test_input_hand_trailing_digit_panics(text, expected):
    g = Game()
    assert (
        panic_message(lambda: g.input_hand(text)) == "called `Option::unwrap()` on a `None` value"
    )
    assert g.board == Board("startpos " + expected)


@pytest.mark.parametrize("text, expected", [
    ("42", 42), ("+7", 7), ("007", 7), ("65535", 65535), ("0", 0), ("65536", 0),
    ("-1", 0), (" 1", 0), ("1 ", 0), ("", 0), ("+", 0), ("1a", 0),
])  # fmt: skip
def test_input_move_number(text, expected):
    g = Game(move_number=123)
    g.input_move_number(text)
    assert g.move_number == expected


@pytest.mark.parametrize("text, expected", [
    ("b", BLACK), ("w", WHITE), ("black", BLACK), ("white", WHITE),
    ("W", NONE), ("B", NONE), ("", NONE), (" b", NONE),
])  # fmt: skip
def test_input_turn(text, expected):
    g = Game(turn=WHITE if expected == BLACK else BLACK)
    g.input_turn(text)
    assert g.turn == expected


@pytest.mark.parametrize("turn, number, next_turn, next_number", [
    (BLACK, 1, WHITE, 2), (WHITE, 8, BLACK, 9), (NONE, 3, NONE, 4), (BLACK, 65535, WHITE, 0),
])  # fmt: skip
def test_execute_move(turn, number, next_turn, next_number):
    g = Game(turn=turn, move_number=number, winner=WHITE)
    g.execute_move(Move(csa="7c7d"))
    assert g.board == Board("lnsgkgsnl/1r5b1/ppppppppp/9/9/6P2/PPPPPP1PP/1B5R1/LNSGKGSNL")
    assert (g.move_number, g.turn, g.winner) == (next_number, next_turn, WHITE)


def test_failing_execute_move_keeps_counters():
    g = Game(move_number=5, turn=WHITE)
    drop = Move(piece=Piece(WHITE, PieceType.ProPawn), to_address=Address(5, 5))
    message = panic_message(lambda: g.execute_move(drop))
    assert message == "index out of bounds: the len is 16 but the index is 21"
    assert (g.board, g.move_number, g.turn) == (Board(), 5, WHITE)


@pytest.mark.parametrize("board, number, expected", [
    ("startpos", 499, (False, NONE)), ("startpos", 500, (True, NONE)),
    ("startpos", 65535, (True, NONE)), ("4K4/9/9/9/9/9/9/9/4K4", 1, (False, NONE)),
    ("", 1, (True, WHITE)), ("9/9/9/9/4K4", 499, (True, BLACK)), ("9/9/9/9/4k4", 0, (True, WHITE)),
])  # fmt: skip
def test_is_finished(board, number, expected):
    g = Game(Board(board), number, winner=BLACK)
    assert g.is_finished() == expected and type(g.is_finished()[0]) is bool
    assert g.winner == BLACK
