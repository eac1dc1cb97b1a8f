"""Measures komaban against cshogi and python-shogi, side by side in one run.

Every figure is a ratio taken within one round, the contenders of a round run
one after the other (in an order that rotates from round to round) so that a
noisy machine slows them alike; the table gives the median of the rounds and
their range. Before any move list is timed, the positions are checked: each
is read into komaban from standard SFEN, its board field is written back, and
its move set is compared with the peers' pseudo-legal lists.

Writes the table between the markers of docs/performance.md and the chart to
docs/img/peers.png. Run it with `make bench-peers`, which installs the peers
into the project's virtual environment for this purpose only.

Usage: python bench/peers.py [--rounds N] [--native PATH] [--no-docs]
"""

from __future__ import annotations

import argparse
import importlib
import importlib.metadata
import platform
import random
import statistics
import subprocess
import sys
import time
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

# komaban, cshogi and python-shogi ship no type information; they are reached
# through the typed helpers below.
komaban: Any = importlib.import_module("komaban")
cshogi: Any = importlib.import_module("cshogi")
pyshogi: Any = importlib.import_module("shogi")

ROOT = Path(__file__).resolve().parent.parent
DOC = ROOT / "docs/performance.md"
CHART = ROOT / "docs/img/peers.png"
BEGIN, END = "<!-- peers:begin -->", "<!-- peers:end -->"
DEFAULT_NATIVE = ROOT / "build/bench/komaban_bench"

START_SFEN = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"
START_FIELD = START_SFEN.split()[0]
MOVE_LIMIT = 500
POSITIONS = 48  # timed move-list positions
CHECKED_POSITIONS = 160  # positions whose move sets are compared, checks included

# ---------------------------------------------------------------------------
# Standard notation and komaban

PROMOTED = {
    "P": "ProPawn",
    "L": "ProLance",
    "N": "ProKnight",
    "S": "ProSilver",
    "B": "Horse",
    "R": "Dragon",
}


def usi_square(komaban_square: str) -> str:
    """komaban column c, row r is USI file 10 - c, rank 10 - r."""
    column, row = int(komaban_square[0]), ord(komaban_square[1]) - ord("a") + 1
    return f"{10 - column}{chr(ord('a') + 10 - row - 1)}"


def usi_move(move: Any) -> str:
    """The USI text of a komaban Move."""
    text = str(move)[len("Move(csa=") : -1]
    if text[1] == "*":
        return f"{text[0].upper()}*{usi_square(text[2:4])}"
    return usi_square(text[0:2]) + usi_square(text[2:4]) + text[4:]


def komaban_board(sfen: str) -> Any:
    """A komaban Board from standard SFEN.

    komaban's reader takes the board field and a hand field. It reads no
    promoted pieces ("+" is a piece of its own) and one digit of a hand count,
    so promoted pieces are read unpromoted and then deployed, and counts above
    9 are split into several items.
    """
    field, _side, hand = sfen.split()[:3]
    promoted: list[tuple[int, int, str]] = []  # column, row, letter
    plain = []
    for part_index, part in enumerate(field.split("/")):
        offset, plus = 0, False
        for ch in part:
            if ch == "+":
                plus = True
                continue
            if ch.isdigit():
                offset += int(ch)
            else:
                if plus:
                    promoted.append((offset + 1, 9 - part_index, ch))
                offset += 1
            plus = False
            plain.append(ch)
        plain.append("/")
    items = []
    count = ""
    for ch in "" if hand == "-" else hand:
        if ch.isdigit():
            count += ch
            continue
        n = int(count or "1")
        while n > 0:
            items.append(f"{min(n, 9)}{ch}")
            n -= 9
        count = ""
    board = komaban.Board("".join(plain[:-1]) + (" " + "".join(items) if items else ""))
    for column, row, letter in promoted:
        color = komaban.ColorType.Black if letter.isupper() else komaban.ColorType.White
        kind = getattr(komaban.PieceType, PROMOTED[letter.upper()])
        board.deploy(komaban.Address(column, row), kind, color)
    return board


def komaban_turn(sfen: str) -> Any:
    return komaban.ColorType.Black if sfen.split()[1] == "b" else komaban.ColorType.White


def never_leaves(board: Any, move: Any, black: bool) -> bool:
    """A non-promoting move of a Pawn or Lance to the last row or of a Knight
    to the last two rows: the peers never list these, komaban does."""
    if move.is_drop() or move.is_promote():
        return False
    kind = board.get_piece(move.get_from()).piece_type
    row = move.get_to().row
    rows_left = 9 - row if black else row - 1  # rows still ahead after the move
    if kind in (komaban.PieceType.Pawn, komaban.PieceType.Lance):
        return bool(rows_left == 0)
    return bool(kind == komaban.PieceType.Knight and rows_left <= 1)


# ---------------------------------------------------------------------------
# Positions, and the checks that komaban reads them as the peers do


def seeded_positions(count: int, seed: int, *, allow_check: bool) -> list[str]:
    """Standard SFEN of positions 40 to 100 plies into random legal games."""
    rng = random.Random(seed)
    positions: list[str] = []
    while len(positions) < count:
        board = cshogi.Board()
        for _ in range(rng.randrange(40, 100)):
            moves = list(board.legal_moves)
            if not moves:
                break
            board.push(rng.choice(moves))
        if not list(board.legal_moves):
            continue
        if board.is_check() and not allow_check:
            continue
        positions.append(str(board.sfen()))
    return positions


def check_position(sfen: str) -> bool:
    """Checks komaban's reading of one position; True if the side to move is
    in check (then cshogi lists evasions only, and python-shogi alone is
    compared)."""
    board = komaban_board(sfen)
    written = str(board)
    if written != f"Board(sfen={sfen.split()[0]})":
        raise SystemExit(f"komaban reads {sfen!r} as {written}")
    black = sfen.split()[1] == "b"
    moves = board.search_moves(komaban_turn(sfen))
    ours = sorted(usi_move(m) for m in moves if not never_leaves(board, m, black))
    peers = {"python-shogi": sorted(m.usi() for m in pyshogi.Board(sfen).pseudo_legal_moves)}
    peer = cshogi.Board(sfen)
    if not peer.is_check():
        peers["cshogi"] = sorted(cshogi.move_to_usi(m) for m in peer.pseudo_legal_moves)
    for name, theirs in peers.items():
        if ours != theirs:
            extra, missing = set(ours) - set(theirs), set(theirs) - set(ours)
            raise SystemExit(f"{sfen}: komaban vs {name}: extra {extra}, missing {missing}")
    return "cshogi" not in peers


def check_conversions() -> None:
    start = [usi_move(m) for m in komaban.Board().search_moves(komaban.ColorType.Black)]
    theirs = [cshogi.move_to_usi(m) for m in cshogi.Board().pseudo_legal_moves]
    if len(start) != 30 or sorted(start) != sorted(theirs):
        raise SystemExit(f"start moves differ: {sorted(start)} vs {sorted(theirs)}")
    if usi_move(komaban.Move("7c7d")) != "3g3f" or usi_move(komaban.Move("P*5e")) != "P*5e":
        raise SystemExit("square conversion is wrong")
    if str(komaban.Board()) != f"Board(sfen={START_FIELD})":
        raise SystemExit("start position text differs")


# ---------------------------------------------------------------------------
# Contenders. Each returns (work done, nanoseconds).


def ns_now() -> int:
    """CPU time of this thread: a contender that the scheduler puts aside for
    another process is not charged for the wait."""
    return time.thread_time_ns()


def komaban_random_play(games: int) -> tuple[int, int]:
    game = komaban.Game
    plies = 0
    start = ns_now()
    for _ in range(games):
        plies += game().random_play().move_number - 1
    return plies, ns_now() - start


def cshogi_random_games(games: int, rng: random.Random, legal: bool) -> tuple[int, int]:
    kings = (cshogi.BKING, cshogi.WKING)
    move_to = cshogi.move_to
    plies = 0
    start = ns_now()
    for _ in range(games):
        board = cshogi.Board()
        for _ in range(MOVE_LIMIT):
            moves = list(board.legal_moves if legal else board.pseudo_legal_moves)
            if not moves:
                break
            move = rng.choice(moves)
            captured = board.piece(move_to(move))
            board.push(move)
            plies += 1
            if captured in kings:
                break
    return plies, ns_now() - start


def pyshogi_random_games(games: int, rng: random.Random) -> tuple[int, int]:
    plies = 0
    start = ns_now()
    for _ in range(games):
        board = pyshogi.Board()
        for _ in range(MOVE_LIMIT):
            moves = list(board.pseudo_legal_moves)
            if not moves:
                break
            move = rng.choice(moves)
            captured = board.piece_type_at(move.to_square)
            board.push(move)
            plies += 1
            if captured == pyshogi.KING:
                break
    return plies, ns_now() - start


def komaban_lists(boards: Sequence[tuple[Any, Any]], repeat: int) -> tuple[int, int]:
    moves = 0
    start = ns_now()
    for _ in range(repeat):
        for board, turn in boards:
            moves += len(board.search_moves(turn))
    return moves, ns_now() - start


def cshogi_lists(boards: Sequence[Any], repeat: int) -> tuple[int, int]:
    moves = 0
    start = ns_now()
    for _ in range(repeat):
        for board in boards:
            moves += len(list(board.pseudo_legal_moves))
    return moves, ns_now() - start


def loop_ns(body: Callable[[], object], calls: int) -> int:
    start = ns_now()
    for _ in range(calls):
        body()
    return ns_now() - start


# ---------------------------------------------------------------------------
# Rounds


@dataclass
class Figure:
    label: str
    goal: float | None = None
    values: list[float] = field(default_factory=list)
    note_values: list[float] = field(default_factory=list)

    def summary(self) -> tuple[float, float, float]:
        return statistics.median(self.values), min(self.values), max(self.values)

    def note(self, fmt: str) -> str:
        return fmt.format(statistics.median(self.note_values)) if self.note_values else ""


def run_rounds(rounds: int, figures: dict[str, Figure]) -> None:
    positions = seeded_positions(POSITIONS, seed=2024, allow_check=False)
    k_boards = [(komaban_board(s), komaban_turn(s)) for s in positions]
    c_boards = [cshogi.Board(s) for s in positions]
    k_start, c_start = komaban.Board(), cshogi.Board()
    k_str, c_sfen = k_start.__str__, c_start.sfen
    board_type, peer_board_type = komaban.Board, cshogi.Board
    rng = random.Random(11)

    # Each contender: a name and a body that returns (work, ns).
    tasks: list[tuple[str, Callable[[], tuple[int, int]]]] = [
        ("k_play", lambda: komaban_random_play(1000)),
        ("c_pseudo", lambda: cshogi_random_games(80, rng, legal=False)),
        ("c_legal", lambda: cshogi_random_games(40, rng, legal=True)),
        ("p_pseudo", lambda: pyshogi_random_games(1, rng)),
        ("k_lists", lambda: komaban_lists(k_boards, 1000)),
        ("c_lists", lambda: cshogi_lists(c_boards, 1000)),
        ("k_str", lambda: (200_000, loop_ns(k_str, 200_000))),
        ("c_sfen", lambda: (100_000, loop_ns(c_sfen, 100_000))),
        ("k_read", lambda: (150_000, loop_ns(lambda: board_type(START_FIELD), 150_000))),
        ("c_read", lambda: (50_000, loop_ns(lambda: peer_board_type(START_SFEN), 50_000))),
    ]
    for _name, body in tasks:  # warm up
        body()
    for r in range(rounds):
        shift = r % len(tasks)
        results: dict[str, tuple[int, int]] = {}
        for name, body in tasks[shift:] + tasks[:shift]:
            results[name] = body()

        rate = {name: work / ns for name, (work, ns) in results.items()}
        per_op = {name: ns / work for name, (work, ns) in results.items()}
        figures["pseudo"].values.append(rate["k_play"] / rate["c_pseudo"])
        figures["legal"].values.append(rate["k_play"] / rate["c_legal"])
        figures["pyshogi"].values.append(rate["k_play"] / rate["p_pseudo"])
        figures["lists"].values.append(results["c_lists"][1] / results["k_lists"][1])
        figures["lists"].note_values.append(per_op["k_lists"])
        figures["str"].values.append(per_op["c_sfen"] / per_op["k_str"])
        figures["str"].note_values.append(per_op["k_str"])
        figures["read"].values.append(per_op["c_read"] / per_op["k_read"])
        figures["read"].note_values.append(per_op["k_read"])
        figures["pseudo"].note_values.append(1e3 * rate["k_play"])
        print(f"  round {r + 1}/{rounds} done", file=sys.stderr)


def native_per_ply(binary: Path, runs: int = 3) -> float | None:
    """Nanoseconds per ply of the native random game: the binary reports a
    median of its own runs; the least disturbed of a few invocations is kept."""
    if not binary.exists():
        return None
    figures = []
    for _ in range(runs):
        output = subprocess.run(
            [str(binary), "--machine"], check=True, capture_output=True, text=True
        )
        values = {k: float(v) for k, v in (line.split() for line in output.stdout.splitlines())}
        figures.append(values["game_us"] * 1000 / values["mean_plies"])
    return min(figures)


# ---------------------------------------------------------------------------
# Report


def make_figures() -> dict[str, Figure]:
    return {
        "pseudo": Figure(
            "`Game().random_play()` plies per second ÷ cshogi Python loop with "
            "`pseudo_legal_moves` (random choice + push until a King is captured or "
            f"{MOVE_LIMIT} plies)",
            goal=20,
        ),
        "legal": Figure("same ÷ cshogi loop with `legal_moves`"),
        "pyshogi": Figure("same ÷ python-shogi pseudo-legal loop"),
        "lists": Figure(
            f"cshogi `list(board.pseudo_legal_moves)` time ÷ komaban `search_moves` time, "
            f"{POSITIONS} midgame positions",
            goal=1.4,
        ),
        "str": Figure("cshogi `board.sfen()` time ÷ komaban `str(board)`, start position", goal=3),
        "read": Figure(
            "cshogi `Board(sfen)` time ÷ komaban `Board(text)`, start position", goal=7.5
        ),
    }


def table(figures: dict[str, Figure], native_ns: float | None, rounds: int) -> str:
    notes = {
        "pseudo": figures["pseudo"].note("komaban ≈ {:.2f} million plies/s"),
        "lists": figures["lists"].note("komaban ≈ {:.1f} ns per returned Move"),
        "str": figures["str"].note("komaban ≈ {:.0f} ns"),
        "read": figures["read"].note("komaban ≈ {:.0f} ns"),
    }
    lines = [
        f"| figure (median of {rounds} rounds) | median | range | goal | note |",
        "|---|---|---|---|---|",
    ]
    for key, f in figures.items():
        median, low, high = f.summary()
        goal = f"≥ {f.goal:g} ×" if f.goal else ""
        big = median >= 100
        fmt = "{:,.0f}" if big else "{:.2f}"
        lines.append(
            f"| {f.label} | {fmt.format(median)} × | {fmt.format(low)}–{fmt.format(high)} × "
            f"| {goal} | {notes.get(key, '')} |"
        )
    native = f"{native_ns:.0f} ns" if native_ns is not None else "not measured"
    lines.append(
        f"| native random game, per ply (`make bench` binary, best of 3 runs) | {native} | | "
        "| wall-clock time of the binary, which a busy machine inflates |"
    )
    return "\n".join(lines)


def environment() -> str:
    versions = ", ".join(
        f"{name} {importlib.metadata.version(name)}" for name in ("cshogi", "python-shogi")
    )
    return f"Python {platform.python_version()}, {versions}, {platform.machine()}"


def write_chart(figures: dict[str, Figure]) -> None:
    importlib.import_module("matplotlib").use("Agg")
    plt: Any = importlib.import_module("matplotlib.pyplot")

    names = {
        "pseudo": "random play ÷ cshogi\npseudo-legal loop",
        "legal": "random play ÷ cshogi\nlegal loop",
        "pyshogi": "random play ÷ python-shogi\npseudo-legal loop",
        "lists": "move list\ncshogi ÷ komaban",
        "str": "board text out\ncshogi ÷ komaban",
        "read": "board text in\ncshogi ÷ komaban",
    }
    keys = list(names)
    medians = [figures[k].summary()[0] for k in keys]
    lows = [figures[k].summary()[0] - figures[k].summary()[1] for k in keys]
    highs = [figures[k].summary()[2] - figures[k].summary()[0] for k in keys]
    fig, ax = plt.subplots(figsize=(8, 4.2))
    y = list(range(len(keys)))
    ax.barh(y, medians, xerr=[lows, highs], color="#4c72b0", capsize=3)
    for i, k in enumerate(keys):
        goal = figures[k].goal
        if goal:
            ax.plot([goal, goal], [i - 0.4, i + 0.4], color="#c44e52", linewidth=2)
        label = f"{medians[i]:,.0f} ×" if medians[i] >= 100 else f"{medians[i]:.2f} ×"
        ax.text((medians[i] + highs[i]) * 1.12, i, label, va="center", fontsize=8)
    ax.set_xscale("log")
    ax.set_xlim(0.5, max(m + h for m, h in zip(medians, highs, strict=True)) * 4)
    ax.set_yticks(y, [names[k] for k in keys], fontsize=8)
    ax.invert_yaxis()
    ax.axvline(1, color="black", linewidth=0.8)
    ax.set_xlabel("how many times faster komaban is (log scale; red: goal)")
    ax.set_title("komaban against cshogi and python-shogi, same run, interleaved rounds")
    fig.tight_layout()
    CHART.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(CHART, dpi=110)
    plt.close(fig)


def write_doc(block: str) -> None:
    if DOC.exists():
        text = DOC.read_text()
    else:
        text = f"# Performance\n\n{BEGIN}\n{END}\n"
    if BEGIN not in text or END not in text:
        text = text.rstrip("\n") + f"\n\n{BEGIN}\n{END}\n"
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    DOC.parent.mkdir(parents=True, exist_ok=True)
    DOC.write_text(f"{head}{BEGIN}\n{block}\n{END}{tail}")


def doc_block(figures: dict[str, Figure], native_ns: float | None, rounds: int) -> str:
    return f"""## Against cshogi and python-shogi

Measured by `make bench-peers` (`bench/peers.py`), which installs cshogi and
python-shogi into the project's virtual environment for this purpose only.
All contenders run in each round, one after the other in an order that
rotates from round to round; times are the CPU time of the benchmarking
thread, every ratio is taken within one round, and the table gives the median
and the range over the rounds ({environment()}).
Positions for the move lists are {POSITIONS} positions 40 to 100 plies into
seeded random legal games (side to move not in check), given to each library
as standard SFEN; before timing, komaban's reading of them is checked (board
text written back, move sets equal to both peers' pseudo-legal lists).
`Board(text)` is given the board field of the start position, cshogi's
`Board(sfen)` the whole SFEN line.

{table(figures, native_ns, rounds)}

![komaban against the peers](img/peers.png)"""


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--native", type=Path, default=DEFAULT_NATIVE)
    parser.add_argument("--no-docs", action="store_true", help="print only")
    args = parser.parse_args(argv)

    check_conversions()
    checked = seeded_positions(CHECKED_POSITIONS, seed=7, allow_check=True)
    checked += seeded_positions(POSITIONS, seed=2024, allow_check=False)
    in_check = sum(check_position(sfen) for sfen in checked)
    promoted = sum("+" in sfen.split()[0] for sfen in checked)
    print(
        f"komaban reads all {len(checked)} positions as the peers do "
        f"({promoted} with promoted pieces, {in_check} in check)",
        file=sys.stderr,
    )

    figures = make_figures()
    run_rounds(args.rounds, figures)
    native_ns = native_per_ply(args.native)
    print(table(figures, native_ns, args.rounds))
    if not args.no_docs:
        write_doc(doc_block(figures, native_ns, args.rounds))
        write_chart(figures)
        print(f"wrote {DOC.relative_to(ROOT)} and {CHART.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
