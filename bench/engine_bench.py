"""Benchmarks the engine: the legality filter, the search's playout rate, stop.

1. The standard-rules filter (komaban_tools.rules.analyse, komaban's search_moves
   included) on every position of random legal games: the mean cost per
   position, and that of search_moves alone.
2. Playouts per second of the tree search with its default settings, of the
   plain tree search (playouts alone) and of flat Monte Carlo on one core (in
   this process, as one worker runs them), divided by bare Game.random_play()
   games per second from the same positions: the playouts' share of the time.
   The four are interleaved position by position.
3. The latency of `stop` after `go infinite`: the installed `komaban-usi`'s wall
   time from the command to its bestmove line, through a pipe, as a GUI sees
   it; half the stops come while the mate search that opens a search is running.

Every figure is the median of several rounds. Usage:
    python bench/engine_bench.py [--games 40] [--seconds 1.0] [--rounds 3]
"""

from __future__ import annotations

import argparse
import random
import statistics
import subprocess
import sys
import time
from dataclasses import replace
from pathlib import Path

from komaban import Board, ColorType, Game
from komaban_tools.rules import GameState, analyse
from komaban_tools.search import PLAIN, Settings, make_search


def random_game_positions(games: int, seed: int) -> list[tuple[Board, ColorType]]:
    """Every position of `games` games of uniformly random legal moves, to the end."""
    rng = random.Random(seed)
    positions = []
    for _ in range(games):
        state = GameState.from_sfen("startpos")
        while state.outcome() is None and state.move_number <= 512:
            positions.append((state.board, state.color))
            state = state.copy()
            state.push(rng.choice(state.legal_moves()))
    return positions


def per_position_us(positions: list[tuple[Board, ColorType]], work: object) -> float:
    start = time.perf_counter()
    for board, color in positions:
        work(board, color)  # type: ignore[operator]
    return (time.perf_counter() - start) / len(positions) * 1e6


def filter_cost(positions: list[tuple[Board, ColorType]], rounds: int) -> None:
    legal = statistics.mean(len(analyse(b, c)[0]) for b, c in positions)
    checks = statistics.mean(analyse(b, c)[1] for b, c in positions)
    listed = statistics.mean(len(b.search_moves(c)) for b, c in positions)
    full = [per_position_us(positions, analyse) for _ in range(rounds)]
    bare = [per_position_us(positions, lambda b, c: b.search_moves(c)) for _ in range(rounds)]
    print(
        f"legality filter over {len(positions):,} positions of random games "
        f"({listed:.1f} moves listed, {legal:.1f} legal, {100 * checks:.1f} % in check):"
    )
    print(f"  analyse (search_moves included)  {statistics.median(full):6.1f} µs per position")
    print(f"  search_moves alone               {statistics.median(bare):6.1f} µs per position")


def playout_ratio(states: list[GameState], seconds: float, rounds: int) -> None:
    """Each search's playouts per second on one core, divided by bare random play's
    from the same positions, interleaved position by position (mate search off)."""
    searches = {
        "tree (the defaults)": Settings(mate_plies=0),
        "tree (PLAIN: playouts alone)": replace(PLAIN, mate_plies=0),
        "flat Monte Carlo": replace(PLAIN, mate_plies=0, kind="flat"),
    }
    ratios: dict[str, list[float]] = {name: [] for name in searches}
    rates: dict[str, list[float]] = {"bare": [], **{name: [] for name in searches}}
    for _ in range(rounds):
        counts = dict.fromkeys(rates, 0.0)
        for state in states:
            board, color = state.board, state.color
            start, n = time.perf_counter(), 0
            while time.perf_counter() - start < seconds:
                for _ in range(10):
                    Game(board, 1, color).random_play()
                n += 10
            counts["bare"] += n / (time.perf_counter() - start)
            for name, settings in searches.items():
                search = make_search(state, settings)
                start = time.perf_counter()
                while time.perf_counter() - start < seconds:
                    search.step()
                counts[name] += search.playouts / (time.perf_counter() - start)
        for name in rates:
            rates[name].append(counts[name] / len(states))
        for name in ratios:
            ratios[name].append(counts[name] / counts["bare"])
    print(f"playouts per second on one core, {len(states)} positions, {seconds:g} s each:")
    print(f"  {'bare Game.random_play()':<30} {statistics.median(rates['bare']):8,.0f}")
    for name, settings in searches.items():
        print(
            f"  {name:<30} {statistics.median(rates[name]):8,.0f}  share "
            f"{statistics.median(ratios[name]):.2f} (rounds {min(ratios[name]):.2f} to "
            f"{max(ratios[name]):.2f}; {settings.playouts_per_leaf} playouts a leaf)"
        )


def stop_latency(repeats: int) -> None:
    engine = subprocess.Popen(
        [str(Path(sys.executable).parent / "komaban-usi")],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
        bufsize=1,
    )
    assert engine.stdin is not None and engine.stdout is not None

    def send(line: str) -> None:
        assert engine.stdin is not None
        engine.stdin.write(line + "\n")
        engine.stdin.flush()

    def wait_for(prefix: str) -> None:
        assert engine.stdout is not None
        while not engine.stdout.readline().startswith(prefix):
            pass

    send("usi")
    wait_for("usiok")
    send("isready")
    wait_for("readyok")
    # Half the stops come 0.5 s into the search, half 20 ms in, while the mate
    # search that starts it is still running (on a position with thousands of
    # checks to try).
    positions = ["startpos moves 7g7f 3c3d", "sfen 4k4/9/9/9/9/9/9/9/4K4 b RBGSNLPrbgsnlp 1"]
    latencies = []
    for i in range(repeats):
        send(f"position {positions[i % 2]}")
        send("go infinite")
        time.sleep(0.02 if i % 2 else 0.5)
        start = time.perf_counter()
        send("stop")
        wait_for("bestmove")
        latencies.append((time.perf_counter() - start) * 1000)
    send("quit")
    engine.wait()
    print(
        f"stop after go infinite, {repeats} times: median {statistics.median(latencies):.1f} ms, "
        f"longest {max(latencies):.1f} ms"
    )


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--games", type=int, default=40, help="random games for the filter")
    parser.add_argument("--positions", type=int, default=12, help="positions for the ratio")
    parser.add_argument("--seconds", type=float, default=1.0, help="per position and kind")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args(argv)
    positions = random_game_positions(args.games, seed=1)
    filter_cost(positions, args.rounds)
    # Positions for the ratio: from the opening to the late middle game of random games.
    rng = random.Random(2)
    states: list[GameState] = []
    while len(states) < args.positions:
        state = GameState.from_sfen("startpos")
        for _ in range(rng.randrange(0, 80)):
            if state.outcome() is not None:
                break
            state.push(rng.choice(state.legal_moves()))
        if state.outcome() is None:
            states.append(state)
    playout_ratio(states, args.seconds, args.rounds)
    stop_latency(20)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
