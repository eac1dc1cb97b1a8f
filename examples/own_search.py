"""Write your own search: a material-counting alpha-beta engine that speaks USI.

komaban_tools does the rest: `rules.GameState` keeps the position, the hands
and the history and lists the legal moves under the standard rules, and
`usi.UsiEngine` speaks USI to GUIs and match runners; a search of one's own
is a function from a position and the `go` command's limits to a move.

This one looks `--depth` plies ahead (2 by default) with alpha-beta over the
legal moves, captures first, and scores the leaves by material: pieces on the
board and in hand by their usual values, promoted pieces higher. It knows
nothing else and stops dead at its depth, so it is weak: at depth 2 it sees the
replies to its moves and no further (depth 3 takes about a second a move).

    python examples/own_search.py              # USI on standard input and output
    python examples/own_search.py --depth 3 --sfen "<SFEN line>"   # one move, printed

Register it in a GUI through a one-line script that runs it with the Python
that has komaban installed.
"""

from __future__ import annotations

import argparse
import sys

from komaban import Address, ColorType, Move
from komaban_tools.notation import usi_text
from komaban_tools.rules import GameState
from komaban_tools.usi import Limits, UsiEngine, serve

# Values by int(PieceType): King (never taken in a legal game), Gold, Rook,
# Bishop, Silver, Knight, Lance, Pawn, then the promoted Rook to the promoted Pawn.
VALUES = (0, 0, 600, 1000, 800, 500, 400, 300, 100, 1300, 1100, 600, 600, 600, 600)
WIN = 100_000
SQUARES = [Address(column, row) for row in range(1, 10) for column in range(1, 10)]


def material(state: GameState) -> int:
    """Material for the side to move: its pieces and hand less the opponent's."""
    total = 0
    for square in SQUARES:
        piece = state.board.get_piece(square)
        value = VALUES[int(piece.piece_type)]
        total += value if piece.owner == state.color else -value
    # hands[colour][kind] counts pieces in hand by kind number (Gold 2 to Pawn 8).
    for kind in range(2, 9):
        total += VALUES[kind] * (state.hands[state.turn][kind] - state.hands[1 - state.turn][kind])
    return total


def ordered(state: GameState) -> list[Move]:
    """The legal moves, captures of the most valuable pieces first: cut-offs come sooner."""

    def taken(move: Move) -> int:
        if move.is_drop():
            return 0
        return VALUES[int(state.board.get_piece(move.get_to()).piece_type)]

    return sorted(state.legal_moves(), key=taken, reverse=True)


def alpha_beta(state: GameState, depth: int, alpha: int, beta: int) -> int:
    """The negamax score of a position for its side to move, `depth` plies deep."""
    moves = state.legal_moves()
    if not moves:
        return -WIN  # checkmated (or no move at all): lost
    if depth == 0:
        return material(state)
    for move in ordered(state):
        child = state.copy()
        child.push(move)
        alpha = max(alpha, -alpha_beta(child, depth - 1, -beta, -alpha))
        if alpha >= beta:
            break
    return alpha


def best_move(state: GameState, depth: int) -> tuple[str, int]:
    """The best move in USI text and its score."""
    best, best_score = "", -WIN - 1
    for move in ordered(state):
        child = state.copy()
        child.push(move)
        score = -alpha_beta(child, depth - 1, -WIN - 1, -best_score)
        if score > best_score:
            best, best_score = usi_text(move), score
    return best, best_score


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="A material alpha-beta engine that speaks USI.")
    parser.add_argument("--depth", type=int, default=2, help="plies to look ahead (2)")
    parser.add_argument("--sfen", help="print the move for this SFEN line, instead of USI")
    args = parser.parse_args(argv)
    if args.depth < 1:
        parser.error("--depth must be at least 1")
    if args.sfen:
        state = GameState.from_sfen(args.sfen)
        if not state.legal_moves():
            print("no legal move")
            return 1
        move, score = best_move(state, args.depth)
        side = "Black" if state.color == ColorType.Black else "White"
        print(f"{side} plays {move} (material {score:+d} after {args.depth} plies)")
        return 0

    def mover(state: GameState, limits: Limits) -> str:
        return best_move(state, args.depth)[0]

    return serve(UsiEngine(sys.stdout, mover, name=f"material alpha-beta, depth {args.depth}"))


if __name__ == "__main__":
    sys.exit(main())
