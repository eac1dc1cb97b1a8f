"""A flat Monte Carlo player matched against the uniformly random player.

For every move listed for the side to move, the Monte Carlo player plays
--playouts random games from the position after that move with
Game.random_play(), scores them from its own side (win 1, move limit 1/2,
loss 0) and plays the move with the best total; ties are broken at random. The
random player plays a move drawn uniformly from the same list. The players
swap colours from game to game; games run in parallel on worker processes
(komaban_tools.workers) and exchange plain numbers only. Results differ from
run to run. Ctrl-C stops the match: the report and the chart are then of the
games finished, and the exit status is 130.

Usage:
    python examples/monte_carlo_player.py [--games 10] [--playouts 8] [--plot match.png]
"""

from __future__ import annotations

import argparse
import random
import sys
import time
from collections.abc import Sequence
from pathlib import Path

from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

from komaban import ColorType, Game, Move
from komaban_tools.stats import wilson_interval
from komaban_tools.workers import STOP, WorkerContext, WorkerPool, cpu_count


def score_for(winner: ColorType, side: ColorType) -> float:
    """The score of a game won by `winner` for `side`: win 1, move limit 1/2, loss 0."""
    if winner == side:
        return 1.0
    if winner in (ColorType.Black, ColorType.White):
        return 0.0
    return 0.5


def monte_carlo_move(game: Game, playouts: int, rng: random.Random) -> Move | None:
    """The move with the best playout score for the side to move; None if it has no move."""
    side = game.turn
    board, number = game.board, game.move_number  # copies of the game's position
    best: list[Move] = []
    best_score = -1.0
    for move in board.search_moves(side):
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


def play_game(request: tuple[int, int], worker: WorkerContext) -> tuple[int, float, int] | None:
    """Plays game `number` of a match; the Monte Carlo player is Black in even games.

    Runs in a worker process. Returns the game's number, the Monte Carlo player's
    score and the number of moves, or None if the match was stopped first.
    """
    number, playouts = request
    rng = random.Random()  # seeded from the operating system in each game
    mc_side = ColorType.Black if number % 2 == 0 else ColorType.White
    game = Game()
    while not game.is_finished()[0]:
        if worker.stopped():  # Ctrl-C: the game ends unfinished at its next move
            return None
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
    low, high = [i[0] for i in intervals], [i[1] for i in intervals]
    fig, ax = plt.subplots(figsize=(7, 4))
    ax.fill_between(games, low, high, color="tab:blue", alpha=0.2, label="95 % Wilson interval")
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


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        description="Matches a flat Monte Carlo player against the uniformly random player, "
        "colours alternating. Results differ from run to run: komaban's random generator "
        "is seeded from the operating system."
    )
    parser.add_argument("--games", type=int, default=10, help="games in the match (default 10)")
    parser.add_argument("--playouts", type=int, default=8, help="games per candidate (8)")
    parser.add_argument("--workers", type=int, default=cpu_count(), help="games at once")
    parser.add_argument("--plot", type=Path, metavar="FILE", help="draw the running score")
    args = parser.parse_args(argv)
    if args.games < 1 or args.playouts < 1 or args.workers < 1:
        parser.error("--games, --playouts and --workers must be at least 1")

    print(
        f"flat Monte Carlo player ({args.playouts} playouts per move) against the random "
        f"player: {args.games} games, colours alternating"
    )
    finished: list[tuple[int, float, int]] = []  # (number, score, moves) of each game
    start = time.perf_counter()
    # Ctrl-C raises the pool's stop flag at once: the games in play end at their next
    # move, and the loop below ends when it next looks.
    with STOP.installed():
        pool: WorkerPool[tuple[int, int]] = WorkerPool(args.workers, play_game)
        with pool, tqdm(total=args.games, unit="game", disable=None) as bar:
            pool.submit((n, args.playouts) for n in range(args.games))
            while pool.busy and not STOP.requested:
                for event in pool.poll(0.1):
                    if event.kind == "done" and event.value is not None:
                        finished.append(event.value)
                        bar.update()
                    elif event.kind in ("error", "died"):
                        print(f"a game failed: {event.value}", file=sys.stderr)
    elapsed = time.perf_counter() - start
    stopped = 128 + STOP.signum if STOP.requested else 0  # 130 for Ctrl-C
    if not finished:
        print("no game finished", file=sys.stderr)
        return stopped or 1

    scores = [score for _, score, _ in finished]
    wins, losses = scores.count(1.0), scores.count(0.0)
    total = sum(scores) / len(scores)
    low, high = wilson_interval(total, len(scores))
    limit = len(scores) - wins - losses
    print(f"Monte Carlo player: won {wins}, lost {losses}, {limit} at the move limit")
    print(f"score {total:.3f} (win 1, move limit 1/2), 95 % Wilson interval {low:.3f} - {high:.3f}")
    for name, parity in (("Black", 0), ("White", 1)):
        mine = [score for number, score, _ in finished if number % 2 == parity]
        if mine:
            print(f"  as {name}: {sum(mine):g} of {len(mine)}")
    lengths = [moves for _, _, moves in finished]
    print(f"mean game length {sum(lengths) / len(lengths):.1f} moves; {elapsed:.1f} s")
    if args.plot:
        plot(scores, args.playouts, args.plot)
        print(f"chart written to {args.plot}")
    if stopped:
        print(f"interrupted after {len(finished)} of {args.games} games", file=sys.stderr)
    return stopped or (0 if len(finished) == args.games else 1)


if __name__ == "__main__":
    sys.exit(main())
