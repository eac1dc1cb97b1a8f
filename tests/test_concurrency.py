"""Threads calling into their own and shared objects, and worker processes:
no crash, only the borrow errors, a consistent final state, and different
random games in every process."""

import multiprocessing
import random
import sys
import threading
import time

from helpers import needs_second_interpreter
from strategies import BLACK, WHITE, field, is_panic, move_text

from komaban import Board, Game, Hand, Move, PieceType

PAWN = PieceType.Pawn
BORROW_ERRORS = ("Already borrowed", "Already mutably borrowed")
THREADS, STEPS, PLIES = 4, 300, 40


class Yielding:
    """A count whose conversion lets other threads run while add_pieces holds
    the hand exclusively. It sleeps rather than calling sleep(0): a thread that
    merely releases the interpreter lock tends to take it straight back, and on
    a busy machine the threads then hardly ever meet on the hand."""

    def __index__(self):
        time.sleep(0.0001)
        return 1


def play_plies(board, color, ply):
    """One ply of a fixed game: the middle move of the list."""
    moves = board.search_moves(color)
    board.execute_move(moves[len(moves) // 2])
    return WHITE if ply % 2 == 0 else BLACK


def fixed_game():
    board, color = Board(), BLACK
    for ply in range(PLIES):
        color = play_plies(board, color, ply)
    return board


def check_listed(board, color, failures):
    for move in board.search_moves(color):
        if Move(csa=move_text(move)) != move:
            failures.append(move)


def worker(seed, shared, tally, failures):
    rng = random.Random(seed)
    hand, game, board = shared
    own, color, ply = Board(), BLACK, 0
    added = {BLACK.value: 0, WHITE.value: 0}

    def add_black():
        hand.add_pieces(BLACK, PAWN, Yielding())
        added[BLACK.value] += 1

    def add_white():
        hand.add_piece(WHITE, PAWN)
        added[WHITE.value] += 1

    operations = [
        add_black,
        add_white,
        lambda: hand.counts,
        lambda: hand.get_player_pieces(BLACK),
        lambda: check_listed(board, WHITE, failures),
        lambda: [board.execute_move(m) for m in board.search_moves(BLACK)[:1]],
        lambda: board.startpos(),
        lambda: game.random_play(),
        lambda: setattr(game, "board", Board()),
        lambda: setattr(game, "move_number", rng.randrange(500)),
        lambda: setattr(game, "turn", rng.choice([BLACK, WHITE])),
        lambda: game.execute_move(Move(csa="7c7d")),
        lambda: Game().random_play(),
    ]  # fmt: skip
    try:
        for _ in range(STEPS):
            try:
                rng.choice(operations)()
            except RuntimeError as exc:
                if str(exc) not in BORROW_ERRORS:
                    raise
                tally["borrow errors"] += 1
            except BaseException as exc:  # noqa: B036
                # A shared game may be left with no move for its side, or with
                # an odd board, by the others: random play may give up then.
                if not is_panic(exc):
                    raise
            if ply < PLIES:
                color, ply = play_plies(own, color, ply), ply + 1
        if own != fixed_game():
            failures.append(f"thread {seed}: its own board differs from the same game alone")
    except BaseException as exc:  # noqa: B036
        failures.append(exc)
    with tally["lock"]:
        for color, count in added.items():
            tally[color] += count


def test_threads_on_own_and_shared_objects():
    shared = (Hand(), Game(), Board())
    tally = {"lock": threading.Lock(), "borrow errors": 0, BLACK.value: 0, WHITE.value: 0}
    failures = []
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        threads = [
            threading.Thread(target=worker, args=(seed, shared, tally, failures))
            for seed in range(THREADS)
        ]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert failures == []
    assert tally["borrow errors"] > 0  # the threads did meet on the hand
    hand, game, board = shared
    counts = hand.counts
    assert (counts[7], counts[15]) == (tally[BLACK.value] % 256, tally[WHITE.value] % 256)
    assert sum(counts) == counts[7] + counts[15]
    # Every object is free again and holds a readable record.
    for color in (BLACK, WHITE):
        check_listed(board, color, failures)
    assert failures == []
    assert Board(field(board)) is not None and game.random_play() is not None


def play_games(_):
    return [(g.move_number, str(g.board)) for g in (Game().random_play() for _ in range(3))]


@needs_second_interpreter
def test_spawned_workers_play_different_games():
    # Forked children are checked in test_random_play.py.
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        results = pool.map(play_games, range(4), chunksize=1)
    assert len({tuple(r) for r in results}) == 4
