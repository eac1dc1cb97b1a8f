"""Writes tests/data/mates.txt: positions with the length of their shortest mate, by cshogi.

    python tools/make_mate_positions.py [--seed 2024] [--out tests/data/mates.txt]

The positions come from random legal games played by cshogi, whose moves are
drawn towards checks and captures (captures fill the hands, checks drive the
King into the open), so that mates come often. A position is taken when its
side to move is not in check, from ply 30 on, now and then (so that a game
gives positions of many kinds), and is kept while its class is short of its
quota. Its class is the length of its shortest mate as cshogi finds it:
1 if `mate_move_in_1ply()` finds one, else the least of 3, 5, 7 and 9 for
which `mate_move(plies)` does (cshogi's search accepts 3 plies and more), or
"none" for no mate within 9 plies.

cshogi's mate search is not exhaustive (it misses, for one, some mates by a
Lance from afar), so "no mate within N plies" is confirmed by a plain search
of every check and every evasion on cshogi's boards; where that finds a
shorter mate, the shorter one is the class (and the position is kept even
when that class is full).

Each line of the output is the class, cshogi's own answer and a standard SFEN
line. The file is generated once and committed; the test suite only reads it.
cshogi is GPL, a development tool here: never a dependency of komaban.
"""

from __future__ import annotations

import argparse
import random
from pathlib import Path

import cshogi

QUOTAS = {"1": 20, "3": 60, "5": 60, "7": 40, "9": 40, "none": 60}
HEADER = """\
# Positions of cshogi's random games (side to move not in check): the length in
# plies of the shortest mate of the side to move, or "none" for no mate within 9
# plies, confirmed by a search of every check and evasion; then the length that
# cshogi's mate_move_in_1ply, mate_move(3), (5), (7), (9) find (longer where they
# miss the shortest mate).
# Made by tools/make_mate_positions.py --seed {seed}; do not edit.
"""


def cshogi_mate(board: cshogi.Board) -> str:
    """The length of the shortest mate cshogi's mate search finds, or "none"."""
    if board.mate_move_in_1ply():
        return "1"
    for plies in (3, 5, 7, 9):
        if board.mate_move(plies):
            return str(plies)
    return "none"


def mate_within(board: cshogi.Board, plies: int, known: dict[tuple[str, int], bool]) -> bool:
    """Whether the side to move mates within `plies`, by trying every check and evasion."""
    if plies < 1:
        return False
    key = (" ".join(board.sfen().split()[:3]), plies)
    if key not in known:
        known[key] = False
        for move in list(board.legal_moves):
            board.push(move)
            if board.is_check():
                evasions = list(board.legal_moves)
                if not evasions or (plies >= 3 and all(
                    _mates_after(board, e, plies - 2, known) for e in evasions
                )):  # fmt: skip
                    known[key] = True
            board.pop()
            if known[key]:
                break
    return known[key]


def _mates_after(board: cshogi.Board, move: int, plies: int, known: dict) -> bool:
    board.push(move)
    mates = mate_within(board, plies, known)
    board.pop()
    return mates


def shortest_mate(board: cshogi.Board, theirs: str) -> str:
    """The class of a position whose mate cshogi finds in `theirs` plies (or "none")."""
    known: dict[tuple[str, int], bool] = {}
    top = 9 if theirs == "none" else int(theirs) - 2
    for plies in range(1, top + 1, 2):
        if mate_within(board, plies, known):
            return str(plies)
    assert theirs == "none" or mate_within(board, int(theirs), known), board.sfen()
    return theirs


def random_game_positions(rng: random.Random, take: float):
    """Positions of one biased random game, not in check, from ply 30 on."""
    board = cshogi.Board()
    for ply in range(300):
        legal = list(board.legal_moves)
        if not legal:
            return
        if ply >= 30 and not board.is_check() and rng.random() < take:
            yield board.sfen()
        r = rng.random()
        if r < 0.3:
            pool = list(board.check_moves)
        elif r < 0.75:
            pool = [m for m in legal if cshogi.move_cap(m)]
        else:
            pool = []
        board.push(rng.choice(pool or legal))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--out", type=Path, default=Path("tests/data/mates.txt"))
    args = parser.parse_args()
    rng = random.Random(args.seed)
    kept: dict[str, list[str]] = {k: [] for k in QUOTAS}
    seen: set[str] = set()
    games = corrected = 0
    while any(len(kept[k]) < q for k, q in QUOTAS.items()):
        games += 1
        for sfen in random_game_positions(rng, take=0.1):
            position = " ".join(sfen.split()[:3])  # the move number aside
            if position in seen:
                continue
            seen.add(position)
            board = cshogi.Board(sfen)
            theirs = cshogi_mate(board)
            if len(kept[theirs]) >= QUOTAS[theirs]:
                continue
            kind = shortest_mate(board, theirs)
            if len(kept[kind]) < QUOTAS[kind] or kind != theirs:  # cshogi's misses: all
                kept[kind].append(f"{kind} {theirs} {sfen}")
                corrected += kind != theirs
    args.out.parent.mkdir(parents=True, exist_ok=True)
    with args.out.open("w") as out:
        out.write(HEADER.format(seed=args.seed))
        for kind in QUOTAS:
            for line in kept[kind]:
                out.write(line + "\n")
    counts = ", ".join(f"{k}: {len(v)}" for k, v in kept.items())
    total = sum(map(len, kept.values()))
    print(f"{args.out}: {total} positions ({counts}) from {games} games;")
    print(f"cshogi's mate search missed a shorter mate in {corrected}")


if __name__ == "__main__":
    main()
