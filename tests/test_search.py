"""The search of komaban_tools.search: proofs, repetition in the tree, mate search, merging."""

import time

import pytest
from test_rules import cshogi, positions_from_cshogi

from komaban_tools.notation import usi_text
from komaban_tools.rules import COLORS, GameState, copy_board, is_checkmate, legal_moves
from komaban_tools.search import (
    LOST,
    UNKNOWN,
    WON,
    ChildStats,
    FlatSearch,
    Settings,
    Summary,
    TreeSearch,
    choose,
    find_mate,
    merge,
)

MATE_IN_ONE = "4k4/9/4G4/9/9/9/9/9/4K4 b G 1"  # G*5b
# From a random game: White's King on 5f is mated in three (cshogi: 3h4g first),
# not in one.
MATE_IN_THREE = "1n5n1/l3g1s1l/2sp1g1p1/prp1p+BpNp/1p7/P3k1PPP/2N2p1G1/L4KS1R/2S3G1L b B5p 79"


def solve(search, limit=20_000):
    while not search.solved and search.playouts < limit:
        search.step()
    return choose(merge([search.summary()]))


@pytest.mark.parametrize("kind", [TreeSearch, FlatSearch])
def test_proves_mate_in_one_by_playouts_alone(kind):
    choice = solve(kind(GameState.from_sfen(MATE_IN_ONE), Settings(mate_plies=0)))
    assert (choice.move, choice.mate, choice.win_rate) == ("G*5b", 1, 1.0)


def test_mate_search_finds_a_forced_line():
    state = GameState.from_sfen(MATE_IN_THREE)
    line = find_mate(state.board, state.turn, 3, time.monotonic() + 30)
    assert line is not None and len(line) == 3
    # Every defence of the first check loses to a mate in one.
    board = copy_board(state.board)
    board.execute_move(line[0])
    replies = legal_moves(board, COLORS[1 - state.turn])
    assert line[1] in replies
    for reply in replies:
        after = GameState.from_sfen(MATE_IN_THREE).copy()
        after.push(line[0])
        after.push(reply)
        mate = find_mate(after.board, after.turn, 1, time.monotonic() + 30)
        assert mate is not None
        after.push(mate[0])
        assert is_checkmate(after.board, after.color)
    # There is no mate in one, and no mate at all for a bare King.
    assert find_mate(state.board, state.turn, 1, time.monotonic() + 30) is None
    bare = GameState.from_sfen("4k4/9/9/9/9/9/9/9/4K4 b - 1")
    assert find_mate(bare.board, bare.turn, 3, time.monotonic() + 30) is None


@pytest.mark.skipif(cshogi is None, reason="cshogi is not installed")
def test_mate_search_agrees_with_cshogi():
    # Positions of cshogi's random games, not in check (cshogi's mate search
    # starts from such only): a mate in three plies or fewer is found exactly
    # where cshogi finds one, and its first move is a legal check.
    mates = 0
    for line in positions_from_cshogi(1000, seed=5):
        theirs = cshogi.Board(line)
        if theirs.is_check():
            continue
        state = GameState.from_sfen(line)
        mine = find_mate(state.board, state.turn, 3, time.monotonic() + 60)
        assert (mine is not None) == bool(theirs.mate_move(3)), line
        if mine is not None:
            mates += 1
            first = theirs.move_from_usi(usi_text(mine[0]))
            assert theirs.is_legal(first), line
            theirs.push(first)
            assert theirs.is_check(), line
    assert mates >= 30  # the positions hold enough mates to compare (51 here)


def test_mate_search_keeps_its_deadline_and_its_stop_flag():
    state = GameState.from_sfen("startpos")
    start = time.monotonic()
    assert find_mate(state.board, state.turn, 7, start) is None
    assert time.monotonic() - start < 5  # it stops at the first check of its clock
    # A stop raised mid-search (no mate here, and thousands of checks to try)
    # ends it at the next look at the flag.
    rich = GameState.from_sfen("4k4/9/9/9/9/9/9/9/4K4 b RBGSNLPrbgsnlp 1")
    looks = 0

    def stopped() -> bool:
        nonlocal looks
        looks += 1
        return looks >= 10

    assert find_mate(rich.board, rich.turn, 3, time.monotonic() + 60, stopped) is None
    assert looks == 10


def test_a_repeated_position_ends_its_line_as_a_draw():
    state = GameState.from_sfen("startpos")
    for move in ["2h3h", "8b7b", "3h2h"]:
        state.push_usi(move)
    search = TreeSearch(state, Settings(mate_plies=0))
    while len(search.root.children) < len(state.legal_moves()):
        search.step()
    back = next(c for c in search.root.children if usi_text(c.move) == "7b8b")
    assert back.terminal == 0.5 and back.result == UNKNOWN
    assert all(c.terminal is None for c in search.root.children if c is not back)


def test_perpetual_check_is_won_by_the_side_checked():
    # Black's Rook has checked on every move since the start; White's King
    # returning to 5a repeats the start: Black, to move there, loses.
    state = GameState.from_sfen("4k4/9/9/9/5R3/9/9/9/4K4 b - 1")
    for move in ["4e5e", "5a4a", "5e4e"]:
        state.push_usi(move)
    choice = solve(TreeSearch(state, Settings(mate_plies=0)))
    assert choice.move == "4a5a" and choice.mate == 1


def test_merge_sums_and_keeps_proofs():
    a = Summary([ChildStats("7g7f", 80, 44.0, pv=["3c3d"]), ChildStats("2g2f", 40, 18.0)], 120, 3)
    b = Summary(
        [ChildStats("2g2f", 100, 61.0, pv=["8c8d"]), ChildStats("5i5h", 8, 0.0, LOST, 2)], 108, 2
    )
    merged = {c.move: c for c in merge([a, b])}
    assert (merged["2g2f"].visits, merged["2g2f"].score, merged["2g2f"].pv) == (140, 79.0, ["8c8d"])
    assert merged["5i5h"].result == LOST
    choice = choose(list(merged.values()))
    assert (choice.move, choice.pv, choice.mate) == ("2g2f", ["2g2f", "8c8d"], None)
    # A proven win is played whatever the visits; a proven loss only when all lose.
    won = ChildStats("P*5b", 1, 1.0, WON, 3)
    assert choose([*merged.values(), won]).mate == 3
    assert (
        choose([ChildStats("5i5h", 8, 0.0, LOST, 2), ChildStats("5i4h", 8, 0.0, LOST, 6)]).mate
        == -6
    )
    assert choose([]).move == "resign"
