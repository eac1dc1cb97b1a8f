"""Plays random shogi games from the start position and reports on them.

Prints a report, and draws the distribution of game lengths and the share of
each outcome to random_games.png (or the file given with --plot).

Usage: python examples/random_games.py [GAMES] [--plot FILE.png]    (default 1000 games)
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from pathlib import Path

from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

from komaban import Address, Board, ColorType, Game

MOVE_LIMIT = 500
# Indexed by int(PieceType): kinds are unhashable values, their numbers are not.
LETTERS = [".", "K", "G", "R", "B", "S", "N", "L", "P", "+R", "+B", "+S", "+N", "+L", "+P"]


def diagram(board: Board) -> str:
    """The board as text: row 9 at the top, columns 1 to 9 from left to right.

    Black's pieces are upper case, White's lower case; Black starts on rows 1 to 3.
    """
    lines = ["     " + "".join(f"{column:>3}" for column in range(1, 10))]
    lines.append("    +" + "-" * 27 + "+")
    for row in range(9, 0, -1):
        cells = []
        for column in range(1, 10):
            piece = board.get_piece(Address(column, row))
            letter = LETTERS[int(piece.piece_type)]
            if piece.owner != ColorType.Black:
                letter = letter.lower()
            cells.append(f"{letter:>3}")
        lines.append(f"  {row} |{''.join(cells)}| {chr(ord('a') + row - 1)}")
    lines.append("    +" + "-" * 27 + "+")
    return "\n".join(lines)


def plot(lengths: list[int], outcomes: dict[str, int], path: Path) -> None:
    """Draws the distribution of game lengths and the share of each outcome."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4), width_ratios=(2, 1))
    left.hist(lengths, bins=range(0, MOVE_LIMIT + 10, 10), color="tab:blue")
    left.set_xlabel("game length (moves)")
    left.set_ylabel("games")
    left.set_title(f"Lengths of {len(lengths):,} random games")
    shares = [100 * n / len(lengths) for n in outcomes.values()]
    bars = right.bar(list(outcomes), shares, color=["0.2", "0.75", "tab:orange"])
    right.bar_label(bars, fmt="%.1f %%")
    right.set_ylabel("share of games (%)")
    right.set_ylim(0, 100)
    right.set_title("Outcomes")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="Plays random shogi games and reports on them.")
    parser.add_argument("games", nargs="?", type=int, default=1000, help="games (default 1000)")
    parser.add_argument(
        "--plot",
        type=Path,
        default=Path("random_games.png"),
        metavar="FILE",
        help="chart file (default random_games.png)",
    )
    args = parser.parse_args(argv)
    games: int = args.games
    if games < 1:
        parser.error("the number of games must be at least 1")

    black_wins = white_wins = 0
    at_limit = 0
    lengths: list[int] = []
    start = time.perf_counter()
    for _ in tqdm(range(games), desc="playing", unit="game", disable=None):
        last = Game().random_play()
        lengths.append(last.move_number - 1)
        if last.move_number >= MOVE_LIMIT:
            at_limit += 1
        elif last.winner == ColorType.Black:
            black_wins += 1
        else:
            white_wins += 1
    elapsed = time.perf_counter() - start

    print(f"games played         {games}")
    print(f"Black wins           {black_wins}")
    print(f"White wins           {white_wins}")
    print(f"move limit reached   {at_limit}")
    print(f"mean length          {statistics.mean(lengths):.1f} moves")
    print(f"median length        {statistics.median(lengths):g} moves")
    print(f"games per second     {games / elapsed:,.0f}")
    print()
    outcome = "move limit" if last.move_number >= MOVE_LIMIT else f"{last.winner.name} wins"
    print(f"final position of game {games} ({lengths[-1]} moves, {outcome}):")
    print(diagram(last.board))
    outcomes = {"Black wins": black_wins, "White wins": white_wins, "move limit": at_limit}
    plot(lengths, outcomes, args.plot)
    print(f"\nchart of lengths and outcomes written to {args.plot.resolve()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
