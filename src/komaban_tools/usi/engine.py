"""The USI front end: reads commands, keeps the position, runs searches in a thread.

`UsiEngine.handle(line)` runs one command line; `main()` is the `komaban-usi`
command, which speaks USI on standard input and output as shogi GUIs
(ShogiHome, ShogiGUI, Shogidokoro) and match runners (cshogi.cli) do. It
plays standard shogi: its moves come from `komaban_tools.rules`, its search
is `komaban_tools.search`'s, on worker processes started at `isready`. With
`--random` it is a uniformly random mover instead: every move drawn uniformly
from the legal moves, at once.

Set KOMABAN_USI_LOG to a file name to log every line in and out (an engine
must not write much to its standard error: GUIs and cshogi leave it unread).
"""

from __future__ import annotations

import argparse
import os
import random
import re
import sys
import threading
import time
from collections.abc import Callable
from typing import TextIO

from ..notation import usi_text
from ..rules import GameState
from ..search import Choice, ParallelSearch, Settings, centipawns, choose, merge
from ..search.dfpn import solve_state
from ..workers import STOP, Interrupted
from .options import DEFAULT_THINK_MS, OPTIONS, Limits, parse_go, think_time

ENGINE_NAME = "komaban MCTS"
AUTHOR = "the komaban developers"
# A search of one's own: the move to play, in USI text, in a position under a
# `go` command's limits (a position with legal moves only). It runs in the
# thread that reads the commands, so it should keep to the limits.
Mover = Callable[[GameState, Limits], str]


def random_move(state: GameState, limits: Limits) -> str:
    """A move drawn uniformly from the legal moves."""
    return usi_text(random.choice(state.legal_moves()))


class UsiEngine:
    """The protocol: reads commands, keeps the position, runs searches in a thread."""

    def __init__(self, out: TextIO, mover: Mover | None = None, name: str = ENGINE_NAME) -> None:
        self.out = out
        self.mover = mover
        self.name = name
        self.lock = threading.Lock()
        self.values: dict[str, int | str] = {n: o.default for n, o in OPTIONS.items()}
        self.position: tuple[str, list[str]] | None = None
        self.state: GameState | None = None
        self.pool: ParallelSearch | None = None
        self.thread: threading.Thread | None = None
        self.stop_event = threading.Event()
        self.ponderhit_event = threading.Event()
        self.quiet = False  # a stopped search that must not answer (on quit)
        self.ponder = False  # USI_Ponder: the GUI ponders on the move a bestmove names
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
        self.send(f"id name {self.name}")
        self.send(f"id author {AUTHOR}")
        if self.mover is None:
            for option_name, option in OPTIONS.items():
                self.send(option.declaration(option_name))
        self.send("usiok")

    def cmd_isready(self, args: list[str]) -> None:
        if self._mover() is None and self.thread is None:
            self._pool()
        self.send("readyok")

    def cmd_setoption(self, args: list[str]) -> None:
        text = " ".join(args)
        match = re.fullmatch(r"name (.+?)(?: value (.*))?", text)  # names may hold spaces
        if not match:
            raise ValueError(f"malformed setoption {text!r}")
        name, value = match[1], (match[2] or "").strip()
        if name == "USI_Ponder":  # whether a bestmove names the move to ponder on
            self.ponder = value == "true"
            return
        if name.startswith("USI_"):  # USI_Hash and others: GUIs send them to every engine
            return
        option = OPTIONS.get(name)
        if option is None:
            self.info_string(f"unknown option {name!r} ignored")
            return
        self.values[name] = option.parse(value)

    def cmd_usinewgame(self, args: list[str]) -> None:
        self._stop_search(quiet=False)

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
        try:
            limits = parse_go(args)
        except ValueError as error:  # answered all the same: a GUI waits for the answer
            limits = Limits(mate="mate" in args)
            if limits.mate:
                limits.mate_time = DEFAULT_THINK_MS
            self.info_string(f"error in go: {error}; searching as for a bare go")
        # A search still running (a GUI that sent no stop) answers before this one starts.
        self._stop_search(quiet=False)
        if limits.mate:
            self._go_mate(limits)
            return
        if self.state is None:
            self.info_string("error: no valid position, resigning")
            self.send("bestmove resign")
            return
        legal = self.state.legal_moves()
        if not legal:
            self.send("bestmove resign")
            return
        mover = self._mover()
        if mover is not None:
            try:
                move = mover(self.state, limits)
            except Exception as error:  # every go is answered, a faulty search's too
                self.info_string(f"search error: {error}")
                move = random_move(self.state, limits)
            if limits.infinite or limits.ponder:  # the answer waits for stop
                self.stop_event.clear()
                self.quiet = False
                self.thread = threading.Thread(
                    target=self._answer_on_stop, args=(move, limits.ponder)
                )
                self.thread.start()
            else:
                self.send(f"bestmove {move}")
            return
        try:
            pool = self._pool()  # here, not in the search's thread: it may start processes
        except Exception as error:
            self.info_string(f"search error: {error}")
            self.send(f"bestmove {usi_text(random.choice(legal))}")
            return
        self.stop_event.clear()
        self.ponderhit_event.clear()
        self.quiet = False
        self.thread = threading.Thread(
            target=self._search, args=(pool, limits, self.state, self.position), daemon=True
        )
        self.thread.start()

    def _go_mate(self, limits: Limits) -> None:
        """go mate: the mate solver in the search thread, answered by one checkmate line
        (no bestmove); stop ends it at once with checkmate timeout."""
        if self.state is None:
            self.send("checkmate nomate")  # no position, nothing to mate
            return
        deadline = None
        if limits.mate_time is not None:
            deadline = time.monotonic() + limits.mate_time / 1000
        self.stop_event.clear()
        self.quiet = False
        self.thread = threading.Thread(
            target=self._mate_search, args=(self.state, deadline), daemon=True
        )
        self.thread.start()

    def _mate_search(self, state: GameState, deadline: float | None) -> None:
        try:
            result = solve_state(state, deadline=deadline, stopped=self.stop_event.is_set)
            answer = " ".join(map(usi_text, result.line)) if result.line else result.status
        except Exception as error:  # answered all the same
            self.info_string(f"mate search error: {error}")
            answer = "timeout"
        if not self.quiet:
            self.send(f"checkmate {answer}")

    def cmd_stop(self, args: list[str]) -> None:
        self._stop_search(quiet=False)

    def cmd_ponderhit(self, args: list[str]) -> None:
        self.ponderhit_event.set()

    def cmd_gameover(self, args: list[str]) -> None:
        self._stop_search(quiet=False)  # a ponder search still answers its go

    def cmd_quit(self, args: list[str]) -> bool:
        self.close()
        return False

    # ---- searching ----------------------------------------------------------
    def _mover(self) -> Mover | None:
        """The search of one's own, or the random mover; None for the tree search."""
        if self.mover is None and self.values["SearchKind"] == "random":
            return random_move
        return self.mover

    def _pool(self) -> ParallelSearch:
        workers = int(self.values["Workers"])
        if self.pool is not None and self.pool.workers != workers:
            self.pool.close()
            self.pool = None
        if self.pool is None:
            self.pool = ParallelSearch(workers)
        return self.pool

    def _settings(self) -> Settings:
        values = self.values
        return Settings(
            kind=str(values["SearchKind"]),
            playouts_per_leaf=int(values["PlayoutsPerLeaf"]),
            exploration=int(values["Exploration"]) / 100,
            mate_plies=int(values["MatePlies"]),
            mate_solver=str(values["MateSolver"]),
            eval_weight=int(values["EvalWeight"]) / 100,
            minimax_weight=int(values["MinimaxWeight"]) / 100,
            prior_weight=int(values["PriorWeight"]) / 100,
            widening=int(values["Widening"]) / 100,
            king_weight=int(values["KingSafety"]) / 100,
            expand_after=int(values["ExpandAfter"]),
            decisive=values["DecisiveMoves"] == "true",
            reuse=values["ReuseTree"] == "true",
        )

    def _stop_search(self, quiet: bool) -> None:
        """Stops a running search; it answers with bestmove unless `quiet`."""
        if self.thread is not None:
            self.quiet = quiet
            self.stop_event.set()
            self.thread.join()
            self.thread = None

    def _answer_on_stop(self, move: str, ponder: bool) -> None:
        while not self.stop_event.wait(0.005):
            if ponder and self.ponderhit_event.is_set():
                break  # the move pondered on was played: answer now
        if not self.quiet:
            self.send(f"bestmove {move}")

    def _search(
        self,
        pool: ParallelSearch,
        limits: Limits,
        state: GameState,
        position: tuple[str, list[str]],
    ) -> None:
        start = time.monotonic()
        margin = int(self.values["TimeMargin"])
        budget = think_time(limits, state.turn == 0, margin)
        cap = int(self.values["MaxPlayouts"]) or None
        playout_limit = min(x for x in (limits.nodes, cap, 1 << 62) if x is not None)
        waiting = limits.infinite or limits.ponder  # bestmove only after stop (or ponderhit)
        try:
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
            for error in pool.errors:  # a worker that died was replaced; the others went on
                self.info_string(error)
            choice = None if self.quiet else self._info(pool, start)
            if choice is not None:
                ponder = choice.pv[1:2] if self.ponder else []
                best = " ponder ".join([choice.move, *ponder])
        except Exception as error:  # answer all the same, with a fresh pool next time
            self.info_string(f"search error: {error}")
            if self.pool is pool:
                self.pool = None
            pool.close()
            choice = None
        if self.quiet:
            return
        if choice is None:
            best = usi_text(random.choice(state.legal_moves()))
        self.send(f"bestmove {best}")

    def _info(self, pool: ParallelSearch, start: float) -> Choice | None:
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
        return choice

    def close(self) -> None:
        self._stop_search(quiet=True)
        if self.pool is not None:
            self.pool.close()
            self.pool = None
        if self.log:
            self.log.close()
            self.log = None


def serve(engine: UsiEngine, commands: TextIO | None = None) -> int:
    """Runs an engine on USI commands (standard input by default) until `quit` or their
    end; returns the exit status: 0, or 130 after Ctrl-C (143 after SIGTERM)."""
    if commands is None:
        # Bytes that are not UTF-8 must not end the engine: they are read as U+FFFD.
        if hasattr(sys.stdin, "reconfigure"):
            sys.stdin.reconfigure(encoding="utf-8", errors="replace")
        commands = sys.stdin
    with STOP.installed():
        try:
            while True:
                with STOP.interruptible():
                    line = commands.readline()
                if not line or not engine.handle(line):
                    break
        except Interrupted as stop:
            engine.close()
            return stop.exit_status
    engine.close()
    return 0


def main(argv: list[str] | None = None) -> int:
    """The `komaban-usi` command: USI on standard input and output until `quit`."""
    parser = argparse.ArgumentParser(
        prog="komaban-usi",
        description="A USI shogi engine on komaban: Monte Carlo tree search over native "
        "random playouts. Register it in a shogi GUI, or run it under a match runner.",
    )
    parser.add_argument(
        "--random",
        action="store_true",
        help="play uniformly random legal moves instead (the option SearchKind random)",
    )
    args = parser.parse_args(argv)
    engine = UsiEngine(sys.stdout)
    if args.random:
        engine.values["SearchKind"] = "random"
    return serve(engine)
