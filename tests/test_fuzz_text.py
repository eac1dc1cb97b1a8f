"""Every text reader on arbitrary text: only the documented failures, nothing
changed that should not change, and agreement between the readers and with
the writers."""

import re

from strategies import (
    BLACK,
    NO_COLOR,
    WHITE,
    field,
    fuzz,
    game_fields,
    hand_field_fails,
    is_panic,
    outcome,
    texts,
)

from komaban import Address, Board, Game, Move, Piece, PieceType

UNWRAP = "called `Option::unwrap()` on a `None` value"


def check_unencodable(text, result):
    """A lone surrogate cannot be read as UTF-8: the interpreter's error."""
    try:
        text.encode()
    except UnicodeEncodeError:
        assert type(result) is UnicodeEncodeError, repr(result)
        return True
    return False


@fuzz(texts)
def test_board_reader(text):
    result = outcome(lambda: Board(text))
    if check_unencodable(text, result):
        return
    fields = text.split(" ")
    if len(fields) > 1 and hand_field_fails(fields[1]):
        assert is_panic(result) and result.args == (UNWRAP,)
        return
    assert type(result) is Board
    # The field readers of Game, one field each, build the same position.
    game = Game(Board(""))
    game.input_board(fields[0])
    if len(fields) > 1:
        game.input_hand(fields[1])
    assert game.board == result
    # The written field reads back to itself.
    written = field(result)
    assert field(Board(written)) == written


@fuzz(texts)
def test_game_readers(text):
    # Distinct values in every field, so that a stray write shows.
    def fresh(board_text):
        return Game(Board(board_text), 7, WHITE, BLACK)

    readers = {
        "input_board": " P",
        "input_hand": "startpos P",
        "input_move_number": "startpos P",
        "input_turn": "startpos P",
    }
    for reader, board_text in readers.items():
        game = fresh(board_text)
        before = game_fields(game)
        result = outcome(lambda game=game, reader=reader: getattr(game, reader)(text))
        after = game_fields(game)
        if check_unencodable(text, result):
            assert after == before
            continue
        expected = list(before)
        # A space and "!" are both characters of no kind, coloured Black, so
        # the Board reader (which splits at spaces) can stand in for Game's.
        plain = text.replace(" ", "!")
        if reader == "input_board":
            expected[0] = Board("startpos" if text == "startpos" else plain + " P")
        elif reader == "input_hand":
            if text not in ("", "-"):
                read = plain[:-1] if hand_field_fails(plain) else plain
                expected[0] = Board("startpos P" + read)
            if hand_field_fails(text):
                assert is_panic(result) and result.args == (UNWRAP,)
                assert after == tuple(expected)
                continue
        elif reader == "input_move_number":
            digits = re.fullmatch(r"\+?([0-9]+)", text, re.ASCII)
            number = digits and digits[1].lstrip("0") or "0"
            expected[1] = int(number) if len(number) <= 5 and int(number) <= 65535 else 0
        else:
            expected[2] = {"b": BLACK, "w": WHITE}.get(text[:1], NO_COLOR)
        assert result is None
        assert after == tuple(expected), reader


KIND_LETTERS = {letter: kind for kind, letter in enumerate("KGRBSNLP", 1)}


def read_move_model(text):
    """The parts a move text stands for and its 16-bit value, or None where
    reading must fail. Square indices are 8-bit and not masked to 7 bits."""
    data = text.encode()
    if len(data) < 4 or data[2] & 0xC0 == 0x80:
        return None

    def square(column, row):
        return (column - 0x30 + 11 * (row - 0x60)) % 256

    to = square(data[2], data[3])
    if text[1] == "*":
        first = text[0]
        kind = KIND_LETTERS.get(first.upper() if "a" <= first <= "z" else first, 0)
        owner = 1 if ord(first) & 0xFF >= 0x54 else 0
        piece = Piece((BLACK, WHITE)[owner], PieceType(kind))
        return {"piece": piece, "to_address": Address(to, 0)}, 0x8000 | to << 7 | owner << 6 | kind
    source, promote = square(data[0], data[1]), len(text) > 4 and text[4] == "+"
    parts = {"from_address": Address(source, 0), "to_address": Address(to, 0), "promote": promote}
    return parts, to << 7 | source | (0x4000 if promote else 0)


@fuzz(texts)
def test_move_reader(text):
    result = outcome(lambda: Move(csa=text))
    if check_unencodable(text, result):
        return
    model = read_move_model(text)
    if model is None:
        assert is_panic(result), repr(result)
        return
    parts, value = model
    assert type(result) is Move and result == Move(**parts)
    kind = value & 0x3F
    assert (
        result.is_drop(),
        result.is_promote(),
        result.get_from().to_int(),
        result.get_to().to_int(),
        result.get_piece(),
    ) == (
        bool(value & 0x8000),
        bool(value & 0x4000),
        value & 0x7F,
        value >> 7 & 0x7F,
        Piece(WHITE if value & 0x40 else BLACK, PieceType(kind if 1 <= kind <= 14 else 0)),
    )
    assert str(result).startswith("Move(csa=")
