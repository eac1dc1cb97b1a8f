"""Matches between USI engines, refereed by cshogi.cli, with a table of the results.

    python tools/usi_match.py komaban random --games 100 --out build/match/random

An ENGINE is the path of a USI executable or one of these names: `komaban`
(the `komaban-usi` command installed beside this interpreter), `random` (the
same command with the option SearchKind random: a uniformly random mover),
`fairy-stockfish` and `gpsusi` (Debian's packages, in /usr/games).

Each game is played by `cshogi.cli` in a process of its own, which judges
every move with cshogi's own rules (illegal moves, fourfold repetition,
perpetual check, the move limit --draw) and keeps the clock; the engines
change colours from game to game. A game that does not end within
--game-timeout seconds, or whose referee fails, is counted as a crash and its
processes are killed. The record of each game is kept as DIR/game-NNN.csa.

Prints one line per game and then a table: wins, draws and losses of the
first engine, its score and Elo difference with a 95 % interval, and the
games lost on an illegal move, on time or by a crash. Exit status 1 if any
game ended that way, or if the share of games won or the interval falls
short of --expect-wins or --expect-elo-above. Beside each record, DIR/game-NNN.html
replays the game (komaban_tools.replay).

A development tool: cshogi (GPL) is needed to run matches (pip install cshogi);
it is never a dependency of komaban.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from collections import Counter
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path

from komaban_tools.records import RecordError
from komaban_tools.replay import write_replay
from komaban_tools.stats import elo_interval

KNOWN = {
    "fairy-stockfish": "/usr/games/fairy-stockfish",
    "gpsusi": "/usr/games/gpsusi",
}
# How cshogi.cli ends a record (its last line), and what the end is called here.
ENDINGS = {
    "%TORYO": "mate or resignation",
    "%SENNICHITE": "repetition",
    "%JISHOGI": "move limit",
    "%KACHI": "entering-King declaration",
    "%+ILLEGAL_ACTION": "perpetual check",
    "%-ILLEGAL_ACTION": "perpetual check",
    "ILLEGAL_MOVE": "perpetual check",  # cshogi writes a perpetual-check loss so
    "%ILLEGAL_MOVE": "illegal move",
    "%TIME_UP": "time",
}
FAULTS = ("illegal move", "time", "crash")
PLURALS = {"illegal move": "illegal moves", "time": "time losses", "crash": "crashes"}


def engine_command(name: str) -> str:
    """The executable for `name` (cshogi starts an engine as one executable without
    arguments): komaban's is the command installed beside this interpreter."""
    if name in ("komaban", "random"):
        name = str(Path(sys.executable).parent / "komaban-usi")
    path = KNOWN.get(name, name)
    found = shutil.which(path)
    if found is None:
        raise SystemExit(f"usi_match.py: engine {name!r} not found")
    return os.path.abspath(found)


def parse_options(text: str) -> dict[str, str]:
    """ "Name:value,Name:value" as cshogi.cli reads --options."""
    options = {}
    for item in filter(None, text.split(",")):
        name, sep, value = item.partition(":")
        if not sep:
            raise SystemExit(f"usi_match.py: option {item!r} is not Name:value")
        options[name] = value
    return options


@dataclass
class GameResult:
    """One game, from the first engine's side."""

    number: int
    first_is_black: bool
    score: float | None  # 1, 1/2, 0 for the first engine; None for a crash
    ending: str
    loser: str | None  # "first" or "second" for a decided game
    plies: int
    seconds: float
    record: Path | None


def record_ending(path: Path) -> tuple[str, int]:
    """How a game ended by its CSA record's last line (as cshogi.cli writes it), and its
    number of moves."""
    lines = [line.strip() for line in path.read_text().splitlines() if line.strip()]
    plies = sum(1 for line in lines if len(line) >= 7 and line[0] in "+-" and line[1].isdigit())
    last = lines[-1] if lines else ""
    return ENDINGS.get(last, f"unknown ending {last!r}"), plies


def per_engine(values: list[int] | None, order: tuple[int, int]) -> list[int] | None:
    """A clock setting given once for both engines or once for each, in playing order."""
    if values is None:
        return None
    both = values * 2 if len(values) == 1 else values
    return [both[order[0]], both[order[1]]]


def referee_game(number: int, args: argparse.Namespace, engines: tuple[str, str]) -> GameResult:
    """Plays game `number` in a cshogi.cli process of its own."""
    first_is_black = number % 2 == 1
    order = (0, 1) if first_is_black else (1, 0)
    directory = args.out / f"game-{number:03d}"
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    options = (parse_options(args.options1), parse_options(args.options2))
    names = (args.name1, args.name2)
    task = {
        "engine1": engines[order[0]],
        "engine2": engines[order[1]],
        "options1": options[order[0]],
        "options2": options[order[1]],
        "names": [names[order[0]], names[order[1]]],
        "games": 1,
        "no_swap": True,
        "byoyomi": per_engine(args.byoyomi, order),
        "time": per_engine(args.time, order),
        "inc": per_engine(args.inc, order),
        "draw": args.draw,
        "csa": str(directory),
        "print_summary": False,
    }
    start = time.monotonic()
    log = directory / "referee.log"
    with log.open("w") as out:
        process = subprocess.Popen(
            [sys.executable, __file__, "--referee", json.dumps(task)],
            stdout=out,
            stderr=subprocess.STDOUT,
            start_new_session=True,  # the engines join its group, to be killed with it
        )
        try:
            status = process.wait(timeout=args.game_timeout)
        except subprocess.TimeoutExpired:
            status = None
        finally:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait()
    seconds = time.monotonic() - start
    records = sorted(directory.glob("*.csa"))
    outcome = directory / "result.json"
    if status != 0 or not records or not outcome.exists():
        return GameResult(number, first_is_black, None, "crash", None, 0, seconds, None)
    record = args.out / f"game-{number:03d}.csa"
    records[0].replace(record)
    ending, plies = record_ending(record)
    result = json.loads(outcome.read_text())
    shutil.rmtree(directory)  # the referee's log: kept only when the game failed
    try:
        write_replay(record, record.with_suffix(".html"))
    except (RecordError, OSError) as error:  # the page is a convenience: say why and go on
        print(f"game {number}: no replay page: {error}", file=sys.stderr)
    first_won = result["engine1_won"] if first_is_black else result["engine2_won"]
    second_won = result["engine2_won"] if first_is_black else result["engine1_won"]
    if first_won:
        score, loser = 1.0, "second"
    elif second_won:
        score, loser = 0.0, "first"
    else:
        score, loser = 0.5, None
    return GameResult(number, first_is_black, score, ending, loser, plies, seconds, record)


def referee(task_text: str) -> int:
    """The game process: one game under cshogi.cli, its result written beside the record."""
    from cshogi import cli

    task = json.loads(task_text)
    result = cli.main(**task)
    Path(task["csa"], "result.json").write_text(json.dumps(result))
    return 0


def shortfalls(results: Sequence[GameResult], args: argparse.Namespace) -> list[str]:
    """What the results fall short of: --expect-wins and --expect-elo-above."""
    decided = [r for r in results if r.score is not None]
    if not decided:
        return ["no game was decided"]
    wins = sum(r.score == 1 for r in decided)
    draws = sum(r.score == 0.5 for r in decided)
    missing = []
    if args.expect_wins is not None and wins < args.expect_wins * len(results) - 1e-9:
        missing.append(f"{wins} of {len(results)} games won, below {args.expect_wins:.0%}")
    low = elo_interval(wins, draws, len(decided) - wins - draws)[1]
    if args.expect_elo_above is not None and not low > args.expect_elo_above:
        missing.append(f"the Elo interval does not lie above {args.expect_elo_above:+g}")
    return missing


def table(results: Sequence[GameResult], names: tuple[str, str]) -> str:
    decided = [r for r in results if r.score is not None]
    wins = sum(r.score == 1 for r in decided)
    draws = sum(r.score == 0.5 for r in decided)
    losses = sum(r.score == 0 for r in decided)
    lines = [f"{names[0]} against {names[1]}: {len(results)} games"]
    if decided:
        diff, low, high = elo_interval(wins, draws, losses)
        score = (wins + draws / 2) / len(decided)
        lines += [
            f"  wins {wins}, draws {draws}, losses {losses}; score {100 * score:.1f} %",
            f"  Elo difference {diff:+.0f}, 95 % interval {low:+.0f} to {high:+.0f}",
        ]
    endings = Counter(r.ending for r in results)
    lines.append("  endings: " + ", ".join(f"{k} {v}" for k, v in endings.most_common()))
    for fault in FAULTS:
        by = Counter(r.loser or "?" for r in results if r.ending == fault)
        lines.append(
            f"  {PLURALS[fault]}: "
            f"{names[0]} {by['first']}, {names[1]} {by['second']}"
            + (f", unknown {by['?']}" if by["?"] else "")
        )
    mean_plies = sum(r.plies for r in decided) / max(len(decided), 1)
    lines.append(f"  mean length {mean_plies:.0f} plies")
    return "\n".join(lines)


def parse_args(argv: Sequence[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("engine1")
    parser.add_argument("engine2")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--options1", default="", help="Name:value,... for engine1")
    parser.add_argument("--options2", default="", help="Name:value,... for engine2")
    parser.add_argument("--name1", help="engine1's name in the table (default: its own)")
    parser.add_argument("--name2")
    for name, text in [
        ("--byoyomi", "milliseconds per move"),
        ("--time", "main time in milliseconds"),
        ("--inc", "increment per move in milliseconds"),
    ]:
        parser.add_argument(name, type=int, nargs="+", metavar="MS", help=text + " (1 or 2)")
    parser.add_argument("--draw", type=int, default=256, help="moves before a draw (256)")
    parser.add_argument("--concurrency", type=int, default=1, help="games at once (1)")
    parser.add_argument("--game-timeout", type=float, default=1800, help="seconds (1800)")
    parser.add_argument("--out", type=Path, default=Path("build/match"))
    parser.add_argument(
        "--expect-wins", type=float, help="fail unless this share of the games is won (0 to 1)"
    )
    parser.add_argument(
        "--expect-elo-above", type=float, help="fail unless the 95 %% Elo interval lies above"
    )
    args = parser.parse_args(argv)
    if args.games < 1 or args.concurrency < 1:
        parser.error("--games and --concurrency must be at least 1")
    for name in ("byoyomi", "time", "inc"):
        if len(getattr(args, name) or ()) > 2:
            parser.error(f"--{name} takes one value, or one per engine")
    return args


def main(argv: Sequence[str]) -> int:
    if len(argv) == 2 and argv[0] == "--referee":
        return referee(argv[1])
    args = parse_args(argv)
    try:
        import cshogi  # noqa: F401
    except ImportError:
        print("usi_match.py: cshogi is needed (pip install cshogi)", file=sys.stderr)
        return 2
    args.out = args.out.resolve()  # cshogi starts each engine in its own directory
    args.out.mkdir(parents=True, exist_ok=True)
    engines = (engine_command(args.engine1), engine_command(args.engine2))
    if args.engine1 == "random":
        args.options1 = f"SearchKind:random,{args.options1}"
    if args.engine2 == "random":
        args.options2 = f"SearchKind:random,{args.options2}"
    names = (args.name1 or args.engine1, args.name2 or args.engine2)
    args.name1, args.name2 = names
    results: list[GameResult] = []
    start = time.monotonic()
    with ThreadPoolExecutor(args.concurrency) as pool:
        futures = [pool.submit(referee_game, n, args, engines) for n in range(1, args.games + 1)]
        for future in futures:
            r = future.result()
            results.append(r)
            colour = "Black" if r.first_is_black else "White"
            score = "crash" if r.score is None else {1.0: "won", 0.5: "drew", 0.0: "lost"}[r.score]
            print(
                f"game {r.number:3d}: {names[0]} as {colour} {score}, {r.ending}, "
                f"{r.plies} plies, {r.seconds:.0f} s",
                flush=True,
            )
    summary = table(results, names)
    summary += f"\n  wall time {(time.monotonic() - start) / 60:.0f} min"
    missing = shortfalls(results, args)
    if missing:
        summary += "\n  FALLS SHORT: " + "; ".join(missing)
    print(summary)
    (args.out / "summary.txt").write_text(summary + "\n")
    return 1 if missing or any(r.ending in FAULTS for r in results) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
