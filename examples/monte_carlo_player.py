"""A flat Monte Carlo player matched against the uniformly random player.

For every move listed for the side to move, the Monte Carlo player plays
--playouts random games from the position after that move with
Game.random_play(), scores them from its own side (win 1, move limit 1/2,
loss 0) and plays the move with the best total; ties are broken at random. The
random player plays a move drawn uniformly from the same list. The players
swap colours from game to game; games run in parallel on a process pool and
exchange plain numbers only. Results differ from run to run. Ctrl-C stops the
match: the report and the chart are then of the games finished, and the exit
status is 130.

Usage:
    python examples/monte_carlo_player.py [--games 10] [--playouts 8] [--plot match.png]
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
import random
import signal
import sys
import time
from collections.abc import Sequence
from functools import partial
from multiprocessing.pool import Pool
from pathlib import Path
from types import FrameType
from typing import Any

from evaluate_positions import start_method, wilson_interval
from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

from komaban import ColorType, Game, Move


def score_for(winner: ColorType, side: ColorType) -> float:
    """The score of a game won by `winner` for `side`: win 1, move limit 1/2, loss 0."""
    if winner == side:
        return 1.0
    if winner in (ColorType.Black, ColorType.White):
        return 0.0
    return 0.5


# The match's stop flag, shared with the worker processes (see main): once set, the
# games being played end at their next move and those not begun end at once.
_stop: Any = None


class Stopped(Exception):
    """The match was stopped in the middle of this game."""


def _share_stop_flag(stop: Any) -> None:
    global _stop
    _stop = stop


def _check_stop() -> None:
    if _stop is not None and _stop.value:
        raise Stopped


def monte_carlo_move(game: Game, playouts: int, rng: random.Random) -> Move | None:
    """The move with the best playout score for the side to move; None if it has no move.

    Raises Stopped when the match's stop flag is set."""
    side = game.turn
    board, number = game.board, game.move_number  # copies of the game's position
    best: list[Move] = []
    best_score = -1.0
    for move in board.search_moves(side):
        _check_stop()
        trial = Game(board=board, move_number=number, turn=side)
        trial.execute_move(move)  # plays the move and passes the turn
        over, winner = trial.is_finished()
        if over:  # the move took a King or reached the move limit: no need to play on
            score = playouts * score_for(winner, side)
        else:
            after, after_number, after_turn = trial.board, trial.move_number, trial.turn
            score = 0.0
            for _ in range(playouts):
                # random_play plays on the game it is called on: a new copy for each playout.
                end = Game(board=after, move_number=after_number, turn=after_turn).random_play()
                score += score_for(end.winner, side)
        if score > best_score:
            best, best_score = [move], score
        elif score == best_score:
            best.append(move)
    return rng.choice(best) if best else None


def play_game(number: int, playouts: int) -> tuple[int, float, int] | None:
    """Plays game `number`; the Monte Carlo player is Black in even-numbered games.

    Returns the game's number, the Monte Carlo player's score and the number of moves,
    or None if the match was stopped first. Runs in a worker process: it takes and
    returns plain numbers.
    """
    try:
        return _play_game(number, playouts)
    except Stopped:
        return None


def _play_game(number: int, playouts: int) -> tuple[int, float, int]:
    rng = random.Random()  # seeded from the operating system in each process
    mc_side = ColorType.Black if number % 2 == 0 else ColorType.White
    game = Game()
    while not game.is_finished()[0]:
        _check_stop()
        side = game.turn
        if side == mc_side:
            move = monte_carlo_move(game, playouts, rng)
        else:
            moves = game.board.search_moves(side)
            move = rng.choice(moves) if moves else None
        if move is None:  # the side to move has no move left: it loses
            return number, 0.0 if side == mc_side else 1.0, int(game.move_number) - 1
        game.execute_move(move)
    return number, score_for(game.is_finished()[1], mc_side), int(game.move_number) - 1


def plot(scores: Sequence[float], playouts: int, path: Path) -> None:
    """The Monte Carlo player's running score with its 95 % interval, game after game."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    games = list(range(1, len(scores) + 1))
    running = [sum(scores[:n]) / n for n in games]
    intervals = [wilson_interval(s, n) for s, n in zip(running, games, strict=True)]
    fig, ax = plt.subplots(figsize=(7, 4))
    ax.fill_between(
        games,
        [low for low, _ in intervals],
        [high for _, high in intervals],
        color="tab:blue",
        alpha=0.2,
        label="95 % Wilson interval",
    )
    ax.plot(games, running, color="tab:blue", marker="o", markersize=3, label="running score")
    ax.axhline(0.5, color="0.6", linestyle=":", linewidth=1)
    ax.set_ylim(-0.02, 1.02)
    ax.set_xlabel("games finished")
    ax.set_ylabel("Monte Carlo player's score")
    ax.set_title(f"Flat Monte Carlo ({playouts} playouts per move) against random moves")
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(
        description="Matches a flat Monte Carlo player against the uniformly random player, "
        "colours alternating. Results differ from run to run: komaban's random generator "
        "is seeded from the operating system."
    )
    parser.add_argument("--games", type=int, default=10, help="games in the match (default 10)")
    parser.add_argument(
        "--playouts", type=int, default=8, help="random games per candidate move (default 8)"
    )
    parser.add_argument(
        "--workers",
        type=int,
        default=os.cpu_count() or 1,
        help="games played at once, one process each (default: the number of CPUs)",
    )
    parser.add_argument(
        "--plot", type=Path, metavar="FILE", help="draw the running score to FILE.png"
    )
    args = parser.parse_args(argv)
    if args.games < 1 or args.playouts < 1 or args.workers < 1:
        parser.error("--games, --playouts and --workers must be at least 1")

    print(
        f"flat Monte Carlo player ({args.playouts} playouts per move) against the random "
        f"player: {args.games} games, colours alternating"
    )
    finished: list[tuple[int, float, int]] = []  # (number, score, moves) of each game
    interrupted = False
    start = time.perf_counter()
    stop = multiprocessing.RawValue("b", 0)

    # The workers ignore SIGINT: Ctrl-C at the terminal is for this process, whose handler
    # raises the stop flag; the workers then end their games at their next move, and the
    # loop below stops. The handler raises no KeyboardInterrupt: one raised while this
    # thread is inside the pool's code can leave a lock of the pool held, and the pool's
    # own threads waiting on it for ever. For the same reason the pool is not terminated
    # (Pool.terminate kills workers that may hold the lock of the queue they share).
    def on_sigint(signum: int, frame: FrameType | None) -> None:
        nonlocal interrupted
        interrupted = True
        stop.value = 1

    signal.signal(signal.SIGINT, on_sigint)
    pool: Pool | None = None
    try:
        context = multiprocessing.get_context(start_method())
        pool = context.Pool(args.workers, initializer=_share_stop_flag, initargs=(stop,))
        results = pool.imap_unordered(partial(play_game, playouts=args.playouts), range(args.games))
        with tqdm(total=args.games, unit="game", disable=None) as bar:
            for game in results:
                if game is not None:
                    finished.append(game)
                    bar.update()
                if interrupted:
                    break
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)  # the report is on its way
        stop.value = 1
        if pool is not None:
            pool.close()  # every game left ends at once: the pool then closes as usual
            pool.join()
    elapsed = time.perf_counter() - start
    if not finished:
        print("interrupted before the first game ended", file=sys.stderr)
        return 130

    scores = [score for _, score, _ in finished]
    lengths = [moves for _, _, moves in finished]
    by_colour = {"Black": [0.0, 0], "White": [0.0, 0]}
    for number, score, _ in finished:
        colour = by_colour["Black" if number % 2 == 0 else "White"]
        colour[0] += score
        colour[1] += 1
    wins = scores.count(1.0)
    losses = scores.count(0.0)
    total = sum(scores) / len(scores)
    low, high = wilson_interval(total, len(scores))
    draws = len(scores) - wins - losses
    print(f"Monte Carlo player: won {wins}, lost {losses}, {draws} at the move limit")
    print(f"score {total:.3f} (win 1, move limit 1/2), 95 % Wilson interval {low:.3f} - {high:.3f}")
    for name, (points, games) in by_colour.items():
        if games:
            print(f"  as {name}: {points:g} of {games}")
    print(f"mean game length {sum(lengths) / len(lengths):.1f} moves; {elapsed:.1f} s")
    if args.plot:
        plot(scores, args.playouts, args.plot)
        print(f"chart written to {args.plot}")
    if interrupted:
        print(f"interrupted after {len(finished)} of {args.games} games", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
