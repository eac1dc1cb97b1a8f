"""Shogi diagrams of komaban positions, as SVG (the `komaban-svg` command).

``board_svg(position)`` draws a Board or a Game the way shogi diagrams are
printed: from Black's side, USI file 9 on the left and rank a at the top, so
komaban's column 1 is on the left and its row 9 at the top (komaban's board is
USI's turned half a turn). Pieces are their usual kanji, White's upside down;
both hands stand beside the board with their counts, White's at the top left
and Black's at the bottom right. The image is plain SVG, text and shapes only,
with no dependencies. Each piece on the board carries its square and SFEN
letter as data attributes (data-square, data-piece), each hand item its letter
and count, so that programs (the replay page's tests) can read what is drawn.

In IPython or Jupyter, ``register()`` makes a Board or a Game that ends a cell
show its diagram.

Usage:

    komaban-svg "<SFEN line or komaban board text>" -o board.svg
        [--coordinates komaban|usi|both] [--letters] [--size PIXELS]

The position is a standard SFEN line (board, side to move, hand, move number)
or komaban board text: a board field and an optional hand field. Either may
start with "startpos" for the start position's board field; promoted pieces
("+R") are read in both. Bad input gets a one-line error and exit status 2.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Iterator
from pathlib import Path
from typing import TYPE_CHECKING, Literal
from xml.sax.saxutils import escape

from komaban import Address, Board, ColorType, Game, Move, Piece, PieceType

from .notation import (
    START_BOARD,
    hand_counts,
    is_none,
    load_sfen,
    sfen_letter,
    square_text,
    turn_square,
)

if TYPE_CHECKING:
    from IPython.core.interactiveshell import InteractiveShell

Coordinates = Literal["komaban", "usi", "both"]
COORDINATES: tuple[Coordinates, ...] = ("komaban", "usi", "both")

# Glyphs indexed by int(PieceType): None, King, Gold, Rook, Bishop, Silver, Knight,
# Lance, Pawn, then the promoted Rook (Dragon) to the promoted Pawn.
KANJI = ["", "玉", "金", "飛", "角", "銀", "桂", "香", "歩", "龍", "馬", "全", "圭", "杏", "と"]
WHITE_KING = "王"
NAMES = ["", "King", "Gold", "Rook", "Bishop", "Silver", "Knight", "Lance", "Pawn"]
NAMES += ["Dragon", "Horse", "ProSilver", "ProKnight", "ProLance", "ProPawn"]
RANK_KANJI = "一二三四五六七八九"
# Hand pieces in the order diagrams list them (King only after a capture of one).
HAND_ORDER = [PieceType.King, PieceType.Rook, PieceType.Bichop, PieceType.Gold]
HAND_ORDER += [PieceType.Silver, PieceType.Knight, PieceType.Lance, PieceType.Pawn]

# Layout in user units: squares of 40, a band of labels on each side of the
# board, a column for each hand outside them, and a caption line for a Game.
SQUARE = 40
BAND = 28
HAND = 52
LEFT = HAND + BAND
TOP = BAND
WIDTH = 2 * (HAND + BAND) + 9 * SQUARE
CAPTION = 24

BOARD_FILL = "#f3d9a4"
HIGHLIGHT_FILL = "#b5d88a"
PIECE_FILL = "#fdf5e2"
INK = "#222222"
PROMOTED_INK = "#b3261e"
KOMABAN_INK = "#1f5fa8"
KANJI_FONTS = (
    "'Hiragino Mincho ProN', 'Yu Mincho', YuMincho, 'MS Mincho', 'Noto Serif CJK JP', "
    "'Noto Serif JP', 'Source Han Serif JP', IPAexMincho, IPAMincho, 'Noto Sans CJK JP', "
    "'Hiragino Sans', 'Yu Gothic', 'Droid Sans Fallback', serif"
)
LATIN_FONTS = "'DejaVu Sans', Verdana, Arial, Helvetica, sans-serif"
# A piece's five-sided outline pointing up, in units of a square, about its centre.
TOKEN = [(0, -0.44), (0.31, -0.31), (0.39, 0.43), (-0.39, 0.43), (-0.31, -0.31)]


def cell(column: int, row: int) -> tuple[float, float]:
    """Top left corner of komaban's square (column, row) in the drawing.

    Column 1 is on the left (USI file 9) and row 9 at the top (USI rank a).
    """
    return LEFT + (column - 1) * SQUARE, TOP + (9 - row) * SQUARE


def _token(cx: float, cy: float, scale: float, white: bool) -> str:
    """The points of a piece's outline centred on (cx, cy): Black's points up, White's down."""
    s = SQUARE * scale * (-1 if white else 1)
    return " ".join(f"{cx + x * s:.1f},{cy + y * s:.1f}" for x, y in TOKEN)


def _piece(
    cx: float,
    cy: float,
    piece: Piece,
    *,
    letters: bool,
    scale: float = 1.0,
    title: str = "",
    square: str = "",
) -> Iterator[str]:
    """A piece centred on (cx, cy): a five-sided token pointing at the opponent, and its glyph.

    A piece on the board is marked with its square and SFEN letter (data-square,
    data-piece), for programs that read the drawing.
    """
    white = piece.owner != ColorType.Black
    kind = int(piece.piece_type)
    s = SQUARE * scale
    data = f' data-square="{square}" data-piece="{sfen_letter(piece)}"' if square else ""
    yield f'<g class="piece {"white" if white else "black"}"{data}>'
    if title:
        yield f"<title>{escape(title)}</title>"
    yield (
        f'<polygon points="{_token(cx, cy, scale, white)}" fill="{PIECE_FILL}" '
        f'stroke="#8a6d3b" stroke-width="{scale:.2f}"/>'
    )
    ink = PROMOTED_INK if kind > 8 else INK
    if letters:
        glyph = sfen_letter(piece)
        size = s * (0.36 if len(glyph) > 1 else 0.46)
        yield (
            f'<text class="glyph" x="{cx:g}" y="{cy + 0.04 * s + 0.36 * size:.1f}" '
            f'font-family="{LATIN_FONTS}" font-size="{size:.1f}" font-weight="bold" '
            f'text-anchor="middle" fill="{ink}">{escape(glyph)}</text>'
        )
    else:
        glyph = WHITE_KING if white and kind == 1 else KANJI[kind]
        size = s * 0.6
        # The outline is wider at its base, so the glyph sits a little below the
        # centre; White's is turned half a turn about the same point.
        rotate = f' transform="rotate(180 {cx:g} {cy:g})"' if white else ""
        yield (
            f'<text class="glyph" x="{cx:g}" y="{cy + 0.05 * s + 0.36 * size:.1f}" '
            f'font-family="{KANJI_FONTS}" font-size="{size:.1f}" text-anchor="middle" '
            f'fill="{ink}"{rotate}>{glyph}</text>'
        )
    yield "</g>"


def _label(x: float, y: float, text: str, small: str, kind: str, ink: str, anchor: str) -> str:
    """A coordinate label at (x, y): its main text, then a smaller second part."""
    tail = f'<tspan font-size="10">{small}</tspan>' if small else ""
    return (
        f'<text class="label {kind}" x="{x:g}" y="{y:g}" font-family="{LATIN_FONTS}" '
        f'font-size="14" text-anchor="{anchor}" fill="{ink}">{text}{tail}</text>'
    )


def _coordinates(coordinates: Coordinates) -> Iterator[str]:
    """USI files above and ranks right of the board, komaban's columns below and rows left."""
    bottom, right = TOP + 9 * SQUARE, LEFT + 9 * SQUARE
    for n in range(1, 10):
        x = cell(n, 1)[0] + SQUARE / 2
        y = cell(1, n)[1] + SQUARE / 2 + 5
        # turn_square gives the USI square of komaban's square (n, n): file and rank.
        usi = turn_square(square_text(n, n))
        if coordinates in ("usi", "both"):
            yield _label(x, TOP - 8, usi[0], "", "usi-file", INK, "middle")
            rank = RANK_KANJI[ord(usi[1]) - ord("a")]
            yield _label(right + 4, y, rank, usi[1], "usi-rank", INK, "start")
        if coordinates in ("komaban", "both"):
            yield _label(x, bottom + 18, str(n), "", "komaban-column", KOMABAN_INK, "middle")
            letter = square_text(n, n)[1]
            yield _label(LEFT - 5, y, str(n), letter, "komaban-row", KOMABAN_INK, "end")
    if coordinates == "both":
        corner = f'font-family="{LATIN_FONTS}" font-size="10" text-anchor="middle"'
        yield f'<text {corner} x="{right + BAND / 2:g}" y="{TOP - 8}" fill="{INK}">USI</text>'
        yield (
            f'<text {corner} x="{LEFT - BAND / 2:g}" y="{bottom + 18}" '
            f'fill="{KOMABAN_INK}">komaban</text>'
        )


def _hand(color: ColorType, counts: list[int], *, letters: bool) -> Iterator[str]:
    """A hand as a column of pieces with their counts, headed by an outline in the
    player's colour: White's from the top left, Black's down to the bottom right."""
    black = color == ColorType.Black
    held = [(kind, counts[int(kind) - 1]) for kind in HAND_ORDER if counts[int(kind) - 1]]
    x = WIDTH - HAND / 2 - 6 if black else HAND / 2 - 6
    y = TOP + 9 * SQUARE - (len(held) + 0.5) * SQUARE if black else TOP + SQUARE / 2
    side = "black" if black else "white"
    yield f'<g class="hand {side}" data-hand="{color.name}">'
    yield (
        f'<polygon class="owner" points="{_token(x, y, 0.5, not black)}" '
        f'fill="{INK if black else "#ffffff"}" stroke="{INK}"/>'
    )
    for kind, count in held:
        y += SQUARE
        letter = sfen_letter(Piece(color, kind))
        yield f'<g class="hand-item" data-piece="{letter}" data-count="{count}">'
        title = f"{color.name} {NAMES[int(kind)]} in hand: {count}"
        yield from _piece(x, y, Piece(color, kind), letters=letters, scale=0.8, title=title)
        if count > 1:
            yield (
                f'<text class="count" x="{x + 0.5 * SQUARE:g}" y="{y + 0.38 * SQUARE:g}" '
                f'font-family="{LATIN_FONTS}" font-size="13" font-weight="bold" '
                f'text-anchor="middle" fill="{INK}">{count}</text>'
            )
        yield "</g>"
    yield "</g>"


def board_svg(
    position: Board | Game,
    *,
    coordinates: Coordinates = "komaban",
    last_move: Move | None = None,
    letters: bool = False,
    size: int = WIDTH,
) -> str:
    """An SVG diagram of a Board or a Game, seen from Black's side.

    coordinates: "komaban" labels komaban's columns (below) and rows (left),
    "usi" the standard files (above) and ranks (right, in kanji), "both" all four
    edges. last_move: its squares are highlighted. letters: Latin letters (upper
    case Black, lower case White) instead of kanji. size: the width in pixels.
    A Game also gets a caption: the move number and the side to move, or the winner.
    """
    if coordinates not in COORDINATES:
        raise ValueError(f"coordinates must be one of {', '.join(COORDINATES)}: {coordinates!r}")
    if size < 1:
        raise ValueError(f"the size must be at least 1 pixel, not {size}")
    if isinstance(position, Game):
        board, game = position.board, position
    else:
        board, game = position, None
    height = TOP + 9 * SQUARE + BAND + (CAPTION if game is not None else 0)
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" '
        f'height="{round(size * height / WIDTH)}" viewBox="0 0 {WIDTH} {height}">',
        f'<rect width="{WIDTH}" height="{height}" fill="#ffffff"/>',
        f'<rect class="board" x="{LEFT}" y="{TOP}" width="{9 * SQUARE}" height="{9 * SQUARE}" '
        f'fill="{BOARD_FILL}"/>',
    ]
    if last_move is not None:
        if last_move.is_drop():
            squares = [last_move.get_to()]
        else:
            squares = [last_move.get_from(), last_move.get_to()]
        for address in squares:
            if not (1 <= address.column <= 9 and 1 <= address.row <= 9):
                raise ValueError(f"last move {last_move} leaves the board")
            x, y = cell(address.column, address.row)
            text = square_text(address.column, address.row)
            out.append(
                f'<rect class="highlight" x="{x}" y="{y}" width="{SQUARE}" height="{SQUARE}" '
                f'fill="{HIGHLIGHT_FILL}" data-square="{text}"/>'
            )
    # The grid, its frame and the four star points.
    for n in range(1, 9):
        out.append(
            f'<line x1="{LEFT + n * SQUARE}" y1="{TOP}" x2="{LEFT + n * SQUARE}" '
            f'y2="{TOP + 9 * SQUARE}" stroke="{INK}" stroke-width="1"/>'
        )
        out.append(
            f'<line x1="{LEFT}" y1="{TOP + n * SQUARE}" x2="{LEFT + 9 * SQUARE}" '
            f'y2="{TOP + n * SQUARE}" stroke="{INK}" stroke-width="1"/>'
        )
    out.append(
        f'<rect x="{LEFT}" y="{TOP}" width="{9 * SQUARE}" height="{9 * SQUARE}" fill="none" '
        f'stroke="{INK}" stroke-width="2"/>'
    )
    for x in (3, 6):
        for y in (3, 6):
            out.append(
                f'<circle class="star" cx="{LEFT + x * SQUARE}" cy="{TOP + y * SQUARE}" r="3" '
                f'fill="{INK}"/>'
            )
    for row in range(9, 0, -1):
        for column in range(1, 10):
            piece = board.get_piece(Address(column, row))
            if is_none(piece.piece_type):
                continue
            x, y = cell(column, row)
            text = square_text(column, row)
            title = f"{piece.owner.name} {NAMES[int(piece.piece_type)]} on {text}"
            title += f" (USI {turn_square(text)})"
            centre = (x + SQUARE / 2, y + SQUARE / 2)
            out.extend(_piece(*centre, piece, letters=letters, title=title, square=text))
    out.extend(_coordinates(coordinates))
    counts = hand_counts(board)
    for color in (ColorType.White, ColorType.Black):
        out.extend(_hand(color, counts[color.name], letters=letters))
    if game is not None:
        caption = f"move {game.move_number}"
        if not is_none(game.winner):
            caption += f" · {game.winner.name} won"
        elif not is_none(game.turn):
            caption += f" · {game.turn.name} to move"
        # The caption's data attributes give the same facts to programs.
        data = (
            f'data-move-number="{game.move_number}" data-turn="{game.turn.name}" '
            f'data-winner="{game.winner.name}"'
        )
        out.append(
            f'<text class="caption" x="{WIDTH / 2:g}" y="{height - 8}" font-family="{LATIN_FONTS}" '
            f'font-size="14" text-anchor="middle" fill="{INK}" {data}>{escape(caption)}</text>'
        )
    out.append("</svg>")
    return "\n".join(out) + "\n"


def register(
    shell: InteractiveShell | None = None,
    *,
    coordinates: Coordinates = "komaban",
    letters: bool = False,
    size: int = WIDTH,
) -> None:
    """Makes a Board or a Game that ends a notebook cell show its diagram.

    Installs board_svg, with these options, as IPython's SVG formatter for
    Board and Game in the running IPython (a Jupyter kernel or the IPython
    shell), or in ``shell``; komaban itself is not changed. Calling it again
    replaces the options. Raises RuntimeError outside IPython, ValueError for
    a bad option.
    """
    if shell is None:
        from IPython import get_ipython

        shell = get_ipython()
        if shell is None:
            raise RuntimeError("register() needs IPython: call it in a notebook or IPython shell")
    board_svg(Board(), coordinates=coordinates, letters=letters, size=size)  # checks the options

    def draw(position: Board | Game) -> str:
        return board_svg(position, coordinates=coordinates, letters=letters, size=size)

    if shell.display_formatter is None:
        raise RuntimeError("this IPython shell has no display formatter")
    formatter = shell.display_formatter.formatters["image/svg+xml"]
    formatter.for_type(Board, draw)
    formatter.for_type(Game, draw)


def read_position(text: str) -> Board | Game:
    """A Game from a standard SFEN line, or a Board from komaban board text.

    Raises ValueError for text that is neither.
    """
    fields = text.split()
    if fields[:1] == ["startpos"]:
        fields[0] = START_BOARD
    if len(fields) == 4:
        return load_sfen(" ".join(fields))
    if len(fields) not in (1, 2):
        raise ValueError(
            "expected a standard SFEN line (4 fields) or komaban board text "
            f"(a board field and an optional hand field), got {len(fields)} fields"
        )
    hand = fields[1] if len(fields) == 2 else "-"
    return load_sfen(f"{fields[0]} b {hand} 1").board


def main(argv: list[str] | None = None) -> int:
    """The `komaban-svg` command."""
    parser = argparse.ArgumentParser(
        prog="komaban-svg", description="Draws a shogi position as an SVG diagram."
    )
    parser.add_argument("position", help="a standard SFEN line, or komaban board text")
    parser.add_argument("-o", "--output", default="-", help="SVG file (default: standard output)")
    parser.add_argument("--coordinates", choices=COORDINATES, default="komaban")
    parser.add_argument("--letters", action="store_true", help="Latin letters instead of kanji")
    parser.add_argument(
        "--size", type=int, default=WIDTH, help=f"width in pixels (default {WIDTH})"
    )
    args = parser.parse_args(argv)
    try:
        position = read_position(args.position)
        svg = board_svg(
            position, coordinates=args.coordinates, letters=args.letters, size=args.size
        )
    except ValueError as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 2
    if args.output == "-":
        sys.stdout.buffer.write(svg.encode())
        return 0
    try:
        Path(args.output).write_text(svg, encoding="utf-8")
    except OSError as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
