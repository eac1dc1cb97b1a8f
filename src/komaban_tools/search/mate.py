"""A search for a forced mate by checks, at the root of a search.

`find_mate` looks for a mate of the side to move in at most a number of
plies, checking at every move, shorter mates first, and keeps a deadline and
a stop flag: a search that opens with it must still answer `stop` at once.
"""

from __future__ import annotations

import time
from collections.abc import Callable

from komaban import Board, Move

from ..rules import COLORS, checking_moves, copy_board, legal_moves


class MateSearchCut(Exception):
    """The mate search ran out of time or was stopped."""


def _never() -> bool:
    return False


def find_mate(
    board: Board,
    turn: int,
    max_plies: int,
    deadline: float,
    stopped: Callable[[], bool] = _never,
) -> list[Move] | None:
    """A forced mate for the side to move (0 Black, 1 White) in at most
    `max_plies` plies, checking at every move, as its line; None if there is
    none, or if the deadline (time.monotonic()) passes or `stopped()` turns
    true first. Shorter mates first."""
    try:
        for plies in range(1, max_plies + 1, 2):
            line = _mate(board, turn, plies, deadline, stopped)
            if line is not None:
                return line
    except MateSearchCut:
        pass
    return None


def _mate(
    board: Board, turn: int, plies: int, deadline: float, stopped: Callable[[], bool]
) -> list[Move] | None:
    attacker, defender = COLORS[turn], COLORS[1 - turn]
    for check in checking_moves(board, attacker):
        if time.monotonic() > deadline or stopped():
            raise MateSearchCut
        after = copy_board(board)
        after.execute_move(check)
        replies = legal_moves(after, defender)
        if not replies:
            return [check]
        if plies < 3:
            continue
        line: list[Move] | None = None
        for reply in replies:
            position = copy_board(after)
            position.execute_move(reply)
            rest = _mate(position, turn, plies - 2, deadline, stopped)
            if rest is None:
                break
            if line is None or len(rest) + 1 > len(line):  # the longest defence
                line = [reply, *rest]
        else:
            assert line is not None
            return [check, *line]
    return None
