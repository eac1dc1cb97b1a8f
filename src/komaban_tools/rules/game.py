"""A game under the standard rules: the side to move, the hands, history and repetition.

`GameState` adds what a game needs beyond one position: the side to move,
the pieces in hand, and the history that repetition (sennichite) is judged
from.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass, field
from enum import Enum

from komaban import Board, ColorType, Move

from ..notation import (
    HAND_LETTERS,
    USI_MOVE,
    board_text,
    hand_field,
    hand_items,
    load_sfen,
    usi_to_komaban,
)
from .board import (
    BLACK,
    COLORS,
    KING_CODE,
    LETTERS,
    PAWN,
    PROMOTION,
    WHITE,
    copy_board,
    mailbox,
    side_index,
)
from .moves import analyse


class Outcome(Enum):
    """How a game position ends under the standard rules, for the side to move."""

    CHECKMATED = "checkmated"  # no legal move (in check or not: both lose)
    REPETITION = "repetition"  # the fourth occurrence, a draw
    PERPETUAL_CHECK_WIN = "perpetual check win"  # the opponent checked throughout
    PERPETUAL_CHECK_LOSS = "perpetual check loss"  # the side to move checked throughout


def repetition_outcome(
    keys: Sequence[str], checks: Sequence[bool], occurrences: int = 4
) -> Outcome | None:
    """The repetition outcome of the last position of a history, or None.

    keys[i] identifies position i (board, side to move, hands); checks[i] says
    whether the side to move there is in check, that is whether the move into
    it gave check. The fourth occurrence of the last position ends the game: a
    draw, unless every move one side made since the first of the four
    occurrences gave check; that side loses. (A search may end a line at an
    earlier occurrence.)
    """
    last = keys[-1]
    seen = [i for i, key in enumerate(keys) if key == last]
    if len(seen) < occurrences:
        return None
    first, now = seen[-occurrences], len(keys) - 1
    # Position i was reached by the move of the side not to move at i: positions
    # now, now - 2, ... were reached by the opponent of the side to move now.
    by_opponent = all(checks[i] for i in range(now, first, -2))
    by_mover = all(checks[i] for i in range(now - 1, first, -2))
    if by_opponent and not by_mover:
        return Outcome.PERPETUAL_CHECK_WIN
    if by_mover and not by_opponent:
        return Outcome.PERPETUAL_CHECK_LOSS
    return Outcome.REPETITION


@dataclass
class GameState:
    """A game under the standard rules: position, side to move, hands and history.

    komaban's Board keeps the hands but cannot report their counts, so they
    are counted here as moves are played (for the repetition key and SFEN).
    """

    board: Board
    turn: int
    hands: list[list[int]]  # hands[colour][kind]: counts for kinds 0 to 8
    move_number: int = 1
    keys: list[str] = field(default_factory=list, repr=False)
    checks: list[bool] = field(default_factory=list, repr=False)
    moves: list[Move] = field(default_factory=list, repr=False)
    _legal: list[Move] | None = field(default=None, repr=False)

    @classmethod
    def from_sfen(cls, line: str) -> GameState:
        """A game from a standard SFEN line, or "startpos"; ValueError when malformed."""
        game = load_sfen(line)
        hands = [[0] * 9, [0] * 9]
        if line.strip() != "startpos":
            for letter, count in hand_items(line.split()[2]):
                hands[BLACK if letter.isupper() else WHITE][LETTERS[letter.upper()]] += count
        sq = mailbox(game.board)
        for c in (BLACK, WHITE):
            if sq.count(KING_CODE[c]) != 1:
                raise ValueError(f"{COLORS[c].name} must have exactly one King")
        state = cls(game.board, side_index(game.turn), hands, game.move_number)
        state._record()
        return state

    def copy(self) -> GameState:
        return GameState(
            copy_board(self.board),
            self.turn,
            [list(h) for h in self.hands],
            self.move_number,
            list(self.keys),
            list(self.checks),
            list(self.moves),
            self._legal,
        )

    @property
    def color(self) -> ColorType:
        return COLORS[self.turn]

    def key(self) -> str:
        """The position as a repetition key: board text, side to move and hands."""
        hands = ",".join(map(str, self.hands[BLACK][1:] + self.hands[WHITE][1:]))
        return f"{board_text(self.board)} {self.turn} {hands}"

    def _record(self) -> None:
        self._legal, in_check = analyse(self.board, self.color)
        self.keys.append(self.key())
        self.checks.append(in_check)

    def legal_moves(self) -> list[Move]:
        """The legal moves of the side to move."""
        assert self._legal is not None
        return self._legal

    def in_check(self) -> bool:
        return self.checks[-1]

    def push(self, move: Move) -> None:
        """Plays a move, which must be legal (see legal_moves)."""
        hand = self.hands[self.turn]
        if move.is_drop():
            hand[int(move.get_piece().piece_type)] -= 1
        else:
            taken = self.board.get_piece(move.get_to())
            if taken.owner == COLORS[1 - self.turn]:
                kind = int(taken.piece_type)
                hand[kind - PROMOTION if kind > PAWN else kind] += 1
        self.board.execute_move(move)
        self.moves.append(move)
        self.turn = 1 - self.turn
        self.move_number += 1
        self._record()

    def push_usi(self, usi: str) -> Move:
        """Plays a move given in USI text; ValueError when it is not legal here."""
        if not USI_MOVE.fullmatch(usi):
            raise ValueError(f"malformed move {usi!r}")
        move = Move(csa=usi_to_komaban(usi, self.color))
        if move not in self.legal_moves():
            raise ValueError(f"illegal move {usi!r}")
        self.push(move)
        return move

    def outcome(self) -> Outcome | None:
        """How the game has ended for the side to move, or None while it goes on."""
        if not self.legal_moves():
            return Outcome.CHECKMATED
        return repetition_outcome(self.keys, self.checks)

    def sfen(self) -> str:
        """The position as a standard SFEN line."""
        counts = {
            letter if c == BLACK else letter.lower(): self.hands[c][LETTERS[letter]]
            for c in (BLACK, WHITE)
            for letter in HAND_LETTERS
        }
        side = "b" if self.turn == BLACK else "w"
        return f"{board_text(self.board)} {side} {hand_field(counts)} {self.move_number}"
