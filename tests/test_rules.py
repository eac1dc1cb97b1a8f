"""The standard rules of komaban_tools.rules: perft, cshogi's legal moves, the special rules."""

import random

import pytest

from komaban import Board, ColorType, Move
from komaban_tools.notation import load_sfen, usi_text
from komaban_tools.rules import (
    COLORS,
    GameState,
    Outcome,
    analyse,
    checking_moves,
    copy_board,
    is_check,
    is_checkmate,
    legal_moves,
    mailbox,
    side_index,
)
from komaban_tools.rules.moves import _checks_and_pins

try:  # cshogi cross-checks the rules where it is installed
    import cshogi
except ImportError:
    cshogi = None

# Published legal perft counts from the start position.
PERFT = {1: 30, 2: 900, 3: 25_470, 4: 719_731, 5: 19_861_490}


def perft(board: Board, turn: int, depth: int) -> int:
    moves = legal_moves(board, COLORS[turn])
    if depth == 1:
        return len(moves)
    total = 0
    for move in moves:
        after = copy_board(board)
        after.execute_move(move)
        total += perft(after, 1 - turn, depth - 1)
    return total


@pytest.mark.parametrize(
    "depth",
    [1, 2, 3, 4, pytest.param(5, marks=pytest.mark.slow)],
)
def test_perft_from_the_start_position(depth):
    assert perft(Board(), 0, depth) == PERFT[depth]


def usi(moves):
    return {usi_text(m) for m in moves}


def positions_from_cshogi(count, seed):
    """SFEN lines of positions from random legal games played by cshogi: a third
    uniformly random, the rest drawn towards checks, captures, drops, and
    sliders brought onto a line with the enemy King (which pins), so that the
    rare cases come often."""
    rng = random.Random(seed)
    sliders = {cshogi.ROOK, cshogi.BISHOP, cshogi.LANCE, cshogi.PROM_ROOK, cshogi.PROM_BISHOP}
    hand_sliders = {cshogi.HROOK, cshogi.HBISHOP, cshogi.HLANCE}

    def slider_on_king_line(board, move):
        if cshogi.move_is_drop(move):
            if cshogi.move_drop_hand_piece(move) not in hand_sliders:
                return False
        elif cshogi.move_from_piece_type(move) not in sliders:
            return False
        (f1, r1), (f2, r2) = (
            divmod(cshogi.move_to(move), 9),
            divmod(board.king_square(1 - board.turn), 9),
        )
        return f1 == f2 or r1 == r2 or abs(f1 - f2) == abs(r1 - r2)

    lines = []
    while len(lines) < count:
        board = cshogi.Board()
        biased = len(lines) >= count // 3
        for _ in range(300):
            legal = list(board.legal_moves)
            if not legal:
                break
            lines.append(board.sfen())
            r = rng.random() if biased else 1.0
            if r < 0.25:
                pool = list(board.check_moves)
            elif r < 0.45:
                pool = [m for m in legal if cshogi.move_is_drop(m) or cshogi.move_cap(m)]
            elif r < 0.7:
                pool = [m for m in legal if slider_on_king_line(board, m)]
            else:
                pool = []
            board.push(rng.choice(pool or legal))
    return lines[:count]


@pytest.mark.skipif(cshogi is None, reason="cshogi is not installed")
def test_legal_moves_and_checks_match_cshogi_on_20000_positions():
    in_check = pinned = pawn_drops = checks_compared = 0
    for n, line in enumerate(positions_from_cshogi(20_000, seed=1)):
        theirs = cshogi.Board(line)
        game = load_sfen(line)
        ours, check = analyse(game.board, game.turn)
        expected = {cshogi.move_to_usi(m) for m in theirs.legal_moves}
        assert usi(ours) == expected, line
        assert check == theirs.is_check(), line
        in_check += check
        sq = mailbox(game.board)
        us = side_index(game.turn)
        pinned += bool(_checks_and_pins(sq, sq.index(1 | (16 * us)), us)[2])
        pawn_drops += any(m.is_drop() and usi_text(m)[0] == "P" for m in ours)
        if n % 4 == 0:  # the slower check-move test on a quarter of them
            mine = usi(checking_moves(game.board, game.turn, ours))
            assert mine == {cshogi.move_to_usi(m) for m in theirs.check_moves}, line
            checks_compared += 1
    # The positions reach the cases the filter handles apart.
    assert in_check > 2000 and pinned > 1000 and pawn_drops > 5000, (in_check, pinned, pawn_drops)
    assert checks_compared == 5000


def game_after(sfen, moves):
    state = GameState.from_sfen(sfen)
    for move in moves:
        state.push_usi(move)
    return state


@pytest.mark.parametrize(
    "sfen, drop, legal",
    [
        # White King 1a; Black Knight 3c and Gold 2c cover 2a, 2b and the Pawn.
        ("8k/9/6NG1/9/9/9/9/9/K8 b P 1", "P*1b", False),  # Pawn-drop mate
        ("8k/9/7G1/9/9/9/9/9/K8 b P 1", "P*1b", True),  # the King escapes to 2a
        ("8k/9/6N2/9/9/9/9/9/K8 b P 1", "P*1b", True),  # the King takes the Pawn
        ("7sk/9/6NG1/9/9/9/9/9/K8 b P 1", "P*1b", True),  # the Silver takes the Pawn
        # The Silver that could take it is pinned by the Rook on 9a: mate all the same.
        ("R6sk/9/6NG1/9/9/9/9/9/K8 b P 1", "P*1b", False),
        ("8k/9/6NG1/9/9/9/9/9/K8 b P 1", "P*1d", True),  # no check: nothing to test
        # White drops: the mirror of the first.
        ("8k/9/9/9/9/9/1gn6/9/K8 w p 1", "P*9h", False),
    ],
)
def test_pawn_drop_mate(sfen, drop, legal):
    state = GameState.from_sfen(sfen)
    assert (drop in usi(state.legal_moves())) is legal
    # Dropped anyway (komaban lists it), it would be checkmate exactly when illegal.
    board = copy_board(state.board)
    board.execute_move(next(m for m in board.search_moves(state.color) if usi([m]) == {drop}))
    assert is_checkmate(board, COLORS[1 - state.turn]) is not legal
    if cshogi:
        theirs = cshogi.Board(sfen)
        assert theirs.is_legal(theirs.move_from_usi(drop)) is legal


def test_check_blocked_by_a_pawn_drop():
    # Black King 5i checked by a White Rook on 5a; a Gold on 6h and a Pawn in hand.
    state = GameState.from_sfen("4r3k/9/9/9/9/9/9/3G5/4K4 b P 1")
    assert state.in_check() and is_check(state.board, ColorType.Black)
    blocks = {f"P*5{rank}" for rank in "bcdefgh"}
    assert usi(state.legal_moves()) == {"5i4h", "5i4i", "5i6i", "6h5g", "6h5h"} | blocks


def test_unpromoted_moves_into_dead_ends_are_removed():
    # A Black Pawn on 1b, Lance on 2c and Knight on 3d; all may only move promoted.
    state = GameState.from_sfen("4k4/8P/7L1/6N2/9/9/9/9/4K4 b - 1")
    moves = usi(state.legal_moves())
    assert {"1b1a+", "2c2a+", "3d2b+", "3d4b+"} <= moves
    assert not {"1b1a", "2c2a", "3d2b", "3d4b"} & moves
    assert {"2c2b", "2c2b+"} <= moves  # the Lance may stay unpromoted on 2b


ROOK_CYCLE = ["4e5e", "5a4a", "5e4e", "4a5a"]  # Black's Rook checks on every move
KING_CYCLE = ["5a4a", "5e4e", "4a5a", "4e5e"]  # the same, from White's side
QUIET_CYCLE = ["2h3h", "8b7b", "3h2h", "7b8b"]


@pytest.mark.parametrize(
    "sfen, moves, outcome, cshogi_code",
    [
        ("startpos", QUIET_CYCLE * 3, Outcome.REPETITION, "REPETITION_DRAW"),
        # The fourth time Black is to move in the starting position: Black checked
        # throughout and loses; the same cycle begun with White to move: White wins.
        (
            "4k4/9/9/9/5R3/9/9/9/4K4 b - 1",
            ROOK_CYCLE * 3,
            Outcome.PERPETUAL_CHECK_LOSS,
            "REPETITION_LOSE",
        ),
        (
            "4k4/9/9/9/4R4/9/9/9/4K4 w - 1",
            KING_CYCLE * 3,
            Outcome.PERPETUAL_CHECK_WIN,
            "REPETITION_WIN",
        ),
    ],
)
def test_repetition(sfen, moves, outcome, cshogi_code):
    state = GameState.from_sfen(sfen)
    for n, move in enumerate(moves, 1):
        state.push_usi(move)
        # Only the fourth occurrence ends the game.
        assert (state.outcome() is not None) == (n == len(moves)), n
    assert state.outcome() is outcome
    if cshogi:
        board = cshogi.Board() if sfen == "startpos" else cshogi.Board(sfen)
        for move in moves:
            board.push_usi(move)
        assert board.is_draw() == getattr(cshogi, cshogi_code)


def test_game_state_keeps_hands_and_writes_sfen():
    state = game_after("startpos", ["7g7f", "3c3d", "8h2b+", "3a2b", "B*4e"])
    assert state.hands == [[0] * 9, [0, 0, 0, 0, 1, 0, 0, 0, 0]]  # White holds the Bishop
    assert state.sfen() == "lnsgkg1nl/1r5s1/pppppp1pp/6p2/5B3/2P6/PP1PPPPPP/7R1/LNSGKGSNL w b 6"
    with pytest.raises(ValueError, match="illegal move"):
        state.push_usi("7g7f")  # a Black Pawn's move, with White to move
    with pytest.raises(ValueError, match="malformed"):
        state.push_usi("B*0a")
    with pytest.raises(ValueError):
        GameState.from_sfen("lnsgkgsnl/9 b - 1")


@pytest.mark.parametrize(
    "text",
    ["9/9/9/9/9/9/9/9/9", "4k4/9/9/9/4K4/9/9/9/4K4"],  # no Kings; two Black Kings
)
def test_game_state_needs_one_king_each(text):
    with pytest.raises(ValueError, match="King"):
        GameState.from_sfen(text + " b - 1")


def test_no_king_to_expose():
    # A position komaban can hold and the standard rules cannot: Black has no King.
    board = Board("4k4/9/9/9/9/9/9/9/4P4")
    assert usi(legal_moves(board, ColorType.Black)) == {"5i5h"}
    assert not is_check(board, ColorType.Black)
    with pytest.raises(ValueError, match="side"):
        legal_moves(board, getattr(ColorType, "None"))


def test_moves_keep_komabans_order():
    state = game_after("startpos", ["7g7f", "3c3d"])
    listed = state.board.search_moves(ColorType.Black)
    legal = state.legal_moves()
    assert legal == [m for m in listed if m in legal]
    assert all(isinstance(m, Move) for m in legal)
