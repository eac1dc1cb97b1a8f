"""A game record: its start position, its moves, the players and how the game ended.

Every reader checks each move in its position: it must be one that komaban
lists there (`Board.search_moves`), and none may follow the capture of a
King. A record that breaks a rule raises RecordError, whose message names
the line (counted from 1 in the file) or the move.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
from dataclasses import dataclass, field

from komaban import ColorType, Game, Move

from ..notation import START_SFEN, is_none, load_sfen, opponent, side_name, usi_text

# How a game ends, by the special move that CSA writes for it ("%TORYO"); every
# format's ending is read as one of these. {mover} is the side to move at the end.
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


class RecordError(ValueError):
    """A record that cannot be read; the message names the line or the move."""


@dataclass
class Record:
    """A game: the start as a standard SFEN line, the moves as komaban Moves, and what
    the record says of it.

    `comments` holds comment lines by ply: those at 0 come before the first
    move, those at n after move n.
    """

    sfen: str = START_SFEN
    moves: list[Move] = field(default_factory=list)
    names: tuple[str, str] = ("", "")  # Black's and White's
    ending: str = ""  # one of ENDINGS, or "" when the record does not say
    title: str = ""
    comments: dict[int, list[str]] = field(default_factory=dict)

    @property
    def start(self) -> Game:
        """The start position, a new Game on each call."""
        return load_sfen(self.sfen)

    @property
    def result(self) -> str:
        """How the game ended, in words ("White resigned"); "" when the record does not say."""
        start = self.start
        mover = start.turn if len(self.moves) % 2 == 0 else opponent(start.turn)
        return ENDINGS.get(self.ending, self.ending).format(mover=side_name(mover))

    def usi(self) -> list[str]:
        """The moves in USI text."""
        return [usi_text(move) for move in self.moves]


def check_move(game: Game, where: str, move: Move, text: str) -> None:
    """Raises RecordError unless komaban lists the move for the side to move.

    `where` ("line 12", "move 3") and `text` (the move as the record writes it)
    name the move in the message.
    """
    if game.board.is_finished()[0]:
        raise RecordError(f"{where}: {text} follows the end of the game (a King was taken)")
    if is_none(game.turn) or move not in game.board.search_moves(game.turn):
        raise RecordError(f"{where}: {text} is not a move komaban lists for {side_name(game.turn)}")


def start_of(sfen: str, where: str = "start position") -> Game:
    """The Game of a record's start; RecordError when the SFEN line is malformed."""
    try:
        return load_sfen(sfen)
    except ValueError as error:
        raise RecordError(f"{where}: {error}") from None


def play(
    sfen: str,
    texts: Sequence[tuple[str, str]],
    convert: Callable[[Game, str, str, Move | None], str],
) -> list[Move]:
    """The moves of a record from its start: each (where, text) converted to komaban
    move text by `convert(game, where, text, previous move)` and checked in its position."""
    game, moves = start_of(sfen), list[Move]()
    for where, text in texts:
        move = Move(csa=convert(game, where, text, moves[-1] if moves else None))
        check_move(game, where, move, text)
        game.execute_move(move)
        moves.append(move)
    return moves


def positions(start: Game, moves: Sequence[Move]) -> list[Game]:
    """The game after 0, 1, ... all of the moves from `start`, each move checked in its
    position (RecordError names the first that komaban does not list).

    The last position gets a winner as komaban's random play gives one: the
    side whose King is left when a King was taken, or the opponent of a side
    to move that has no move.
    """
    games = [Game(start.board, start.move_number, start.turn, start.winner)]
    for number, move in enumerate(moves, 1):
        game = Game(games[-1].board, games[-1].move_number, games[-1].turn, games[-1].winner)
        check_move(game, f"move {number}", move, usi_text(move))
        game.execute_move(move)
        games.append(game)
    end = games[-1]
    finished, winner = end.board.is_finished()
    if finished and not is_none(winner):
        end.winner = winner
    elif not finished and not is_none(end.turn) and not end.board.search_moves(end.turn):
        end.winner = opponent(end.turn)
    return games


def winner_of(record: Record) -> ColorType | None:
    """The side the ending names as the winner, None for a draw or an unknown end."""
    start = record.start
    mover = start.turn if len(record.moves) % 2 == 0 else opponent(start.turn)
    if record.ending in ("%TORYO", "%TIME_UP", "%ILLEGAL_MOVE", "%TSUMI"):
        return opponent(mover)
    if record.ending == "%KACHI":
        return mover
    if record.ending in ("%+ILLEGAL_ACTION", "%-ILLEGAL_ACTION"):
        return ColorType.White if record.ending[1] == "+" else ColorType.Black
    return None
