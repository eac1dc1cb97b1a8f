"""Seeded random games, checked move by move against a small Python model.

The model holds the pieces on the board and both hands. After every move the
board must match it square by square, equal a board rebuilt from it (hand text
plus one deploy per piece), and offer exactly the drops the model allows.
"""

import random
from collections import Counter

import pytest

from komaban import Address, Board, ColorType, Move, PieceType

BLACK, WHITE = ColorType.Black, ColorType.White
NO_COLOR, NO_KIND = getattr(ColorType, "None"), getattr(PieceType, "None")
PLAYING = [(c, r) for r in range(1, 10) for c in range(1, 10)]  # ascending index
BORDER = [(c, r) for r in range(11) for c in range(11) if not (0 < c < 10 and 0 < r < 10)]
LETTERS = " KGRBSNLP"


def letter(color, kind):
    return LETTERS[kind] if color == 0 else LETTERS[kind].lower()


def snapshot(board):
    """(column, row) -> (owner, kind number) for every occupied playing square."""
    pieces = {}
    for c, r in PLAYING:
        piece = board.get_piece(Address(c, r))
        assert (piece.owner == NO_COLOR) == (piece.piece_type == NO_KIND), (c, r)
        if piece.piece_type != NO_KIND:
            assert piece.owner in (BLACK, WHITE)
            pieces[(c, r)] = (int(piece.owner), int(piece.piece_type))
    for c, r in BORDER:
        piece = board.get_piece(Address(c, r))
        assert (piece.owner, piece.piece_type) == (NO_COLOR, NO_KIND), (c, r)
    return pieces


def rebuilt(pieces, hand):
    text = "".join(letter(color, kind) * n for (color, kind), n in sorted(hand.items()))
    board = Board(f"9/9/9/9/9/9/9/9/9 {text}")
    for (c, r), (owner, kind) in pieces.items():
        board.deploy(Address(c, r), PieceType(kind), ColorType(owner))
    return board


def expected_drops(color, pieces, hand):
    pawn_columns = {c for (c, _), piece in pieces.items() if piece == (color, 8)}
    last = (9, 8) if color == 0 else (1, 2)
    forbidden = {2: (), 3: (), 4: (), 5: (), 6: last, 7: last[:1], 8: last[:1]}
    return [
        f"{letter(color, kind)}*{c}{'abcdefghi'[r - 1]}"
        for kind in range(2, 9)
        if hand[(color, kind)]
        for c, r in PLAYING
        if (c, r) not in pieces and r not in forbidden[kind]
        and not (kind == 8 and c in pawn_columns)
    ]  # fmt: skip


def apply(move, color, pieces, hand):
    """The model's version of execute_move."""
    to = move.get_to()
    to = (to.column, to.row)
    if to in pieces:
        owner, kind = pieces[to]
        hand[(1 - owner, kind - 6 if kind > 8 else kind)] += 1
    if move.is_drop():
        kind = int(move.get_piece().piece_type)
        assert hand[(color, kind)] > 0
        hand[(color, kind)] -= 1
        pieces[to] = (color, kind)
    else:
        source = move.get_from()
        owner, kind = pieces.pop((source.column, source.row))
        assert owner == color
        promoted = move.is_promote() and 3 <= kind <= 8
        pieces[to] = (owner, kind + 6 if promoted else kind)


@pytest.mark.parametrize("seed", range(30))
def test_random_game_follows_the_model(seed):
    rng = random.Random(seed)
    board, hand, turn = Board(), Counter(), BLACK
    pieces = snapshot(board)
    for _ply in range(200):
        moves = board.search_moves(turn)
        texts = [str(m)[len("Move(csa=") : -1] for m in moves]
        assert all(Move(csa=t) == m for t, m in zip(texts, moves, strict=True))
        drops = [t for t, m in zip(texts, moves, strict=True) if m.is_drop()]
        assert texts[len(texts) - len(drops) :] == drops
        assert drops == expected_drops(int(turn), pieces, hand)

        move = rng.choice(moves)
        apply(move, int(turn), pieces, hand)
        board.execute_move(move)
        assert snapshot(board) == pieces
        assert len(pieces) + sum(hand.values()) == 40
        again = rebuilt(pieces, hand)
        assert str(again) == str(board) and again == board

        kings = [owner for owner, kind in pieces.values() if kind == 1]
        finished, winner = board.is_finished()
        assert finished == (len(kings) != 2)
        if finished:
            assert winner == (BLACK if 0 in kings else WHITE)
            break
        assert winner == NO_COLOR
        turn = WHITE if turn == BLACK else BLACK
