"""A USI shogi engine on komaban: Monte Carlo tree search over native random playouts.

Run it as `python examples/usi_engine.py` (or through usi_engine.sh /
usi_engine.bat, which start it with the project's venv) and speak USI on
standard input and output, as shogi GUIs (ShogiHome, ShogiGUI, Shogidokoro)
and match runners (cshogi.cli) do. It plays standard shogi: its moves come
from shogi_rules.legal_moves; the search is mcts_search's, on worker
processes started at `isready`.

Options (setoption name N value V):
  Workers         worker processes searching the root in parallel (default: the cores)
  PlayoutsPerLeaf random games that score each new leaf (default 8)
  SearchKind      tree (UCT) or flat (flat Monte Carlo)
  TimeMargin      milliseconds kept in hand for the GUI's latency (default 250)
  MaxPlayouts     playouts per move at most, 0 for no limit (default 0)
  Exploration     the UCB1 constant in hundredths (default 100)
  MatePlies       depth of the mate search run before the playouts, 0 for none (default 3)

With --random it is a uniformly random mover instead: every move drawn
uniformly from the legal moves, at once.

Set KOMABAN_USI_LOG to a file name to log every line in and out (an engine
must not write much to its standard error: GUIs and cshogi leave it unread).
"""

from __future__ import annotations

import os
import random
import re
import sys
import threading
import time
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import TextIO

sys.path.insert(0, str(Path(__file__).resolve().parent))

from mcts_search import (  # noqa: E402
    ParallelSearch,
    Settings,
    centipawns,
    choose,
    cpu_count,
    merge,
    usi_text,
)
from shogi_rules import GameState  # noqa: E402

ENGINE_NAME = "komaban MCTS"
AUTHOR = "the komaban developers"
DEFAULT_THINK_MS = 1000  # for a bare "go"


@dataclass
class Option:
    """A USI option: its type line and how a value is read."""

    usi_type: str
    default: int | str
    low: int = 0
    high: int = 0
    choices: tuple[str, ...] = ()

    def declaration(self, name: str) -> str:
        if self.usi_type == "spin":
            return (
                f"option name {name} type spin default {self.default} "
                f"min {self.low} max {self.high}"
            )
        vars_ = " ".join(f"var {c}" for c in self.choices)
        return f"option name {name} type combo default {self.default} {vars_}"

    def parse(self, value: str) -> int | str:
        if self.usi_type == "spin":
            number = int(value)
            if not self.low <= number <= self.high:
                raise ValueError(f"{number} is not within {self.low} to {self.high}")
            return number
        if value not in self.choices:
            raise ValueError(f"{value!r} is not one of {', '.join(self.choices)}")
        return value


OPTIONS = {
    "Workers": Option("spin", cpu_count(), 1, 256),
    "PlayoutsPerLeaf": Option("spin", 8, 1, 1024),
    "SearchKind": Option("combo", "tree", choices=("tree", "flat")),
    "TimeMargin": Option("spin", 250, 0, 60000),
    "MaxPlayouts": Option("spin", 0, 0, (1 << 31) - 1),
    "Exploration": Option("spin", 100, 1, 1000),
    "MatePlies": Option("spin", 3, 0, 7),
}


@dataclass
class Limits:
    """The parameters of a `go` command (times in milliseconds)."""

    btime: int | None = None
    wtime: int | None = None
    binc: int = 0
    winc: int = 0
    byoyomi: int = 0
    movetime: int | None = None
    nodes: int | None = None
    infinite: bool = False
    ponder: bool = False


GO_NUMBERS = ("btime", "wtime", "binc", "winc", "byoyomi", "movetime", "nodes")


def parse_go(words: list[str]) -> Limits:
    """Reads the words after "go"; ValueError for a malformed command."""
    limits = Limits()
    i = 0
    while i < len(words):
        word = words[i]
        if word in GO_NUMBERS:
            if i + 1 >= len(words) or not re.fullmatch(r"-?\d+", words[i + 1]):
                raise ValueError(f"go {word} needs a number")
            setattr(limits, word, max(0, int(words[i + 1])))
            i += 2
            continue
        if word == "infinite":
            limits.infinite = True
        elif word == "ponder":
            limits.ponder = True
        elif word == "mate":
            raise ValueError("go mate is not supported")
        else:
            raise ValueError(f"unknown go parameter {word!r}")
        i += 1
    return limits


def think_time(limits: Limits, black: bool, margin: int) -> float | None:
    """Seconds to search for, or None to search until stopped (or a playout limit).

    Never more than the time left plus the byoyomi, less the margin: the main
    time is spread over about 25 more moves, and the increment and byoyomi
    are used in full.
    """
    if limits.infinite or limits.ponder:
        return None
    if limits.movetime is not None:
        return max(limits.movetime - margin, limits.movetime // 2) / 1000
    left = limits.btime if black else limits.wtime
    if left is None and not limits.byoyomi:
        return None if limits.nodes is not None else DEFAULT_THINK_MS / 1000
    left = left or 0
    increment = limits.binc if black else limits.winc
    available = left + limits.byoyomi + increment
    target = left / 25 + increment + limits.byoyomi
    return max(0.0, min(target, available - margin)) / 1000


class UsiEngine:
    """The protocol: reads commands, keeps the position, runs searches in a thread."""

    def __init__(self, out: TextIO, random_mover: bool = False) -> None:
        self.out = out
        self.random_mover = random_mover
        self.lock = threading.Lock()
        self.values: dict[str, int | str] = {n: o.default for n, o in OPTIONS.items()}
        self.position: tuple[str, list[str]] | None = None
        self.state: GameState | None = None
        self.pool: ParallelSearch | None = None
        self.thread: threading.Thread | None = None
        self.stop_event = threading.Event()
        self.ponderhit_event = threading.Event()
        self.quiet = False  # a stopped search that must not answer (after gameover)
        log = os.environ.get("KOMABAN_USI_LOG")
        self.log = open(log, "a", buffering=1) if log else None  # noqa: SIM115

    # ---- output -------------------------------------------------------------
    def send(self, line: str) -> None:
        with self.lock:
            self.out.write(line + "\n")
            self.out.flush()
            if self.log:
                self.log.write(f"> {line}\n")

    def info_string(self, text: str) -> None:
        self.send("info string " + " ".join(text.split()))

    # ---- commands -----------------------------------------------------------
    def handle(self, line: str) -> bool:
        """Runs one command line; False after `quit`."""
        if self.log:
            self.log.write(f"< {line.rstrip()}\n")
        words = line.split()
        if not words:
            return True
        command, args = words[0], words[1:]
        handler: Callable[[list[str]], bool | None] | None = getattr(self, "cmd_" + command, None)
        if handler is None:
            self.info_string(f"unknown command {command!r} ignored")
            return True
        try:
            return handler(args) is not False
        except Exception as error:  # bad input must never end the engine
            self.info_string(f"error in {command}: {error}")
            return True

    def cmd_usi(self, args: list[str]) -> None:
        name = ENGINE_NAME + (" random mover" if self.random_mover else "")
        self.send(f"id name {name}")
        self.send(f"id author {AUTHOR}")
        if not self.random_mover:
            for option_name, option in OPTIONS.items():
                self.send(option.declaration(option_name))
        self.send("usiok")

    def cmd_isready(self, args: list[str]) -> None:
        if not self.random_mover and self.thread is None:
            self._pool()
        self.send("readyok")

    def cmd_setoption(self, args: list[str]) -> None:
        text = " ".join(args)
        match = re.fullmatch(r"name (.+?)(?: value (.*))?", text)  # names may hold spaces
        if not match:
            raise ValueError(f"malformed setoption {text!r}")
        name, value = match[1], (match[2] or "").strip()
        if name.startswith("USI_"):  # USI_Hash, USI_Ponder: GUIs send them to every engine
            return
        option = OPTIONS.get(name)
        if option is None:
            self.info_string(f"unknown option {name!r} ignored")
            return
        self.values[name] = option.parse(value)

    def cmd_usinewgame(self, args: list[str]) -> None:
        self._stop_search(quiet=True)

    def cmd_position(self, args: list[str]) -> None:
        self.position, self.state = None, None
        if not args:
            raise ValueError("position needs startpos or sfen")
        if "moves" in args:
            at = args.index("moves")
            head, moves = args[:at], args[at + 1 :]
        else:
            head, moves = args, []
        if head == ["startpos"]:
            sfen = "startpos"
        elif head and head[0] == "sfen" and len(head) == 5:
            sfen = " ".join(head[1:])
        else:
            raise ValueError(f"malformed position {' '.join(head)!r}")
        state = GameState.from_sfen(sfen)
        for number, usi in enumerate(moves, 1):
            try:
                state.push_usi(usi)
            except ValueError as error:
                raise ValueError(f"move {number}: {error}") from None
        self.position, self.state = (sfen, moves), state

    def cmd_go(self, args: list[str]) -> None:
        limits = parse_go(args)
        self._stop_search(quiet=True)
        if self.state is None:
            self.info_string("error: no valid position, resigning")
            self.send("bestmove resign")
            return
        legal = self.state.legal_moves()
        if not legal:
            self.send("bestmove resign")
            return
        if self.random_mover:
            if limits.infinite or limits.ponder:
                self.stop_event.clear()
                self.quiet = False
                self.thread = threading.Thread(
                    target=self._answer_on_stop, args=(usi_text(random.choice(legal)),)
                )
                self.thread.start()
            else:
                self.send(f"bestmove {usi_text(random.choice(legal))}")
            return
        self.stop_event.clear()
        self.ponderhit_event.clear()
        self.quiet = False
        self.thread = threading.Thread(
            target=self._search, args=(limits, self.state, self.position), daemon=True
        )
        self.thread.start()

    def cmd_stop(self, args: list[str]) -> None:
        self._stop_search(quiet=False)

    def cmd_ponderhit(self, args: list[str]) -> None:
        self.ponderhit_event.set()

    def cmd_gameover(self, args: list[str]) -> None:
        self._stop_search(quiet=True)

    def cmd_quit(self, args: list[str]) -> bool:
        self.close()
        return False

    # ---- searching ----------------------------------------------------------
    def _pool(self) -> ParallelSearch:
        workers = int(self.values["Workers"])
        if self.pool is not None and self.pool.workers != workers:
            self.pool.close()
            self.pool = None
        if self.pool is None:
            self.pool = ParallelSearch(workers)
        return self.pool

    def _settings(self) -> Settings:
        return Settings(
            kind=str(self.values["SearchKind"]),
            playouts_per_leaf=int(self.values["PlayoutsPerLeaf"]),
            exploration=int(self.values["Exploration"]) / 100,
            mate_plies=int(self.values["MatePlies"]),
        )

    def _stop_search(self, quiet: bool) -> None:
        """Stops a running search; it answers with bestmove unless `quiet`."""
        if self.thread is not None:
            self.quiet = quiet
            self.stop_event.set()
            self.thread.join()
            self.thread = None

    def _answer_on_stop(self, move: str) -> None:
        self.stop_event.wait()
        if not self.quiet:
            self.send(f"bestmove {move}")

    def _search(self, limits: Limits, state: GameState, position: tuple[str, list[str]]) -> None:
        start = time.monotonic()
        margin = int(self.values["TimeMargin"])
        budget = think_time(limits, state.turn == 0, margin)
        cap = int(self.values["MaxPlayouts"]) or None
        playout_limit = min(x for x in (limits.nodes, cap, 1 << 62) if x is not None)
        waiting = limits.infinite or limits.ponder  # bestmove only after stop (or ponderhit)
        try:
            pool = self._pool()
            # The mate search (first worker only) takes at most a third of the time.
            mate_seconds = budget / 3 if budget is not None else 2.0
            pool.start(*position, self._settings(), playout_limit, mate_seconds)
            next_info = start + 1.0
            while not self.stop_event.is_set():
                if limits.ponder and self.ponderhit_event.is_set():
                    # The opponent played the move pondered on: think as for a normal move.
                    limits.ponder, waiting, start = False, limits.infinite, time.monotonic()
                    budget = think_time(limits, state.turn == 0, margin)
                if pool.running:
                    done = pool.poll(0.005)
                else:  # the workers are done (a playout limit, or a proof): wait for stop
                    done = True
                    self.stop_event.wait(0.005)
                now = time.monotonic()
                if not waiting and (done or (budget is not None and now - start >= budget)):
                    break
                if now >= next_info:
                    self._info(pool, start)
                    next_info = now + 1.0
            pool.finish()
            choice = None if self.quiet else self._info(pool, start)
        except Exception as error:  # a worker died: answer all the same, with a fresh pool
            self.info_string(f"search error: {error}")
            if self.pool is not None:
                self.pool.close()
                self.pool = None
            choice = None
        if self.quiet:
            return
        move = choice if choice is not None else usi_text(random.choice(state.legal_moves()))
        self.send(f"bestmove {move}")

    def _info(self, pool: ParallelSearch, start: float) -> str | None:
        """Prints an info line for the search so far; the move it would play."""
        summaries = pool.summaries()
        children = merge(summaries)
        if not children:
            return None
        choice = choose(children)
        playouts = sum(s.playouts for s in summaries)
        elapsed = max(time.monotonic() - start, 1e-3)
        if choice.mate is not None:
            score = f"mate {choice.mate}"
        else:
            score = f"cp {centipawns(choice.win_rate)}"
        depth = len(choice.pv)
        seldepth = max((s.depth for s in summaries), default=depth)
        self.send(
            f"info depth {depth} seldepth {max(seldepth, depth)} time {round(elapsed * 1000)} "
            f"nodes {playouts} nps {round(playouts / elapsed)} score {score} "
            f"pv {' '.join(choice.pv)}"
        )
        return choice.move

    def close(self) -> None:
        self._stop_search(quiet=True)
        if self.pool is not None:
            self.pool.close()
            self.pool = None
        if self.log:
            self.log.close()
            self.log = None


def main(argv: list[str]) -> int:
    engine = UsiEngine(sys.stdout, random_mover="--random" in argv)
    try:
        for line in sys.stdin:
            if not engine.handle(line):
                break
    except KeyboardInterrupt:
        engine.close()
        return 130
    engine.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
