"""The standard rules of shogi on komaban's pseudo-legal moves.

>>> state = GameState.from_sfen("startpos")
>>> for move in ["7g7f", "3c3d", "8h2b+"]:
...     _ = state.push_usi(move)
>>> len(state.legal_moves()), state.in_check()
(33, False)
>>> from komaban import Board, ColorType
>>> len(legal_moves(Board(), ColorType.Black))
30
"""

from .board import COLORS, copy_board, mailbox, side_index
from .game import GameState, Outcome, repetition_outcome
from .moves import analyse, checking_moves, is_check, is_checkmate, legal_moves

__all__ = [
    "COLORS",
    "GameState",
    "Outcome",
    "analyse",
    "checking_moves",
    "copy_board",
    "is_check",
    "is_checkmate",
    "legal_moves",
    "mailbox",
    "repetition_outcome",
    "side_index",
]
