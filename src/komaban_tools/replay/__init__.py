"""A replay page for a shogi game: one HTML file that steps through it.

`write_replay(record, page)` reads a game record (CSA, KIF, or a start
position and USI moves: see `komaban_tools.records`) and writes a page that
shows the game move by move, each position drawn by `komaban_tools.svg`'s
`board_svg`: the board with the last move highlighted, both hands, the move
number and the side to move. Beside it the move list in USI text, the
current move marked; a click on a move goes there. The first, previous, next
and last buttons, the arrow keys (left and right step, up and down go to the
start and the end, as do Home and End) and a slider move through the game.
The page is self-contained: no network access, no other file; its content
security policy forbids loading anything.

Each position's diagram is split into lines; the page holds each distinct
line once and each position as a list of line numbers, so a 300-move game
takes well under 1 MB.

The `komaban-replay` command (`python -m komaban_tools.replay`):

    komaban-replay GAME -o game.html [--notation usi|komaban] [--game N]
        [--coordinates komaban|usi|both] [--letters] [--title TEXT]

GAME is a file, or "-" for standard input; --game picks a game of a CSA file
holding several (separated by "/" lines). Bad input gets a one-line error
naming the line or the move, and exit status 2.
"""

from __future__ import annotations

import argparse
import html
import json
import sys
from collections.abc import Sequence
from importlib.resources import files
from pathlib import Path
from string import Template

from komaban import Board, ColorType, Game, Move

from ..notation import is_none, side_name, usi_text
from ..records import (
    NOTATIONS,
    Notation,
    Record,
    RecordError,
    decode,
    positions,
    read_file,
    read_record,
)
from ..svg import COORDINATES, Coordinates, board_svg

# The page loads nothing: only its own style and script run (and the empty icon,
# which keeps the browser from asking for /favicon.ico).
POLICY = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:"


def _asset(name: str) -> str:
    return files(__package__).joinpath(name).read_text(encoding="utf-8")


def replay_html(
    start: Game,
    moves: Sequence[Move],
    *,
    title: str = "Shogi game",
    result: str = "",
    coordinates: Coordinates = "usi",
    letters: bool = False,
) -> str:
    """The replay page of the game from `start` through `moves`, as HTML text.

    Each move is checked as the readers check them (RecordError names the first
    that komaban does not list). result: how the game ended, if the record says.
    coordinates and letters are board_svg's. The move list is in USI text.
    """
    games = positions(start, moves)
    diagrams = [board_svg(games[0], coordinates=coordinates, letters=letters)]
    diagrams += [
        board_svg(game, coordinates=coordinates, letters=letters, last_move=move)
        for game, move in zip(games[1:], moves, strict=True)
    ]
    table: dict[str, int] = {}
    plies = [[table.setdefault(line, len(table)) for line in svg.splitlines()] for svg in diagrams]
    data = json.dumps({"lines": list(table), "plies": plies}, ensure_ascii=False)
    # "<" written as an escape: nothing in the data can end the script element.
    data = data.replace("<", "\\u003c")
    entries = []
    for ply, (game, move) in enumerate(zip(games, moves, strict=False), 1):
        mark = "☗" if game.turn == ColorType.Black else "☖"
        entries.append(
            f'<li value="{game.move_number}"><button type="button" class="move" '
            f'data-ply="{ply}">{mark}{usi_text(move)}</button></li>'
        )
    end = games[-1]
    if start.board == Board() and start.turn == ColorType.Black:
        origin = "the start position"
    else:
        origin = f"a position at move {start.move_number}, {side_name(start.turn)} to move"
    about = [f"{len(moves)} moves from {origin}"]
    if result:
        about.append(result)
    if not is_none(end.winner):
        about.append(f"{side_name(end.winner)} won")
    return Template(_asset("page.html")).substitute(
        policy=POLICY,
        title=html.escape(title),
        about=html.escape(" · ".join(about)),
        style=_asset("page.css"),
        moves="\n".join(entries),
        last=len(moves),
        data=data,
        script=_asset("page.js"),
    )


def write_replay(
    record: str | Path,
    page: str | Path,
    *,
    notation: Notation = "usi",
    game: int = 1,
    title: str = "",
    coordinates: Coordinates = "usi",
    letters: bool = False,
) -> Record:
    """Reads a record file and writes its page; returns the record.

    The title defaults to the players' names of the record, else the file's
    name. Raises RecordError for a record that cannot be replayed, OSError for
    a file that cannot be read or written.
    """
    read = read_file(record, notation, game)
    text = replay_html(
        read.start,
        read.moves,
        title=title or read.title,
        result=read.result,
        coordinates=coordinates,
        letters=letters,
    )
    Path(page).write_text(text, encoding="utf-8")
    return read


def main(argv: list[str] | None = None) -> int:
    """The `komaban-replay` command."""
    parser = argparse.ArgumentParser(
        prog="komaban-replay", description="Writes a page that replays a shogi game move by move."
    )
    parser.add_argument(
        "record",
        metavar="GAME",
        help='a CSA or KIF record, or a start position and moves ("-": standard input)',
    )
    parser.add_argument("-o", "--output", required=True, help="the HTML file to write")
    parser.add_argument(
        "--notation", choices=NOTATIONS, default="usi", help="move text of a move list (usi)"
    )
    parser.add_argument(
        "--game", dest="game_number", type=int, default=1, help="which game of a CSA file (1)"
    )
    parser.add_argument("--title", default="", help="the page's title")
    parser.add_argument("--coordinates", choices=COORDINATES, default="usi")
    parser.add_argument("--letters", action="store_true", help="Latin letters instead of kanji")
    args = parser.parse_args(argv)
    name = "standard input" if args.record == "-" else Path(args.record).name
    try:
        if args.record == "-":
            text = decode(sys.stdin.buffer.read())
        else:
            text = decode(Path(args.record).read_bytes())
        read = read_record(text, args.notation, args.game_number, name)
        page = replay_html(
            read.start,
            read.moves,
            title=args.title or read.title,
            result=read.result,
            coordinates=args.coordinates,
            letters=args.letters,
        )
    except (OSError, RecordError) as error:
        message = error.strerror if isinstance(error, OSError) and error.strerror else error
        print(f"{parser.prog}: error: {name}: {message}", file=sys.stderr)
        return 2
    try:
        Path(args.output).write_text(page, encoding="utf-8")
    except OSError as error:
        print(f"{parser.prog}: error: {args.output}: {error.strerror or error}", file=sys.stderr)
        return 1
    return 0
