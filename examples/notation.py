"""Standard SFEN and USI move text for komaban.

komaban's own text differs from the standard notations in two ways:

* Squares are USI turned half a turn: komaban column c, row r is USI file
  10 - c, rank 10 - r, so komaban ``7c7d`` is USI ``3g3f``. The board field
  is written in the same orientation as standard SFEN, so it needs no change.
* ``Board(text)`` reads a board field and a hand field only. It knows no
  promoted pieces ("+" reads as an unknown piece), reads one digit of a hand
  count, and would read a side-to-move letter as a hand field.

``load_sfen`` loads a full standard SFEN line correctly; ``usi_to_komaban``
and ``komaban_to_usi`` convert move text.
"""

from __future__ import annotations

import re

from komaban import Address, Board, ColorType, Game, PieceType

PROMOTED = {
    "R": PieceType.Dragon,
    "B": PieceType.Horse,
    "S": PieceType.ProSilver,
    "N": PieceType.ProKnight,
    "L": PieceType.ProLance,
    "P": PieceType.ProPawn,
}
HAND_ITEM = re.compile(r"(\d*)([RBGSNLPrbgsnlp])")


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


def _hand_field(field: str) -> str:
    """The hand field with counts above 9 split into one-digit items ("12P" is "9P3P")."""
    if field == "-":
        return field
    items = HAND_ITEM.findall(field)
    if "".join(count + letter for count, letter in items) != field or not items:
        raise ValueError(f"malformed hand field {field!r}")
    out = []
    for count, letter in items:
        n = int(count or 1)
        while n > 0:
            out.append(f"{min(n, 9)}{letter}")
            n -= 9
    return "".join(out)


def load_sfen(line: str) -> Game:
    """A game from a standard SFEN line: board, side to move, hand, move number.

    Raises ValueError for a malformed line.
    """
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
    for address, kind, owner in promoted:
        board.deploy(address, kind, owner)
    game = Game(board)
    game.input_turn(side)
    game.input_move_number(number)
    return game


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
