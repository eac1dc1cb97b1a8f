import random

import pytest
from helpers import panic_of
from hypothesis import given, settings
from hypothesis import strategies as st

from komaban import Address, Board, ColorType, Game, Piece, PieceType

BLACK, WHITE = ColorType.Black, ColorType.White
NO_COLOR = getattr(ColorType, "None")
NO_KIND = getattr(PieceType, "None")
START = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL"
EMPTY = "9/9/9/9/9/9/9/9/9"
SYMBOLS = " KGRBSNLP"


def field(board):
    text = str(board)
    assert text.startswith("Board(sfen=") and text.endswith(")")
    return text[len("Board(sfen=") : -1]


def test_default_board_is_start_position():
    board = Board()
    assert board == Board("startpos") == Board(START) == Board(sfen="startpos")
    assert str(board) == repr(board) == f"Board(sfen={START})"


@pytest.mark.parametrize(
    "text, written",
    [
        ("startpos 3P", START),
        ("k", "k8/9/9/9/9/9/9/9/9"),
        ("1p1/2P", "1p7/2P6/9/9/9/9/9/9/9"),
        ("+P8/9/9/9/9/9/9/9/9", "1P7/9/9/9/9/9/9/9/9"),
        ("Startpos", "S2r1p1s1/9/9/9/9/9/9/9/9"),
        ("PPPPPPPPPP/9/9/9/9/9/9/9/9", "PPPPPPPPP/9/9/9/9/9/9/9/9"),
        ("9/9/9/9/9/9/9/9/9/P", EMPTY),
        ("9/9/9/9/9/9/9/9/92P", "9/9/9/9/9/9/9/P8/9"),
    ],
)
def test_reader_then_writer(text, written):
    assert field(Board(text)) == written


@pytest.mark.parametrize(
    "text, other, equal",
    [
        ("", EMPTY, True),
        ("111111111/9/9/9/9/9/9/9/9", EMPTY, True),
        ("45/9/9/9/9/9/9/9/9", EMPTY, True),
        ("startpos -", "startpos", True),
        ("startpos ", "startpos", True),
        ("startpos  P", "startpos", True),
        ("startpos 0p", "startpos", True),
        ("startpos P2b", "startpos 1P2b", True),
        ("startpos 2x", "startpos 2K", True),
        ("startpos \u00e9", "startpos K", True),
        ("startpos 10p", "startpos Kp", True),
        ("startpos " + "p" * 100_000, "startpos " + "p" * 160, True),
        (f"{START} b - 1", "startpos b", True),
        ("startpos w 7", "startpos K", True),
        ("startpos", "startpos P", False),
        ("startpos 2x", "startpos", False),
        ("startpos P2b", "startpos 2Pb", False),
        ("startpos", START + "\t", False),
        ("+P8/9/9/9/9/9/9/9/9", "1P7/9/9/9/9/9/9/9/9", False),
        ("PPPPPPPPPP/9/9/9/9/9/9/9/9", "PPPPPPPPP/9/9/9/9/9/9/9/9", False),
        ("9/9/9/9/9/9/9/9/9/P", EMPTY, False),
        ("\u00e9", EMPTY, False),
    ],
)
def test_texts_compared_by_position(text, other, equal):
    assert (Board(text) == Board(other)) is equal
    assert (Board(text) != Board(other)) is not equal


@pytest.mark.parametrize(
    "text, square, kind, owner",
    [
        ("startpos", (5, 1), PieceType.King, BLACK),
        ("startpos", (2, 8), PieceType.Rook, WHITE),
        ("startpos", (8, 8), PieceType.Bichop, WHITE),
        ("startpos", (5, 7), PieceType.Pawn, WHITE),
        ("startpos", (5, 5), NO_KIND, NO_COLOR),
        ("k", (1, 9), PieceType.King, WHITE),
        ("+P8/9/9/9/9/9/9/9/9", (1, 9), NO_KIND, BLACK),
        ("+P8/9/9/9/9/9/9/9/9", (2, 9), PieceType.Pawn, BLACK),
        ("T", (1, 9), NO_KIND, WHITE),
        ("!", (1, 9), NO_KIND, BLACK),
        ("\u00e9", (1, 9), NO_KIND, WHITE),
        ("\u0100", (1, 9), NO_KIND, BLACK),
        ("\u0150", (1, 9), NO_KIND, BLACK),
        ("PPPPPPPPPP", (10, 9), PieceType.Pawn, BLACK),
        ("9/9/9/9/9/9/9/9/9/P", (1, 0), PieceType.Pawn, BLACK),
        ("9/9/9/9/9/9/9/9/92P", (1, 2), PieceType.Pawn, BLACK),
    ],
)
def test_get_piece_after_reading(text, square, kind, owner):
    assert Board(text).get_piece(Address(*square)) == Piece(owner, kind)


def test_empty_board_has_no_pieces_anywhere():
    board = Board("")
    for index in range(121):
        assert board.get_piece(Address(index % 11, index // 11)) == Piece(NO_COLOR, NO_KIND)


@pytest.mark.parametrize("text", ["startpos 2", "startpos P2", " 2", "k 3b9"])
def test_hand_field_ending_in_digit_panics(text):
    exc = panic_of(lambda: Board(text))
    assert exc.args == ("called `Option::unwrap()` on a `None` value",)


@pytest.mark.parametrize("value, type_name", [(None, "NoneType"), (5, "int"), (b"k", "bytes")])
def test_sfen_must_be_str(value, type_name):
    with pytest.raises(TypeError) as info:
        Board(value)
    assert str(info.value) == (
        f"argument 'sfen': '{type_name}' object cannot be converted to 'PyString'"
    )


def check_any_text(text):
    try:
        board = Board(text)
    except BaseException as exc:
        assert type(exc).__name__ == "PanicException", repr(exc)
        return
    ranks = field(board).split("/")
    assert len(ranks) == 9
    for rank in ranks:
        width = sum(int(ch) if ch.isdigit() else ch.upper() in SYMBOLS for ch in rank)
        assert width == 9, rank


@settings(max_examples=300, deadline=None)
@given(st.text())
def test_any_text_gives_board_or_panic(text):
    check_any_text(text)


@pytest.mark.parametrize("seed", range(3))
def test_very_long_texts(seed):
    rng = random.Random(seed)
    alphabet = "////0123456789kgrbsnlpKGRBSNLP+x\u00e9\u0100 "
    check_any_text("".join(rng.choice(alphabet) for _ in range(100_000)))
    for chunk in ("/", "9", "P", "9/", "p/"):
        check_any_text(chunk * 100_000)


PLAYING = [(c, r) for c in range(1, 10) for r in range(1, 10)]
KINDS = [PieceType(v) for v in range(1, 9)]


@settings(max_examples=60, deadline=None)
@given(st.dictionaries(st.sampled_from(PLAYING), st.tuples(st.sampled_from(KINDS), st.booleans())))
def test_writer_round_trip(placements):
    board = Board("")
    for square, (kind, black) in placements.items():
        board.deploy(Address(*square), kind, BLACK if black else WHITE)
    assert Board(field(board)) == board
    for square, (kind, black) in placements.items():
        assert board.get_piece(Address(*square)) == Piece(BLACK if black else WHITE, kind)


@pytest.mark.parametrize("value", range(1, 15))
@pytest.mark.parametrize("color", [BLACK, WHITE, NO_COLOR, ColorType.ColorNumber])
def test_writer_symbols(value, color):
    board = Board("")
    board.deploy(Address(1, 9), PieceType(value), color)
    symbol = ("+" if value > 8 else "") + SYMBOLS[value if value <= 8 else value - 6]
    if color != BLACK:
        symbol = symbol.lower()
    assert field(board) == symbol + "8/9/9/9/9/9/9/9/9"
    assert board.get_piece(Address(1, 9)) == Piece(
        BLACK if color == BLACK else WHITE, PieceType(value)
    )


def test_deploy_on_empty_board():
    board = Board("")
    assert board.deploy(address=Address(5, 5), piece_type=PieceType.King, color=WHITE) is None
    assert str(board) == "Board(sfen=9/9/9/9/4k4/9/9/9/9)"
    assert board.get_piece(Address(5, 5)) == Piece(WHITE, PieceType.King)


def test_deploy_kind_none_on_king_square():
    board = Board("startpos P")
    board.deploy(Address(5, 1), NO_KIND, BLACK)
    assert field(board).endswith("/LNSG1GSNL")
    assert board.get_piece(Address(5, 1)) == Piece(BLACK, NO_KIND)
    board.deploy(Address(5, 1), PieceType.Pawn, WHITE)
    assert board != Board("startpos P")
    board.deploy(Address(5, 1), PieceType.King, BLACK)
    assert board == Board("startpos P") != Board()


@pytest.mark.parametrize("square", [(5, 5), (0, 0), (10, 3)])
def test_deploy_leaves_invisible_traces(square):
    board = Board()
    board.deploy(Address(*square), PieceType.Pawn, BLACK)
    board.deploy(Address(*square), NO_KIND, NO_COLOR)
    assert str(board) == f"Board(sfen={START})"
    assert board != Board()
    assert board.get_piece(Address(*square)) == Piece(WHITE, NO_KIND)


@pytest.mark.parametrize(
    "text, extra",
    [
        ("startpos", []),
        ("startpos 3P2g", []),
        ("9/9/9/9/9/9/9/9/9 rrr", [((5, 5), PieceType.Rook, WHITE)]),
        (
            "",
            [
                ((5, 1), PieceType.Pawn, WHITE),
                ((2, 2), NO_KIND, NO_COLOR),
                ((1, 2), NO_KIND, BLACK),
            ],
        ),
        ("9/9/9/9/4p4/9/9/9/4k4 P", [((5, 5), PieceType.Pawn, WHITE)]),
    ],
)
def test_startpos_overlays_start_and_empties_hand(text, extra):
    board = Board(text)
    for square, kind, color in extra:
        board.deploy(Address(*square), kind, color)
    assert board.startpos() is None
    expected = Board()
    for square, kind, color in extra:
        if square[1] not in (1, 3, 7, 9) and square not in [(2, 2), (8, 2), (2, 8), (8, 8)]:
            expected.deploy(Address(*square), kind, color)
    assert board == expected


def test_comparison_with_other_objects():
    board = Board()
    assert (board == START) is False and board != START
    with pytest.raises(TypeError):
        _ = board < Board()
    with pytest.raises(TypeError):
        hash(board)


def place_piece_by_piece(board, field):
    """The board field read one piece at a time with deploy, in the reader's
    order: rank parts from the last to the first, 8-bit square arithmetic."""
    parts = field.split("/")
    for i in reversed(range(len(parts))):
        first = ((9 - i) % 256 * 11 + 1) % 256
        offset = 0
        for ch in parts[i]:
            if ch.isdigit() and ch.isascii():
                offset = (offset + int(ch)) % 256
                continue
            letter = ch.upper() if "a" <= ch <= "z" else ch
            kind = PieceType(max(SYMBOLS.find(letter), 0))
            index = (first + offset) % 256
            board.deploy(
                Address(index % 11, index // 11), kind, BLACK if ord(ch) % 256 < 0x54 else WHITE
            )
            offset = (offset + 1) % 256


@settings(max_examples=300, deadline=None)
@given(st.text(alphabet="/////123456789kgrbsnlpKGRBSNLPx+\u00e9\u0150", max_size=120))
def test_reader_places_as_piece_by_piece(text):
    """Texts that place a square twice, run off a row or hold non-ASCII
    characters included; also laid over a board by Game.input_board."""
    expected = Board("")
    place_piece_by_piece(expected, text)
    assert Board(text) == expected
    game, expected = Game(), Board()
    place_piece_by_piece(expected, text)
    game.input_board(text)
    assert game.board == expected


def written_piece_by_piece(board):
    """The board field from get_piece, square by square."""
    rows = []
    for row in range(9, 0, -1):
        text, run = "", 0
        for column in range(1, 10):
            piece = board.get_piece(Address(column, row))
            value = piece.piece_type.value
            if value == 0:
                run += 1
                continue
            symbol = ("+" if value > 8 else "") + SYMBOLS[value if value <= 8 else value - 6]
            text += (str(run) if run else "") + (symbol if piece.owner == BLACK else symbol.lower())
            run = 0
        rows.append(text + (str(run) if run else ""))
    return "/".join(rows)


COLORS = [BLACK, WHITE, NO_COLOR, ColorType.ColorNumber]


@settings(max_examples=150, deadline=None)
@given(
    st.lists(
        st.one_of(
            st.tuples(
                st.integers(0, 10), st.integers(0, 10), st.integers(0, 14), st.integers(0, 3)
            ),
            st.integers(0, 2**32),
        ),
        max_size=60,
    )
)
def test_writer_matches_get_piece(steps):
    """Boards made by deploy (border squares, kind None, colours None and
    ColorNumber) and by playing generated moves."""
    board, turn = Board(), BLACK
    for step in steps:
        if isinstance(step, tuple):
            column, row, kind, color = step
            board.deploy(Address(column, row), PieceType(kind), COLORS[color])
            continue
        moves = board.search_moves(turn)
        if moves:
            board.execute_move(moves[step % len(moves)])
        turn = WHITE if turn == BLACK else BLACK
    assert field(board) == written_piece_by_piece(board)
