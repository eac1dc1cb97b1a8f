"""The work of an evaluation: positions, their playouts, and tasks sized by time.

komaban objects cannot be pickled, so the workers receive SFEN text and
playout counts and return counts of wins and moves (`play_task`). Each
process seeds komaban's random generator from the operating system and the
generator cannot be seeded by hand, so results are not reproducible from run
to run.
"""

from __future__ import annotations

import math
import time
from collections.abc import Sequence
from dataclasses import dataclass

from ..notation import load_sfen
from ..stats import wilson_interval
from ..workers import STOP, WorkerContext

# Playouts of each position timed in this process to size the tasks.
CALIBRATION_PLAYOUTS = 4
# A task takes at least this many times the measured cost of sending an empty task and
# getting its result, so that this cost stays under 5 % of the playing time.
TASK_COST_FACTOR = 25
# A task whose worker process dies is run again on a new worker, this many times in all at
# most; then its positions are reported as not evaluated.
MAX_TRIES = 3
# One piece of work: (position number, SFEN line, number of playouts).
Item = tuple[int, str, int]
# Its result: (position number, Black wins, White wins, move-limit games, moves played,
# error text); the error text is empty unless a playout failed.
Tally = tuple[int, int, int, int, int, str]
# The result of a task: its tallies, and the wall and CPU seconds its playouts took.
TaskResult = tuple[list[Tally], float, float]


def play_task(items: list[Item]) -> TaskResult:
    """Plays the playouts of one task; returns the tallies and the seconds spent playing.

    Runs in a worker process. It takes and returns plain data only.
    """
    # Imported here rather than at module level: Dask pickles this function by value, and
    # komaban's classes cannot travel with it.
    from komaban import ColorType, Game

    start, cpu_start = time.perf_counter(), time.process_time()
    tallies: list[Tally] = []
    for number, sfen, playouts in items:
        loaded = load_sfen(sfen)
        board, move_number, turn = loaded.board, loaded.move_number, loaded.turn
        over, decided = loaded.is_finished()
        black = white = limit = moves = 0
        error = ""
        for _ in range(playouts):
            if over:
                # random_play returns a finished game as it is, without writing its winner.
                winner = decided
            else:
                try:
                    # A fresh copy of the position for every playout; Game copies the board in.
                    end = Game(board, move_number, turn).random_play()
                except BaseException as exc:  # PanicException derives from BaseException.
                    if type(exc).__name__ != "PanicException":
                        raise
                    error = f"a playout failed: {exc}"
                    break
                winner = end.winner  # written when the game ended; none at the move limit
                moves += int(end.move_number) - int(move_number)
            if winner == ColorType.Black:
                black += 1
            elif winner == ColorType.White:
                white += 1
            else:
                limit += 1
        tallies.append((number, black, white, limit, moves, error))
    return tallies, time.perf_counter() - start, time.process_time() - cpu_start


@dataclass
class Position:
    line: int
    sfen: str


@dataclass
class Evaluation:
    line: int
    sfen: str
    playouts: int = 0
    black_wins: int = 0
    white_wins: int = 0
    move_limit: int = 0
    moves: int = 0

    @property
    def score(self) -> float:
        return (self.black_wins + 0.5 * self.move_limit) / self.playouts

    @property
    def interval(self) -> tuple[float, float]:
        return wilson_interval(self.score, self.playouts)

    @property
    def mean_length(self) -> float:
        return self.moves / self.playouts


def read_positions(lines: Sequence[str]) -> tuple[list[Position], list[str]]:
    """The well-formed positions, and one message per malformed line naming its number."""
    positions: list[Position] = []
    errors: list[str] = []
    for number, text in enumerate(lines, start=1):
        line = text.strip()
        if not line or line.startswith("#"):
            continue
        try:
            load_sfen(line)
        except ValueError as exc:
            errors.append(f"line {number}: {exc}")
        else:
            positions.append(Position(number, line))
    return positions, errors


def plan_tasks(
    positions: Sequence[Position],
    seconds: Sequence[float],
    playouts: int,
    workers: int,
    min_task: float,
    max_task: float,
) -> list[list[Item]]:
    """Splits the playouts into tasks by their estimated time, largest first.

    Each task gets a share of the time left (as in guided scheduling), kept between min_task,
    which keeps the per-task overhead small against the playing time, and max_task. Small
    tasks at the end keep every worker busy until the job is done. A task may hold playouts
    of several positions.
    """
    left = [playouts] * len(positions)
    time_left = sum(playouts * s for s in seconds)
    tasks: list[list[Item]] = []
    i = 0
    while i < len(positions):
        budget = min(max_task, max(min_task, time_left / (2 * workers)))
        task: list[Item] = []
        spent = 0.0
        while i < len(positions) and spent < budget:
            cost = max(seconds[i], 1e-7)
            n = min(left[i], max(1, math.ceil((budget - spent) / cost)))
            task.append((i, positions[i].sfen, n))
            spent += n * cost
            left[i] -= n
            if left[i] == 0:
                i += 1
        time_left -= spent
        tasks.append(task)
    return tasks


def failed_task(task: list[Item], reason: str) -> TaskResult:
    """The result of a task given up: each of its positions carries the reason."""
    return [(number, 0, 0, 0, 0, reason) for number, _, _ in task], 0.0, 0.0


@dataclass(frozen=True)
class Task:
    """A task for a worker of the pool, and how many times it has been tried."""

    items: list[Item]
    tries: int = 1


def serve_task(task: Task, worker: WorkerContext) -> TaskResult:
    """Plays a task in a worker of the pool."""
    return play_task(task.items)


def calibrate(positions: Sequence[Position]) -> tuple[list[Position], list[float], list[str]]:
    """Times a few playouts of each position here, to size the tasks.

    Returns the positions whose playouts ran, the seconds per playout of each, and one
    message per position whose playouts failed.
    """
    kept: list[Position] = []
    seconds: list[float] = []
    errors: list[str] = []
    for position in positions:
        STOP.check()
        tallies, spent, _ = play_task([(0, position.sfen, CALIBRATION_PLAYOUTS)])
        if tallies[0][5]:
            errors.append(f"line {position.line}: {tallies[0][5]}")
        else:
            kept.append(position)
            seconds.append(spent / CALIBRATION_PLAYOUTS)
    return kept, seconds, errors
