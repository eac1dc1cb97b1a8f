"""A replay page for a shogi game: one HTML file that steps through it.

``write_replay(record, page)`` reads a game record and writes a page that
shows the game move by move, each position drawn by ``board_svg`` of
examples/diagram.py (the same drawing as the diagrams): the board with the last
move highlighted, both hands, the move number and the side to move. Beside it
the move list in USI text, the current move marked; a click on a move goes
there. The first, previous, next and last buttons, the arrow keys (left and
right step, up and down go to the start and the end, as do Home and End) and a
slider move through the game. The page is self-contained: no network access,
no other file; its content security policy forbids loading anything.

A record is a CSA file (as cshogi.cli and shogi servers write them), or a
start position and a move list:

    startpos moves 7g7f 3c3d 8h2b+
    position sfen lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1 moves 7g7f

The start is ``startpos`` or a standard SFEN line, optionally after ``sfen``,
the whole optionally after ``position`` (a USI command); ``moves`` before the
moves is optional, and so is the start (``startpos`` then). Moves are USI text,
or komaban's with ``notation="komaban"``. Every move must be one that komaban
lists in its position (``Board.search_moves``); none may follow the capture of
a King. A record that breaks a rule raises ReplayError, which names the move
(counted from 1 in the record) or the line.

Each position's diagram is split into lines; the page holds each distinct line
once and each position as a list of line numbers, so a 300-move game takes
well under 1 MB.

Usage:
    python examples/replay.py GAME -o game.html [--notation usi|komaban] [--game N]
        [--coordinates komaban|usi|both] [--letters] [--title TEXT]

GAME is a file, or "-" for standard input; --game picks a game of a CSA file
holding several (separated by "/" lines). Bad input gets a one-line error
naming the line or the move, and exit status 2.
"""

from __future__ import annotations

import argparse
import html
import json
import re
import sys
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from pathlib import Path
from string import Template
from typing import Literal

from diagram import COORDINATES, LETTERS, Coordinates, board_svg, is_none
from notation import komaban_to_usi, load_sfen, turn_square, usi_to_komaban

from komaban import Address, Board, ColorType, Game, Move

Notation = Literal["usi", "komaban"]
NOTATIONS: tuple[Notation, ...] = ("usi", "komaban")
START_SFEN = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"

USI_MOVE = re.compile(r"[1-9][a-i][1-9][a-i]\+?|[RBGSNLP]\*[1-9][a-i]")
KOMABAN_MOVE = re.compile(r"[1-9][a-i][1-9][a-i]\+?|[RBGSNLPrbgsnlp]\*[1-9][a-i]")
CSA_MOVE = re.compile(r"([+-])([0-9])([0-9])([1-9])([1-9])([A-Z]{2})")
# CSA's piece codes by int(PieceType): King, Gold, Rook, Bishop, Silver, Knight,
# Lance, Pawn, then the promoted Rook (Dragon) to the promoted Pawn.
CSA_PIECES = ["", "OU", "KI", "HI", "KA", "GI", "KE", "KY", "FU"]
CSA_PIECES += ["RY", "UM", "NG", "NK", "NY", "TO"]
# A kind that promotes (Rook to Pawn) becomes this many numbers higher.
PROMOTION = 6
# All the pieces of a game but the Kings, by SFEN letter: what "00AL" hands out.
PIECE_SET = {"R": 2, "B": 2, "G": 4, "S": 4, "N": 4, "L": 4, "P": 18}
# How a CSA record's special moves end a game; {mover} is the side to move.
ENDINGS = {
    "%TORYO": "{mover} resigned",
    "%CHUDAN": "the game was interrupted",
    "%SENNICHITE": "draw by repetition",
    "%TIME_UP": "{mover} ran out of time",
    "%ILLEGAL_MOVE": "{mover} made an illegal move",
    "%+ILLEGAL_ACTION": "Black lost by an illegal action",
    "%-ILLEGAL_ACTION": "White lost by an illegal action",
    "%JISHOGI": "impasse",
    "%KACHI": "{mover} declared a win",
    "%HIKIWAKE": "draw",
    "%MAX_MOVES": "move limit reached",
    "%TSUMI": "{mover} is checkmated",
    "%FUZUMI": "no mate",
}


class ReplayError(ValueError):
    """A record that cannot be replayed; the message names the move or the line."""


@dataclass
class Record:
    """A game read from a record: its start, its moves, and what the record says of it."""

    start: Game
    moves: list[Move]
    title: str = ""
    result: str = ""


def side_name(color: ColorType) -> str:
    return "Black" if color == ColorType.Black else "White"


def opponent(color: ColorType) -> ColorType:
    return ColorType.White if color == ColorType.Black else ColorType.Black


def check_move(game: Game, number: int, move: Move, text: str) -> None:
    """Raises ReplayError unless komaban lists the move for the side to move.

    number and text (the move as the record writes it) name the move in the message.
    """
    if game.board.is_finished()[0]:
        raise ReplayError(f"move {number}: {text} follows the end of the game (a King was taken)")
    if move not in game.board.search_moves(game.turn):
        raise ReplayError(
            f"move {number}: {text} is not a move komaban lists for {side_name(game.turn)}"
        )


def _usi(game: Game, number: int, text: str) -> str:
    if not USI_MOVE.fullmatch(text):
        raise ReplayError(f"move {number}: {text!r} is not USI move text")
    return usi_to_komaban(text, game.turn)


def _komaban(game: Game, number: int, text: str) -> str:
    if not KOMABAN_MOVE.fullmatch(text):
        raise ReplayError(f"move {number}: {text!r} is not komaban move text")
    return text


def _csa(game: Game, number: int, text: str) -> str:
    """komaban move text for a CSA move ("+7776FU"), read in the game's position."""
    match = CSA_MOVE.fullmatch(text)
    if not match or match[6] not in CSA_PIECES[1:]:
        raise ReplayError(f"move {number}: {text!r} is not a CSA move")
    sign, from_file, from_rank, to_file, to_rank, code = match.groups()
    if (sign == "+") != (game.turn == ColorType.Black):
        raise ReplayError(f"move {number}: {text} is not {side_name(game.turn)}'s move")
    kind = CSA_PIECES.index(code)
    to = turn_square(f"{to_file}{'abcdefghi'[int(to_rank) - 1]}")
    if from_file == from_rank == "0":
        if not 2 <= kind <= 8:
            raise ReplayError(f"move {number}: {text} drops a piece that cannot be dropped")
        letter = LETTERS[kind] if sign == "+" else LETTERS[kind].lower()
        return f"{letter}*{to}"
    if from_file == "0" or from_rank == "0":
        raise ReplayError(f"move {number}: {text!r} is not a CSA move")
    origin = turn_square(f"{from_file}{'abcdefghi'[int(from_rank) - 1]}")
    piece = game.board.get_piece(Address(int(origin[0]), ord(origin[1]) - ord("a") + 1))
    # CSA names the piece after the move: the piece there, or its promoted kind.
    there = int(piece.piece_type)
    promoted = there + PROMOTION if 3 <= there <= 8 else there
    if piece.owner != game.turn or kind not in (there, promoted):
        raise ReplayError(
            f"move {number}: {text} moves a {code} from {from_file}{from_rank}, "
            f"where no {side_name(game.turn)} piece of that kind stands"
        )
    return f"{origin}{to}{'+' if kind != there else ''}"


def play(start: Game, texts: Sequence[str], convert: Callable[[Game, int, str], str]) -> list[Move]:
    """The moves of a record, each converted to komaban text and checked in its position."""
    game, moves = copy_game(start), []
    for number, text in enumerate(texts, 1):
        move = Move(csa=convert(game, number, text))
        check_move(game, number, move, text)
        game.execute_move(move)
        moves.append(move)
    return moves


def copy_game(game: Game) -> Game:
    return Game(game.board, game.move_number, game.turn, game.winner)


def move_text(move: Move) -> str:
    """komaban's move text of a move: "7c7d", "7c7d+" or "P*5e"."""
    return str(move)[len("Move(csa=") : -1]


def positions(start: Game, moves: Sequence[Move]) -> list[Game]:
    """The game after 0, 1, ... all of the moves, each move checked in its position.

    The last position gets a winner as komaban's random play gives one: the
    side whose King is left when a King was taken, or the opponent of a side
    to move that has no move.
    """
    games = [copy_game(start)]
    for number, move in enumerate(moves, 1):
        game = copy_game(games[-1])
        check_move(game, number, move, komaban_to_usi(move_text(move)))
        game.execute_move(move)
        games.append(game)
    end = games[-1]
    finished, winner = end.board.is_finished()
    if finished and not is_none(winner):
        end.winner = winner
    elif not finished and not is_none(end.turn) and not end.board.search_moves(end.turn):
        end.winner = opponent(end.turn)
    return games


def read_moves(text: str, notation: Notation = "usi", title: str = "") -> Record:
    """A record of a start position and a move list (see the module's description)."""
    tokens = text.split()
    if tokens[:1] == ["position"]:
        tokens = tokens[1:]
    if tokens[:1] == ["startpos"]:
        sfen, tokens = START_SFEN, tokens[1:]
    elif tokens[:1] == ["sfen"] or (tokens and "/" in tokens[0]):
        fields = tokens[1:5] if tokens[0] == "sfen" else tokens[:4]
        tokens = tokens[len(fields) + (tokens[0] == "sfen") :]
        sfen = " ".join(fields)
    else:
        sfen = START_SFEN
    try:
        start = load_sfen(sfen)
    except ValueError as error:
        raise ReplayError(f"start position: {error}") from None
    if tokens[:1] == ["moves"]:
        tokens = tokens[1:]
    convert = _usi if notation == "usi" else _komaban
    return Record(start, play(start, tokens, convert), title)


def _csa_position(lines: list[tuple[int, str]]) -> str:
    """A standard SFEN line from CSA's position lines (PI, P1 to P9, P+ and P-, + or -)."""
    board: list[list[str]] = [[""] * 9 for _ in range(9)]  # [rank - 1][9 - file]
    hands = {"+": dict.fromkeys(PIECE_SET, 0), "-": dict.fromkeys(PIECE_SET, 0)}
    side, rest_to = "+", ""
    for number, line in lines:
        if line.startswith("PI"):
            # The start position, less the pieces named after it ("82HI": 8b's Rook).
            board = [_sfen_rank(rank) for rank in START_SFEN.split()[0].split("/")]
            if not re.fullmatch(r"([1-9]{2}[A-Z]{2})*", line[2:]):
                raise ReplayError(f"line {number}: {line!r} is not a CSA position line")
            for square in re.findall(r"([1-9]{2})[A-Z]{2}", line[2:]):
                board[int(square[1]) - 1][9 - int(square[0])] = ""
        elif re.fullmatch(r"P[1-9].*", line):
            # Nine squares of three characters; the blanks that end a row may be cut.
            squares = line[2:].ljust(27)
            if len(squares) > 27:
                raise ReplayError(f"line {number}: a board row of CSA has 9 squares")
            cells = [squares[i : i + 3] for i in range(0, 27, 3)]
            for column, text in enumerate(cells):
                board[int(line[1]) - 1][column] = _csa_piece(number, text)
        elif line[:2] in ("P+", "P-"):
            if not re.fullmatch(r"((00|[1-9]{2})[A-Z]{2})+", line[2:]):
                raise ReplayError(f"line {number}: {line!r} is not a CSA position line")
            for square, code in re.findall(r"(\d\d)([A-Z]{2})", line[2:]):
                if square == "00" and code == "AL":
                    rest_to = line[1]
                    continue
                letter = _csa_piece(number, line[1] + code)
                if square == "00":
                    if letter.upper() not in PIECE_SET:
                        raise ReplayError(f"line {number}: {code} cannot be in hand")
                    hands[line[1]][letter.upper()] += 1
                else:
                    board[int(square[1]) - 1][9 - int(square[0])] = letter
        elif line in ("+", "-"):
            side = line
    if rest_to:
        for letter, count in PIECE_SET.items():
            on_board = sum(cell.lstrip("+").upper() == letter for row in board for cell in row)
            held = hands["+"][letter] + hands["-"][letter]
            hands[rest_to][letter] += max(count - on_board - held, 0)
    ranks = []
    for row in board:
        field, empty = "", 0
        for cell in row:
            if cell:
                field += (str(empty) if empty else "") + cell
                empty = 0
            else:
                empty += 1
        ranks.append(field + (str(empty) if empty else ""))
    hand = "".join(
        (str(n) if n > 1 else "") + (letter if owner == "+" else letter.lower())
        for owner in "+-"
        for letter, n in hands[owner].items()
        if n
    )
    return f"{'/'.join(ranks)} {'b' if side == '+' else 'w'} {hand or '-'} 1"


def _sfen_rank(field: str) -> list[str]:
    """One rank of an SFEN board field (no promoted pieces) as 9 cells."""
    return [cell for ch in field for cell in ([""] * int(ch) if ch.isdigit() else [ch])]


def _csa_piece(number: int, text: str) -> str:
    """The SFEN letter of a CSA piece ("+FU" is "P", "-TO" is "+p"), "" for " * "."""
    if text.strip() in ("*", ""):
        return ""
    if text[0] not in "+-" or text[1:] not in CSA_PIECES[1:]:
        raise ReplayError(f"line {number}: {text!r} is not a CSA piece")
    letter = LETTERS[CSA_PIECES.index(text[1:])]
    return letter if text[0] == "+" else letter.lower()


def read_csa(text: str, game: int = 1, title: str = "") -> Record:
    """A record from a CSA file: the ``game``-th of its games (separated by "/" lines).

    Names (N+, N-) make the title; the special move that ends the game (such as
    %TORYO) makes the result. Comments, times and other information are skipped.
    """
    statements: list[list[tuple[int, str]]] = [[]]
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if line == "/":
            statements.append([])
        elif line and not line.startswith("'"):
            # A move and its time may share a line ("+7776FU,T12"); a name may hold commas.
            parts = line.split(",") if line[0] in "+-%" else [line]
            statements[-1].extend((number, part) for part in parts)
    if not 1 <= game <= len(statements):
        raise ReplayError(f"the record holds {len(statements)} games, not {game}")
    position: list[tuple[int, str]] = []
    names = {"+": "", "-": ""}
    texts: list[str] = []
    ending = ""
    for number, statement in statements[game - 1]:
        if statement.startswith("$") or re.fullmatch(r"V[\d.]+|T[\d.]*", statement):
            continue  # the version, information, a move's time
        if statement[:2] in ("N+", "N-"):
            names[statement[1]] = statement[2:].strip()
        elif ending:
            raise ReplayError(f"line {number}: {statement!r} follows the end of the game")
        elif statement.startswith("P") or (statement in ("+", "-") and not texts):
            if texts:
                raise ReplayError(f"line {number}: position lines must come before the moves")
            position.append((number, statement))
        elif CSA_MOVE.fullmatch(statement):
            texts.append(statement)
        elif re.fullmatch(r"%?[A-Z_+-]+", statement):
            ending = statement if statement.startswith("%") else "%" + statement
        else:
            raise ReplayError(f"line {number}: {statement!r} is not CSA")
    if not position:
        raise ReplayError("no start position: a CSA record has PI or P1 to P9 lines")
    sfen = _csa_position(position)
    try:
        start = load_sfen(sfen)
    except ValueError as error:
        raise ReplayError(f"start position: {error}") from None
    moves = play(start, texts, _csa)
    if names["+"] or names["-"]:
        title = f"☗ {names['+'] or '?'} – ☖ {names['-'] or '?'}"
    to_move = start.turn if len(moves) % 2 == 0 else opponent(start.turn)
    result = ENDINGS.get(ending, ending).format(mover=side_name(to_move))
    return Record(start, moves, title, result)


def is_csa(text: str) -> bool:
    """Whether text is a CSA record: its first statement is one of CSA's."""
    for line in text.splitlines():
        line = line.strip()
        if line and not line.startswith("'"):
            return bool(re.match(r"V\d|N[+-]|\$|P[I1-9+-]|[+-]$|[+-]\d{4}[A-Z]{2}", line))
    return False


def read_record(text: str, notation: Notation = "usi", game: int = 1, title: str = "") -> Record:
    """A CSA record or a start position with a move list, told apart by their text."""
    if is_csa(text):
        return read_csa(text, game, title)
    return read_moves(text, notation, title)


STYLE = """
body { margin: 0; background: #faf7f0; color: #222222;
  font-family: 'DejaVu Sans', Verdana, Arial, Helvetica, sans-serif; }
main { max-width: 880px; margin: 0 auto; padding: 12px 16px; }
h1 { font-size: 1.25rem; margin: 0 0 4px; }
header p { margin: 0 0 10px; color: #555555; font-size: 0.9rem; }
.replay { display: flex; flex-wrap: wrap; gap: 16px; align-items: flex-start; }
#board { flex: 1 1 400px; max-width: 560px; margin: 0; }
#board svg { display: block; width: 100%; height: auto; }
.moves { position: relative; flex: 1 1 200px; max-width: 260px; max-height: 470px;
  overflow-y: auto; background: #ffffff; border: 1px solid #d8cfbd; }
.moves ol { margin: 0; padding: 0 0 0 3.4em; }
.moves li::marker { color: #888888; font-size: 0.85em; }
button.move { display: block; width: 100%; padding: 2px 6px; border: 0; background: none;
  font: inherit; text-align: left; cursor: pointer; }
button.move:hover { background: #f3ead7; }
button.move.current { background: #b5d88a; font-weight: bold; }
.controls { display: flex; flex-wrap: wrap; gap: 6px; align-items: center; margin-top: 10px; }
.controls button { padding: 4px 10px; font: inherit; }
#slider { flex: 1 1 200px; }
#counter { min-width: 6em; text-align: right; font-variant-numeric: tabular-nums; }
"""

# Draws position n from its lines, marks its move in the list and sets the
# controls; the buttons, the arrow keys (and Home and End), the slider and the
# move list call it.
SCRIPT = """
"use strict";
(() => {
  const data = JSON.parse(document.getElementById("replay-data").textContent);
  const last = data.plies.length - 1;
  const board = document.getElementById("board");
  const slider = document.getElementById("slider");
  const counter = document.getElementById("counter");
  const list = document.querySelector("nav.moves");
  const entries = Array.from(list.querySelectorAll("button.move"));
  const buttons = {};
  for (const id of ["first", "previous", "next", "last"]) {
    buttons[id] = document.getElementById(id);
  }
  let shown = -1;

  // Scrolls the move list, and only the list, to show an entry.
  function reveal(entry) {
    const top = entry.offsetTop;
    const bottom = top + entry.offsetHeight;
    if (top < list.scrollTop) {
      list.scrollTop = top;
    } else if (bottom > list.scrollTop + list.clientHeight) {
      list.scrollTop = bottom - list.clientHeight;
    }
  }

  function show(n) {
    n = Math.max(0, Math.min(last, n));
    if (n === shown) return;
    shown = n;
    board.innerHTML = data.plies[n].map((line) => data.lines[line]).join("\\n");
    board.dataset.ply = String(n);
    slider.value = String(n);
    counter.textContent = n + " / " + last;
    for (const entry of entries) {
      const current = Number(entry.dataset.ply) === n;
      entry.classList.toggle("current", current);
      if (current) {
        entry.setAttribute("aria-current", "step");
        reveal(entry);
      } else {
        entry.removeAttribute("aria-current");
      }
    }
    buttons.first.disabled = buttons.previous.disabled = n === 0;
    buttons.next.disabled = buttons.last.disabled = n === last;
  }

  buttons.first.addEventListener("click", () => show(0));
  buttons.previous.addEventListener("click", () => show(shown - 1));
  buttons.next.addEventListener("click", () => show(shown + 1));
  buttons.last.addEventListener("click", () => show(last));
  slider.addEventListener("input", () => show(Number(slider.value)));
  for (const entry of entries) {
    entry.addEventListener("click", () => show(Number(entry.dataset.ply)));
  }
  const keys = {
    ArrowLeft: () => shown - 1, ArrowRight: () => shown + 1,
    ArrowUp: () => 0, Home: () => 0, ArrowDown: () => last, End: () => last,
  };
  document.addEventListener("keydown", (event) => {
    const target = keys[event.key];
    if (!target || event.altKey || event.ctrlKey || event.metaKey || event.shiftKey) return;
    event.preventDefault();
    show(target());
  });
  show(0);
})();
"""

# The page loads nothing: only its own style and script run (and the empty icon,
# which keeps the browser from asking for /favicon.ico).
POLICY = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:"

PAGE = Template("""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="$policy">
<meta name="viewport" content="width=device-width, initial-scale=1">
<link rel="icon" href="data:,">
<title>$title</title>
<style>$style</style>
</head>
<body>
<main>
<header>
<h1>$title</h1>
<p>$about</p>
</header>
<div class="replay">
<figure id="board" aria-label="board"></figure>
<nav class="moves" aria-label="moves">
<button type="button" class="move" data-ply="0">start</button>
<ol>
$moves
</ol>
</nav>
</div>
<div class="controls">
<button type="button" id="first" title="the start (up arrow, Home)">« first</button>
<button type="button" id="previous" title="the previous move (left arrow)">‹ previous</button>
<button type="button" id="next" title="the next move (right arrow)">next ›</button>
<button type="button" id="last" title="the end (down arrow, End)">last »</button>
<input type="range" id="slider" min="0" max="$last" value="0" aria-label="move">
<output id="counter" for="slider">0 / $last</output>
</div>
</main>
<script type="application/json" id="replay-data">$data</script>
<script>$script</script>
</body>
</html>
""")


def replay_html(
    start: Game,
    moves: Sequence[Move],
    *,
    title: str = "Shogi game",
    result: str = "",
    coordinates: Coordinates = "usi",
    letters: bool = False,
) -> str:
    """The replay page of the game from ``start`` through ``moves``, as HTML text.

    Each move is checked as the readers check them (ReplayError names the first
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
            f'data-ply="{ply}">{mark}{komaban_to_usi(move_text(move))}</button></li>'
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
    return PAGE.substitute(
        policy=POLICY,
        title=html.escape(title),
        about=html.escape(" · ".join(about)),
        style=STYLE,
        moves="\n".join(entries),
        last=len(moves),
        data=data,
        script=SCRIPT,
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
    """Reads a record file (a CSA record, or a start position and moves) and writes its page.

    The title defaults to the players' names of a CSA record, else the file's
    name. Returns the record. Raises ReplayError for a record that cannot be
    replayed, OSError or UnicodeDecodeError for a file that cannot be read.
    """
    path = Path(record)
    read = read_record(path.read_text(encoding="utf-8"), notation, game, path.name)
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


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(
        prog="replay.py", description="Writes a page that replays a shogi game move by move."
    )
    parser.add_argument(
        "record", metavar="GAME", help='a CSA record, or a start position and moves ("-": stdin)'
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
            text = sys.stdin.read()
        else:
            text = Path(args.record).read_text(encoding="utf-8")
        read = read_record(text, args.notation, args.game_number, name)
    except (OSError, UnicodeDecodeError, ValueError) as error:
        print(f"{parser.prog}: error: {name}: {error}", file=sys.stderr)
        return 2
    page = replay_html(
        read.start,
        read.moves,
        title=args.title or read.title,
        result=read.result,
        coordinates=args.coordinates,
        letters=args.letters,
    )
    try:
        Path(args.output).write_text(page, encoding="utf-8")
    except OSError as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
