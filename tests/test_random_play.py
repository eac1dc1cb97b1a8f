import math
import multiprocessing
from concurrent.futures import ThreadPoolExecutor

import pytest
from helpers import panic_message

from komaban import Address, Board, ColorType, Game, PieceType

BLACK, WHITE = ColorType.Black, ColorType.White
NONE = getattr(ColorType, "None")
OPPONENT = {BLACK.value: WHITE, WHITE.value: BLACK}
BLACK_BOXED = "KP7/PP7/9/9/9/9/9/9/4k4"  # Black King on (1,9) walled in by its own stuck Pawns
WHITE_BOXED = "4K4/9/9/9/9/9/9/pp7/kp7"  # the same for White on (1,1)


def fields(g):
    return (g.board, g.move_number, g.turn, g.winner)


def assert_properly_ended(g):
    assert g.is_finished()[0] is True
    if g.move_number >= 500:
        assert (g.move_number, g.winner) == (500, NONE)
    else:  # the last mover took a King, or the side to move has no move at all
        finished, survivor = g.board.is_finished()
        assert g.winner == OPPONENT[g.turn.value]
        assert survivor == g.winner if finished else g.board.search_moves(g.turn) == []


def test_returns_independent_copy_of_the_played_game():
    g = Game()
    result = g.random_play()
    assert isinstance(result, Game) and result is not g and fields(result) == fields(g)
    assert_properly_ended(g)
    before = fields(g)
    result.move_number, result.winner, result.board = 3, NONE, Board("")
    assert fields(g) == before


@pytest.mark.parametrize("board, number, winner", [
    ("startpos", 500, WHITE), ("startpos", 65535, BLACK), ("", 0, NONE),
    ("lnsg1gsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL", 1, WHITE),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/4k4/9/PPPPPPPPP/1B5R1/LNSGKGSNL", 1, BLACK),
])  # fmt: skip
def test_finished_game_returns_at_once(board, number, winner):
    g = Game(Board(board), number, WHITE, winner)
    assert fields(g.random_play()) == fields(g) == (Board(board), number, WHITE, winner)


@pytest.mark.parametrize("turn", [BLACK, WHITE])
def test_move_499_plays_exactly_one_move_of_the_side_to_move(turn):
    expected = [Board() for _ in Board().search_moves(turn)]
    for board, move in zip(expected, Board().search_moves(turn), strict=True):
        board.execute_move(move)
    for _ in range(20):
        result = Game(move_number=499, turn=turn, winner=BLACK).random_play()
        assert (result.move_number, result.turn, result.winner) == (500, OPPONENT[turn.value], NONE)
        assert result.board in expected


@pytest.mark.parametrize("number, winner", [(499, NONE), (10, BLACK)])
def test_king_capture(number, winner):
    g = Game(Board("KP7/PP7/9/9/4k4/4P4/9/9/9"), number)  # Black's one move: 5d5e takes the King
    assert len(g.board.search_moves(BLACK)) == 1
    result = g.random_play()
    assert result.board == Board("KP7/PP7/9/9/4P4/9/9/9/9 K")
    assert (result.move_number, result.turn, result.winner) == (number + 1, WHITE, winner)


@pytest.mark.parametrize("turn, slot", [(NONE, 65528), (ColorType.ColorNumber, 16)])
def test_side_to_move_neither_black_nor_white_panics(turn, slot):
    g = Game(move_number=7, turn=turn, winner=WHITE)
    message = panic_message(g.random_play)
    assert message == f"index out of bounds: the len is 16 but the index is {slot}"
    assert fields(g) == (Board(), 7, turn, WHITE)


@pytest.mark.parametrize("board, turn, number, stuck", [
    (BLACK_BOXED, BLACK, 42, BLACK), (WHITE_BOXED, WHITE, 42, WHITE),
    (WHITE_BOXED, BLACK, 41, WHITE),  # Black's King steps first, then White is stuck
])  # fmt: skip
def test_side_without_moves_loses(board, turn, number, stuck):
    g = Game(Board(board), number, turn)
    result = g.random_play()
    assert fields(result) == fields(g)
    assert (result.move_number, result.turn, result.winner) == (42, stuck, OPPONENT[stuck.value])
    assert result.board.search_moves(stuck) == []
    assert (result.board == Board(board)) == (turn == stuck)


def test_many_games_end_properly():
    results = [Game(turn=(BLACK, WHITE)[i % 2]).random_play() for i in range(200)]
    for g in results:
        assert_properly_ended(g)
    assert len({(g.move_number, str(g.board)) for g in results}) > 100


def play_five(queue):
    queue.put([(g.move_number, str(g.board)) for g in (Game().random_play() for _ in range(5))])


# Other tests may leave idle threads behind (thread pools, a Dask cluster);
# the children here take no lock, so the interpreter's warning about forking
# a multi-threaded process does not apply.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_forked_processes_play_different_games():
    Game().random_play()  # the parent's generator exists before the fork
    context = multiprocessing.get_context("fork")
    queue = context.Queue()
    children = [context.Process(target=play_five, args=(queue,)) for _ in range(2)]
    for child in children:
        child.start()
    first, second = queue.get(timeout=60), queue.get(timeout=60)
    for child in children:
        child.join()
        assert child.exitcode == 0
    assert len(first) == 5 and first != second


def test_concurrent_threads():
    with ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(lambda _: Game().random_play(), range(40)))
    for g in results:
        assert_properly_ended(g)
    assert len({(g.move_number, str(g.board)) for g in results}) > 20


def chi_square_critical(df, z=3.719):
    """Wilson-Hilferty approximation of the chi-square quantile at normal
    quantile z (3.719: upper tail 1e-4)."""
    h = 2 / (9 * df)
    return df * (1 - h + z * math.sqrt(h)) ** 3


def with_horse_on_5e(sfen):
    def make():
        board = Board(sfen)
        board.deploy(Address(5, 5), PieceType.Horse, BLACK)
        return board

    return make


@pytest.mark.parametrize(
    "make, turn",
    [
        (lambda: Board("startpos"), BLACK),
        # Silver steps into and inside the zone (plain and promoting), King
        # steps, Pawn and Rook drops: every kind of list entry.
        (lambda: Board("4k4/9/9/4S4/9/9/9/9/4K4 RP"), BLACK),
        (lambda: Board("4k4/9/9/9/9/9/4s4/9/4K4 rp"), WHITE),
        # Rook and Lance slides, promoting into the zone, a Horse's slides and
        # steps, Knight drops.
        (with_horse_on_5e("4k4/9/9/1R7/9/9/L8/9/4K4 N"), BLACK),
    ],
)
def test_each_listed_move_is_drawn_equally_often(make, turn):
    board = make()
    outcomes = []
    for move in board.search_moves(turn):
        after = make()
        after.execute_move(move)
        outcomes.append(after)
    draws_per_move = 60
    counts = [0] * len(outcomes)
    for _ in range(draws_per_move * len(outcomes)):
        played = Game(board, move_number=499, turn=turn).random_play().board
        counts[outcomes.index(played)] += 1
    # Binomial spread is about sqrt(60) ~ 7.7 per move; these bounds sit more
    # than five deviations out, so a fair draw passes, while a skewed one (a
    # move drawn twice as often, or one never drawn) fails.
    assert min(counts) >= 20 and max(counts) <= 100, counts
    # Pearson's test against equal chances, at significance 1e-4: a fair draw
    # fails one run in 10,000, a few moves drawn 1.5 times as often fail.
    chi_square = sum((n - draws_per_move) ** 2 / draws_per_move for n in counts)
    assert chi_square < chi_square_critical(len(counts) - 1), (chi_square, counts)


def boxed_horse_position():
    """Black's only move is its Horse's capture (9,9) x (8,8); White's next
    one is a Pawn's (5,5) -> (5,4). Black's third move, a Horse move or a drop
    of the Gold it took, is then drawn from a state that random play has
    updated twice within the call, the Horse's candidates among them."""
    board = Board("9/9/9/9/9/9/9/9/9")
    pieces = [
        # Black: the Horse in its corner, the King in the other, both walled
        # in by Pawns and Knights that cannot move from the last rows.
        ((9, 9), PieceType.Horse, BLACK),
        ((8, 9), PieceType.Pawn, BLACK),
        ((9, 8), PieceType.Knight, BLACK),
        ((7, 7), PieceType.Knight, BLACK),
        ((6, 9), PieceType.Pawn, BLACK),
        ((1, 9), PieceType.King, BLACK),
        ((2, 9), PieceType.Pawn, BLACK),
        ((1, 8), PieceType.Knight, BLACK),
        ((2, 8), PieceType.Knight, BLACK),
        # White: the King walled in the same way, one free Pawn, and a Gold
        # whose moves all land on its own pieces or leave the board.
        ((9, 1), PieceType.King, WHITE),
        ((8, 1), PieceType.Pawn, WHITE),
        ((9, 2), PieceType.Knight, WHITE),
        ((8, 2), PieceType.Knight, WHITE),
        ((5, 5), PieceType.Pawn, WHITE),
        ((8, 8), PieceType.Gold, WHITE),
    ]
    for (column, row), kind, color in pieces:
        board.deploy(Address(column, row), kind, color)
    return board


def test_draws_stay_uniform_after_moves_of_the_same_call():
    start = boxed_horse_position()
    forced = Game(start, move_number=497, turn=BLACK)
    for turn in (BLACK, WHITE):
        (move,) = forced.board.search_moves(turn)
        forced.execute_move(move)
    board = forced.board
    outcomes = []
    for move in board.search_moves(BLACK):
        after = forced.board
        after.execute_move(move)
        outcomes.append(str(after))
    assert len(outcomes) == len(set(outcomes)) >= 10
    draws_per_move = 60
    counts = [0] * len(outcomes)
    for _ in range(draws_per_move * len(outcomes)):
        played = Game(start, move_number=497, turn=BLACK).random_play()
        assert played.move_number == 500
        counts[outcomes.index(str(played.board))] += 1
    assert min(counts) >= 20 and max(counts) <= 100, counts
    chi_square = sum((n - draws_per_move) ** 2 / draws_per_move for n in counts)
    assert chi_square < chi_square_critical(len(counts) - 1), (chi_square, counts)
