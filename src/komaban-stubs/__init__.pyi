"""Shogi positions, move generation and random playouts, in C++.

Squares and move text are USI turned half a turn: komaban column c, row r is
USI file 10 - c, rank 10 - r (komaban ``7c7d`` is USI ``3g3f``). ``Board``
reads a board field and an optional hand field, not a full SFEN line.

Internal failures raise ``PanicException``. It derives from ``BaseException``
(``except Exception`` does not catch it) and is not a module attribute: catch
it with ``except BaseException as e`` and test
``type(e).__name__ == "PanicException"``.
"""

from collections.abc import Sequence
from typing import ClassVar, final

__all__ = ["Address", "ColorType", "PieceType", "Piece", "Move", "Hand", "Board", "Game"]

@final
class Address:
    """A square: index = column + 11 * row on an 11 x 11 grid, kept modulo 256.

    Playing squares have column and row 1 to 9; column or row 0 and 10 are the
    border. Black starts on rows 1 to 3. Nothing is range-checked.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, column: int, row: int) -> Address:
        """The square (column, row); both 0 to 255, else OverflowError."""

    @property
    def column(self) -> int:
        """The column, index mod 11; assigning replaces it and keeps the row."""

    @column.setter
    def column(self, value: int) -> None: ...
    @property
    def row(self) -> int:
        """The row, index div 11; assigning replaces it and keeps the column."""

    @row.setter
    def row(self, value: int) -> None: ...
    def to_int(self) -> int:
        """The square index, column + 11 * row."""

    def __eq__(self, other: object, /) -> bool:
        """Same square index; False for anything that is not an Address."""

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``."""

@final
class ColorType:
    """A side: ``Black`` (0), ``White`` (1), ``None`` (no colour) or ``ColorNumber`` (2).

    The member ``None`` is reached as ``getattr(ColorType, "None")``: its
    ``value`` is 255 and its ``int()`` is -1. Compares equal to members and to
    integers (``ColorType.Black == 0``); unhashable.
    """

    Black: ClassVar[ColorType]
    White: ClassVar[ColorType]
    ColorNumber: ClassVar[ColorType]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, value: int) -> ColorType:
        """0 Black, 1 White, 2 ColorNumber, 3 to 255 None; else OverflowError."""

    @property
    def name(self) -> str:
        """The member name: "Black", "White", "None" or "ColorNumber"."""

    @property
    def value(self) -> int:
        """The number as an unsigned byte: 0, 1, 2, or 255 for None."""

    def __int__(self) -> int:
        """The signed number: 0, 1, 2, or -1 for None."""

    def __eq__(self, other: object, /) -> bool:
        """Same colour, or ``int(self) == other`` for an integer."""

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``."""

@final
class PieceType:
    """A kind of piece, numbered 0 (``None``) to 14; a promoted kind is its kind + 6.

    The Bishop is spelled ``Bichop``. The member ``None`` (number 0) is reached
    as ``getattr(PieceType, "None")`` or ``PieceType(0)``. Compares equal to
    members and to non-negative integers; unhashable.
    """

    King: ClassVar[PieceType]
    Gold: ClassVar[PieceType]
    Rook: ClassVar[PieceType]
    Bichop: ClassVar[PieceType]
    Silver: ClassVar[PieceType]
    Knight: ClassVar[PieceType]
    Lance: ClassVar[PieceType]
    Pawn: ClassVar[PieceType]
    Dragon: ClassVar[PieceType]
    Horse: ClassVar[PieceType]
    ProSilver: ClassVar[PieceType]
    ProKnight: ClassVar[PieceType]
    ProLance: ClassVar[PieceType]
    ProPawn: ClassVar[PieceType]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, value: int) -> PieceType:
        """The kind numbered 1 to 14; 0 and 15 to 255 give None; else OverflowError."""

    @property
    def name(self) -> str:
        """The member name, for example "Dragon"."""

    @property
    def value(self) -> int:
        """The number, 0 to 14."""

    def __int__(self) -> int:
        """The number, 0 to 14."""

    def __eq__(self, other: object, /) -> bool:
        """Same kind, or ``int(self) == other`` for a non-negative integer."""

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``."""

@final
class Piece:
    """A kind with an owner; any combination is allowed. Unhashable."""

    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, owner: ColorType, piece_type: PieceType) -> Piece:
        """A piece of kind ``piece_type`` owned by ``owner``."""

    @property
    def owner(self) -> ColorType:
        """The owner (a new ColorType on every read)."""

    @owner.setter
    def owner(self, value: ColorType) -> None: ...
    @property
    def piece_type(self) -> PieceType:
        """The kind (a new PieceType on every read)."""

    @piece_type.setter
    def piece_type(self, value: PieceType) -> None: ...
    def __eq__(self, other: object, /) -> bool:
        """Same kind and owner; False for anything that is not a Piece."""

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``."""

@final
class Move:
    """One move in 16 bits: a board move or a drop. Immutable, unhashable.

    Move text: ``7c7d`` (from column 7 row 3 to column 7 row 4), ``7c7d+``
    (promoting), ``P*5e`` (a Black Pawn dropped on column 5 row 5; lower case
    for White). ``str(move)`` is ``Move(csa=7c7d)``.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(
        cls,
        csa: str | None = None,
        from_address: Address | None = None,
        to_address: Address | None = None,
        promote: bool = False,
        piece: Piece | None = None,
    ) -> Move:
        """A move read from move text ``csa``, or built from its parts.

        ``csa`` wins over everything else; otherwise ``from_address`` with
        ``to_address`` (and ``promote``) makes a board move, ``piece`` with
        ``to_address`` a drop, and nothing the value 0. Text shorter than 4
        bytes, or an address without ``to_address``, raises PanicException.
        """

    def is_drop(self) -> bool:
        """True for a drop."""

    def is_promote(self) -> bool:
        """True for a promoting board move."""

    def get_from(self) -> Address:
        """The square the piece leaves (meaningless for a drop)."""

    def get_to(self) -> Address:
        """The square the piece arrives on."""

    def get_piece(self) -> Piece:
        """The dropped piece (meaningless for a board move)."""

    def __eq__(self, other: object, /) -> bool:
        """Same 16-bit value; False for anything that is not a Move."""

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``."""

@final
class Hand:
    """The pieces in hand of both players: 16 labelled counters. Unhashable.

    Slot = colour * 8 + kind - 1 for Black or White and King to Pawn; kind None
    uses slot 0. Any other colour, or a White promoted kind, raises
    PanicException.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls) -> Hand:
        """An empty hand."""

    @property
    def pieces(self) -> list[Piece]:
        """The 16 slot labels: Black King to Black Pawn, White King to White Pawn.

        Assign a sequence of exactly 16 Pieces to replace them.
        """

    @pieces.setter
    def pieces(self, value: Sequence[Piece]) -> None: ...
    @property
    def counts(self) -> list[int]:
        """The 16 counters, in slot order.

        Assign a sequence of exactly 16 ints, 0 to 255, to replace them.
        """

    @counts.setter
    def counts(self, value: Sequence[int]) -> None: ...
    def add_piece(self, color_type: ColorType, piece_type: PieceType) -> None:
        """Adds one to the counter of the piece (modulo 256)."""

    def add_pieces(self, color_type: ColorType, piece_type: PieceType, count: int) -> None:
        """Adds ``count`` (0 to 255) to the counter of the piece (modulo 256)."""

    def decrease_piece(self, color_type: ColorType, piece_type: PieceType) -> None:
        """Takes one from the counter of the piece; a counter of 0 stays 0."""

    def get_player_pieces(self, color_type: ColorType) -> list[Piece]:
        """One label per kind the player holds, King to Pawn."""

    def __eq__(self, other: object, /) -> bool:
        """Same labels and counts; False for anything that is not a Hand."""

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``."""

@final
class Board:
    """A position: pieces on the board and in hand. Unhashable.

    ``str(board)`` is ``Board(sfen=`` + the board field + ``)``; the hand is
    not written.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, sfen: str = ...) -> Board:
        """A position read from a board field and an optional hand field.

        The default text is "startpos", the start position. Not a full SFEN
        line: the second field is the hand, promoted pieces are not read, hand
        counts are one digit. A hand field ending in a digit raises
        PanicException.
        """

    def deploy(self, address: Address, piece_type: PieceType, color: ColorType) -> None:
        """Puts a piece on a square, replacing what stood there (no capture)."""

    def startpos(self) -> None:
        """Sets the 40 start squares and empties the hand; other squares stay."""

    def get_piece(self, address: Address) -> Piece:
        """The piece on a square; kind None and owner None when it is empty."""

    def search_moves(self, color: ColorType) -> list[Move]:
        """Every pseudo-legal move of ``color``: board moves, then drops.

        A colour other than Black or White raises PanicException.
        """

    def execute_move(self, moves: Move) -> None:
        """Plays one move, unchecked: captures go to the captor's hand."""

    def is_finished(self) -> tuple[bool, ColorType]:
        """``(finished, winner)``: finished unless exactly two Kings are on the board.

        A tuple is always true: test ``board.is_finished()[0]``.
        """

    def __eq__(self, other: object, /) -> bool:
        """Same pieces, hands and masks; False for anything that is not a Board."""

    def __ne__(self, other: object, /) -> bool:
        """The negation of ``==``."""

@final
class Game:
    """A position with its move number, side to move and winner. Hashable by identity."""

    def __new__(
        cls,
        board: Board = ...,
        move_number: int = 1,
        turn: ColorType = ...,
        winner: ColorType = ...,
    ) -> Game:
        """A game; by default the start position, move 1, Black to move, winner None."""

    @property
    def board(self) -> Board:
        """A copy of the position; assigning copies a Board in."""

    @board.setter
    def board(self, value: Board) -> None: ...
    @property
    def move_number(self) -> int:
        """The move number, 0 to 65535; the game is over from 500 on."""

    @move_number.setter
    def move_number(self, value: int) -> None: ...
    @property
    def turn(self) -> ColorType:
        """The side to move."""

    @turn.setter
    def turn(self, value: ColorType) -> None: ...
    @property
    def winner(self) -> ColorType:
        """The winner; random_play sets it when it ends the game. None by default."""

    @winner.setter
    def winner(self, value: ColorType) -> None: ...
    def input_board(self, sfen: str) -> None:
        """Lays a board field over the position; squares it skips keep their pieces.

        "startpos" lays the start position and empties the hand.
        """

    def input_hand(self, sfen: str) -> None:
        """Adds a hand field ("-" or empty for none) to the hand.

        A field ending in a digit raises PanicException.
        """

    def input_move_number(self, sfen: str) -> None:
        """Sets the move number from decimal text; unreadable text gives 0."""

    def input_turn(self, sfen: str) -> None:
        """Sets the side to move: "b" Black, "w" White, anything else None."""

    def is_finished(self) -> tuple[bool, ColorType]:
        """``(finished, winner)``: ``(True, None)`` from move 500, else the board's King test.

        Does not read or write ``winner``. A tuple is always true: test
        ``game.is_finished()[0]``.
        """

    def execute_move(self, moves: Move) -> None:
        """Plays one move unchecked, adds one to the move number and switches the turn."""

    def random_play(self) -> Game:
        """Plays uniformly random moves to the end of the game and returns a copy.

        Changes this game in place and records the winner; a side to move
        without any move loses. Not seedable, not reproducible.
        """
