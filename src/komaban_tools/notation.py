"""Standard SFEN, USI and komaban move text, and squares turned half a turn.

komaban's own text differs from the standard notations in two ways:

* Squares are USI turned half a turn: komaban column c, row r is USI file
  10 - c, rank 10 - r, so komaban ``7c7d`` is USI ``3g3f``. The board field
  is written in the same orientation as standard SFEN, so it needs no change.
* ``Board(text)`` reads a board field and a hand field only. It knows no
  promoted pieces ("+" reads as an unknown piece), reads one digit of a hand
  count, and would read a side-to-move letter as a hand field.

This module is the one place that reads the text komaban writes for a board
or a move (`board_text`, `move_text`), loads a full standard SFEN line
(`load_sfen`) and converts move text (`usi_to_komaban`, `komaban_to_usi`).

>>> from komaban import Board, ColorType
>>> usi_to_komaban("7g7f", ColorType.Black), komaban_to_usi("b*6e")
('3c3d', 'B*4e')
>>> board_text(Board())
'lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL'
"""

from __future__ import annotations

import re

from komaban import Address, Board, ColorType, Game, Move, Piece, PieceType

START_SFEN = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"
START_BOARD = START_SFEN.split()[0]
# One item of a hand field: a count (none for one) and a piece letter.
HAND_ITEM = re.compile(r"(\d*)([RBGSNLPrbgsnlp])")
USI_MOVE = re.compile(r"[1-9][a-i][1-9][a-i]\+?|[RBGSNLP]\*[1-9][a-i]")
KOMABAN_MOVE = re.compile(r"[1-9][a-i][1-9][a-i]\+?|[RBGSNLPrbgsnlp]\*[1-9][a-i]")
# SFEN letters by int(PieceType): None, King to Pawn, then Dragon to promoted Pawn.
LETTERS = ("", "K", "G", "R", "B", "S", "N", "L", "P", "+R", "+B", "+S", "+N", "+L", "+P")
# The pieces a hand can hold, in the order of an SFEN hand field.
HAND_LETTERS = "RBGSNLP"
PROMOTED = {
    "R": PieceType.Dragon,
    "B": PieceType.Horse,
    "S": PieceType.ProSilver,
    "N": PieceType.ProKnight,
    "L": PieceType.ProLance,
    "P": PieceType.ProPawn,
}
_BOARD_PREFIX, _MOVE_PREFIX = len("Board(sfen="), len("Move(csa=")


def board_text(board: Board) -> str:
    """The board field komaban writes for a board, promoted pieces as "+R"."""
    return str(board)[_BOARD_PREFIX:-1]


def move_text(move: Move) -> str:
    """komaban's move text of a move: "7c7d", "7c7d+" or "P*5e"."""
    return str(move)[_MOVE_PREFIX:-1]


def usi_text(move: Move) -> str:
    """The USI text of a komaban Move ("7c7d" is "3g3f")."""
    return komaban_to_usi(move_text(move))


def is_none(value: ColorType | PieceType) -> bool:
    """True for ColorType.None and PieceType.None (a keyword as a member name)."""
    return value.name == "None"


def opponent(color: ColorType) -> ColorType:
    """White for Black, Black for anything else."""
    return ColorType.White if color == ColorType.Black else ColorType.Black


def side_name(color: ColorType) -> str:
    """ "Black" or "White"."""
    return "Black" if color == ColorType.Black else "White"


def square_text(column: int, row: int) -> str:
    """komaban's text of a square: Address(7, 3) is "7c"."""
    return f"{column}{chr(ord('a') + row - 1)}"


def address(square: str) -> Address:
    """The Address of komaban's square text ("7c" is Address(7, 3))."""
    return Address(int(square[0]), ord(square[1]) - ord("a") + 1)


def turn_square(square: str) -> str:
    """A square's text turned half a turn: "7c" <-> "3g" (komaban <-> USI)."""
    return f"{10 - int(square[0])}{chr(ord('a') + ord('i') - ord(square[1]))}"


def usi_to_komaban(usi: str, side: ColorType) -> str:
    """komaban move text for a USI move of the side to move ("3g3f" -> "7c7d").

    A drop's letter is upper case for Black and lower case for White in komaban.
    """
    if usi[1] == "*":
        letter = usi[0].upper() if side == ColorType.Black else usi[0].lower()
        return f"{letter}*{turn_square(usi[2:4])}"
    return turn_square(usi[0:2]) + turn_square(usi[2:4]) + usi[4:]


def komaban_to_usi(text: str) -> str:
    """USI move text for komaban move text ("7c7d" -> "3g3f", "p*5e" -> "P*5e")."""
    if text[1] == "*":
        return f"{text[0].upper()}*{turn_square(text[2:4])}"
    return turn_square(text[0:2]) + turn_square(text[2:4]) + text[4:]


def sfen_letter(piece: Piece) -> str:
    """The piece's SFEN letter: upper case for Black, lower case for White, "+" if promoted."""
    letter = LETTERS[int(piece.piece_type)]
    return letter if piece.owner == ColorType.Black else letter.lower()


def _board_field(field: str) -> tuple[str, list[tuple[Address, PieceType, ColorType]]]:
    """The board field without "+" signs, and the promoted pieces to put back."""
    ranks = field.split("/")
    if len(ranks) != 9:
        raise ValueError(f"board field has {len(ranks)} ranks, not 9")
    promoted = []
    for i, rank in enumerate(ranks):
        row, column, plus = 9 - i, 1, False
        for ch in rank:
            if ch == "+" and not plus:
                plus = True
            elif ch in "123456789" and not plus:
                column += int(ch)
            elif ch.upper() in "KGRBSNLP" and (not plus or ch.upper() in PROMOTED):
                if plus:
                    owner = ColorType.Black if ch.isupper() else ColorType.White
                    promoted.append((Address(column, row), PROMOTED[ch.upper()], owner))
                column, plus = column + 1, False
            else:
                raise ValueError(f"unexpected {ch!r} in rank {i + 1} of the board field")
        if plus or column != 10:
            raise ValueError(f"rank {i + 1} of the board field does not describe 9 squares")
    return field.replace("+", ""), promoted


def hand_items(field: str) -> list[tuple[str, int]]:
    """The (letter, count) items of an SFEN hand field ("S2p" is [("S", 1), ("p", 2)]).

    ValueError for a malformed field; "-" is an empty hand.
    """
    if field == "-":
        return []
    items = HAND_ITEM.findall(field)
    if "".join(count + letter for count, letter in items) != field or not items:
        raise ValueError(f"malformed hand field {field!r}")
    return [(letter, int(count or 1)) for count, letter in items]


def _hand_field(field: str) -> str:
    """The hand field with counts above 9 split into one-digit items ("12P" is "9P3P")."""
    out = []
    for letter, n in hand_items(field):
        while n > 0:
            out.append(f"{min(n, 9)}{letter}")
            n -= 9
    return "".join(out) or "-"


def load_sfen(line: str) -> Game:
    """A game from a standard SFEN line (board, side to move, hand, move number) or
    "startpos".

    Raises ValueError for a malformed line.
    """
    if line.strip() == "startpos":
        line = START_SFEN
    fields = line.split()
    if len(fields) != 4:
        raise ValueError(f"expected 4 fields (board, side, hand, move number), got {len(fields)}")
    board_field, side, hand_field, number = fields
    plain, promoted = _board_field(board_field)
    if side not in ("b", "w"):
        raise ValueError(f"side to move must be 'b' or 'w', not {side!r}")
    if not number.isdecimal() or not 1 <= int(number) <= 65535:
        raise ValueError(f"move number must be 1 to 65535, not {number!r}")
    board = Board(f"{plain} {_hand_field(hand_field)}")
    for square, kind, owner in promoted:
        board.deploy(square, kind, owner)
    game = Game(board)
    game.input_turn(side)
    game.input_move_number(number)
    return game


def hand_field(counts: dict[str, int]) -> str:
    """An SFEN hand field from counts by letter (upper case Black, lower case White)."""
    field = "".join(
        (str(counts[letter]) if counts[letter] > 1 else "") + letter
        for letter in HAND_LETTERS + HAND_LETTERS.lower()
        if counts.get(letter, 0) > 0
    )
    return field or "-"


def _free_square(board: Board) -> Address:
    """A square that nothing occupies: a playing square if one is free, else the border."""
    playing = [Address(column, row) for row in range(1, 10) for column in range(1, 10)]
    for square in playing + [Address(i % 11, i // 11) for i in range(128)]:
        if is_none(board.get_piece(square).owner):
            return square
    raise ValueError("every square is occupied")


def hand_counts(board: Board) -> dict[str, list[int]]:
    """The pieces in hand: {"Black": counts, "White": counts}, King to Pawn.

    A Board has no accessor for its hand, so the counts are found from how a
    drop behaves: it takes one from the count, and leaves a count of 0 at 0.
    Counts wrap at 256, so after adding 256 - n to a count it is 0 exactly
    when the player held n pieces; a drop onto a free square then changes the
    position exactly as putting the piece there with deploy does.
    """
    square = _free_square(board)

    def holds(color: ColorType, kind: PieceType, n: int) -> bool:
        letter = LETTERS[int(kind)] if color == ColorType.Black else LETTERS[int(kind)].lower()
        extra = (256 - n) % 256
        game = Game(board)  # a copy, which input_hand adds to
        game.input_hand(f"9{letter}" * (extra // 9) + f"{extra % 9}{letter}" * (extra % 9 > 0))
        dropped, placed = game.board, game.board
        dropped.execute_move(Move(piece=Piece(color, kind), to_address=square))
        placed.deploy(square, kind, color)
        return dropped == placed

    return {
        color.name: [
            next(n for n in range(256) if holds(color, PieceType(number), n))
            for number in range(1, 9)
        ]
        for color in (ColorType.Black, ColorType.White)
    }


def sfen_of(game: Game) -> str:
    """The standard SFEN line of a Game: its board, side to move, hands and move number.

    ValueError for a game whose side to move is neither Black nor White.
    """
    if is_none(game.turn):
        raise ValueError("the game has no side to move")
    counts = hand_counts(game.board)
    by_letter = {
        (letter if color == "Black" else letter.lower()): counts[color][int(kind) - 1]
        for color in ("Black", "White")
        for letter, kind in zip(HAND_LETTERS, _HAND_KINDS, strict=True)
    }
    side = "b" if game.turn == ColorType.Black else "w"
    return f"{board_text(game.board)} {side} {hand_field(by_letter)} {game.move_number}"


_HAND_KINDS = (
    PieceType.Rook,
    PieceType.Bichop,
    PieceType.Gold,
    PieceType.Silver,
    PieceType.Knight,
    PieceType.Lance,
    PieceType.Pawn,
)
