"""The static evaluation, the search's use of it, and the options that reach it."""

import io
import random

import pytest

from komaban_tools.notation import usi_text
from komaban_tools.rules import COLORS, GameState, legal_moves, mailbox
from komaban_tools.rules.board import attack_map, attacked
from komaban_tools.rules.evaluation import evaluate, material, move_gains
from komaban_tools.rules.moves import analyse_mailbox
from komaban_tools.search import PLAIN, Settings, TreeSearch, choose, merge
from komaban_tools.usi import UsiEngine
from komaban_tools.usi.options import PLAIN_OPTIONS

# Black to move; White's Rook on 5e hangs to the Bishop on 9i.
HANGING_ROOK = "4k4/9/9/9/4r4/9/9/9/B7K b - 1"
SQUARES = [row * 11 + column for row in range(1, 10) for column in range(1, 10)]


def random_positions(count, seed):
    """SFEN lines of positions of random legal games."""
    rng, lines = random.Random(seed), []
    while len(lines) < count:
        state = GameState.from_sfen("startpos")
        for _ in range(rng.randrange(1, 150)):
            moves = state.legal_moves()
            if not moves:
                break
            state.push(rng.choice(moves))
        lines.append(state.sfen())
    return lines


def test_the_attack_map_agrees_with_attacked():
    for sfen in random_positions(60, seed=29):
        sq = mailbox(GameState.from_sfen(sfen).board)
        for by in (0, 1):
            hits = attack_map(sq, by)
            assert [hits[t] == 1 for t in SQUARES] == [attacked(sq, t, by) for t in SQUARES]


@pytest.mark.parametrize("sfen", ["startpos", *random_positions(20, seed=3)])
def test_material_is_the_same_from_either_side(sfen):
    state = GameState.from_sfen(sfen)
    sq, hands = mailbox(state.board), tuple(map(tuple, state.hands))
    assert material(sq, hands, 0) == -material(sq, hands, 1)
    if sfen == "startpos":
        moves = legal_moves(state.board, COLORS[0])
        assert evaluate(sq, hands, 0, moves, king_weight=1.0) == 0


def test_gains_see_a_free_capture_and_a_piece_put_en_prise():
    state = GameState.from_sfen(HANGING_ROOK.replace(" - ", " G "))
    moves, _, sq = analyse_mailbox(state.board, COLORS[0])
    gains = dict(zip(map(usi_text, moves), move_gains(sq, 0, moves), strict=True))
    assert max(gains, key=gains.get) == "9i5e" and gains["9i5e"] == 990
    assert gains["G*5h"] == gains["G*6e"] == -540  # on the Rook's lines, undefended
    assert gains["G*4d"] == gains["9i6f"] == 0


def test_the_search_takes_a_hanging_rook():
    search = TreeSearch(GameState.from_sfen(HANGING_ROOK), Settings(), random.Random(1))
    while search.playouts < 400:
        search.step()
    assert choose(merge([search.summary()])).move == "9i5e"


def test_the_plain_options_give_the_plain_search():
    engine = UsiEngine(io.StringIO())
    for name, value in PLAIN_OPTIONS.items():
        engine.handle(f"setoption name {name} value {value}")
    assert engine._settings() == PLAIN
    assert UsiEngine(io.StringIO())._settings() == Settings()


def test_a_kept_tree_goes_on_where_the_game_went():
    state = GameState.from_sfen("startpos")
    search = TreeSearch(state, Settings(reuse=True), random.Random(2))
    while search.playouts < 600:
        search.step()
    first = max(search.root.children, key=lambda child: child.visits)
    reply = max(first.children, key=lambda child: child.visits)
    visits = reply.visits
    assert search.advance([first.move, reply.move]) and search.root is reply
    assert search.root.visits == visits > 0 and search.playouts == 0
    assert not search.advance([search.root.moves[0]] * 2)  # a move twice: not in the tree
