"""Plays random shogi games from the start position and reports on them.

Prints a report, draws the distribution of game lengths and the share of each
outcome to random_games.png (or the file given with --plot), and the final
position of the last game, its last move highlighted, to random_game.svg (or
the file given with --svg), and a page that replays the last game move by move
to random_game.html (or the file given with --html; see komaban_tools.replay).
Ctrl-C stops the games: the report and the chart are then of the games played,
and the exit status is 130 (143 for SIGTERM).

Usage: python examples/random_games.py [GAMES] [--plot FILE.png] [--svg FILE.svg]
[--html FILE.html] (default 1000 games)
"""

from __future__ import annotations

import argparse
import random
import statistics
import sys
import time
from pathlib import Path

from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

from komaban import Address, Board, ColorType, Game, Move
from komaban_tools.replay import replay_html
from komaban_tools.svg import board_svg
from komaban_tools.workers import STOP

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


def random_game(rng: random.Random, played: list[Move] | None = None) -> tuple[Game, Move | None]:
    """A game from the start position to its end, and its last move; its moves
    are appended to ``played`` when given.

    Plays as Game().random_play() does, but move by move in Python so that the
    last move is known: each move drawn uniformly from search_moves with rng, a
    side without a move loses, and the game ends when a King is captured or at
    the move limit.
    """
    game, last = Game(), None
    while not game.is_finished()[0]:
        moves = game.board.search_moves(game.turn)
        if not moves:
            game.winner = ColorType.White if game.turn == ColorType.Black else ColorType.Black
            return game, last
        last = rng.choice(moves)
        game.execute_move(last)
        if played is not None:
            played.append(last)
    game.winner = game.is_finished()[1]
    return game, last


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


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Plays random shogi games and reports on them.")
    parser.add_argument("games", nargs="?", type=int, default=1000, help="games (default 1000)")
    parser.add_argument(
        "--plot",
        type=Path,
        default=Path("random_games.png"),
        metavar="FILE",
        help="chart file (default random_games.png)",
    )
    parser.add_argument(
        "--svg",
        type=Path,
        default=Path("random_game.svg"),
        metavar="FILE",
        help="diagram of the last game's final position (default random_game.svg)",
    )
    parser.add_argument(
        "--html",
        type=Path,
        default=Path("random_game.html"),
        metavar="FILE",
        help="page that replays the last game (default random_game.html)",
    )
    args = parser.parse_args(argv)
    games: int = args.games
    if games < 1:
        parser.error("the number of games must be at least 1")

    outcomes = {"Black wins": 0, "White wins": 0, "move limit": 0}
    lengths: list[int] = []

    def outcome(game: Game) -> str:
        return "move limit" if game.move_number >= MOVE_LIMIT else f"{game.winner.name} wins"

    # Ctrl-C stops the games between two: the report is then of the games played.
    STOP.install()
    # All games but the last are played natively, and timed; the last is played
    # move by move so that its diagram can show the last move, and its page every move.
    with tqdm(total=games, desc="playing", unit="game", disable=None) as progress:
        start = time.perf_counter()
        for _ in range(games - 1):
            if STOP.requested:
                break
            game = Game().random_play()
            lengths.append(game.move_number - 1)
            outcomes[outcome(game)] += 1
            progress.update()
        elapsed = time.perf_counter() - start
        native = len(lengths)
        if not STOP.requested:
            played: list[Move] = []
            last, last_move = random_game(random.Random(), played)
            lengths.append(last.move_number - 1)
            outcomes[outcome(last)] += 1
            progress.update()
    if not lengths:
        print("interrupted before the first game ended", file=sys.stderr)
        return 128 + STOP.signum

    print(f"games played         {len(lengths)}")
    print(f"Black wins           {outcomes['Black wins']}")
    print(f"White wins           {outcomes['White wins']}")
    print(f"move limit reached   {outcomes['move limit']}")
    print(f"mean length          {statistics.mean(lengths):.1f} moves")
    print(f"median length        {statistics.median(lengths):g} moves")
    if native:
        print(f"games per second     {native / elapsed:,.0f}")
    if len(lengths) < games:  # interrupted: no last game to show
        plot(lengths, outcomes, args.plot)
        print(f"\nchart of lengths and outcomes written to {args.plot.resolve()}")
        print(f"interrupted after {len(lengths)} of {games} games", file=sys.stderr)
        return 128 + STOP.signum
    print()
    print(f"final position of game {games} ({lengths[-1]} moves, {outcome(last)}):")
    print(diagram(last.board))
    plot(lengths, outcomes, args.plot)
    print(f"\nchart of lengths and outcomes written to {args.plot.resolve()}")
    args.svg.write_text(board_svg(last, last_move=last_move), encoding="utf-8")
    print(f"diagram of the final position written to {args.svg.resolve()}")
    args.html.write_text(replay_html(Game(), played, title=f"Random game {games}"), "utf-8")
    print(f"replay of the last game written to {args.html.resolve()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
