"""A static evaluation of a position, and cheap estimates of what a move wins.

Random playouts say next to nothing about material: a game of uniformly random
moves runs about 170 plies and ends when a King is taken, so a Rook more or
less hardly moves its result. The search therefore mixes this evaluation into
its playouts' results. Both functions read the mailbox that the legality
filter builds anyway (`moves.analyse_mailbox`), so they cost a pass over the
board and over the moves, no move made.

* `evaluate`: material on the board and in hand, promoted pieces at their
  promoted value, plus most of the best capture the side to move has (it is
  its move: a piece left hanging is as good as taken), in centipawns for the
  side to move.
* `move_gains`: for each move, what it wins or risks at a glance: the piece
  it takes (less its own value when the target is defended), what promoting
  adds, what it loses on an attacked square, what it saves by leaving one.
  The search orders and weighs new moves by it.

>>> from komaban import Board, ColorType
>>> from komaban_tools.rules.moves import analyse_mailbox
>>> moves, _, sq = analyse_mailbox(Board("4k4/9/9/9/4r4/9/9/9/B7K"), ColorType.Black)
>>> evaluate(sq, ((0,) * 9, (0,) * 9), 0, moves)  # a Bishop against a Rook, the Rook hanging
657
"""

from __future__ import annotations

from collections.abc import Sequence

from komaban import Address, Move

from .board import (
    BISHOP,
    EMPTY,
    GOLD,
    KING_CODE,
    KNIGHT,
    LANCE,
    OWN,
    PAWN,
    PROMOTION,
    ROOK,
    SILVER,
    WALL,
    WHITE_BIT,
    attack_map,
    attacked,
)

# Values in centipawns by kind: None, King (never taken in a legal game),
# Gold, Rook, Bishop, Silver, Knight, Lance, Pawn, then the promoted Rook
# (Dragon) to the promoted Pawn.
PIECE_VALUES = (0, 0, 540, 990, 855, 495, 405, 315, 90, 1395, 945, 540, 540, 540, 540)
# A piece in hand may be dropped almost anywhere: a little more than on the board.
HAND_VALUES = (0, 0, 570, 1050, 900, 530, 430, 340, 100)
# The share of the best capture that counts before it is made.
CAPTURE_SHARE = 0.8
# Black's view of every mailbox code: + for Black's pieces, - for White's, 0 for
# empty squares and walls.
_SIGNED = [0] * 65
for _kind in range(1, 15):
    _SIGNED[_kind] = PIECE_VALUES[_kind]
    _SIGNED[_kind | WHITE_BIT] = -PIECE_VALUES[_kind]
_VALUE = [abs(v) for v in _SIGNED]  # by code, either colour

Hands = Sequence[Sequence[int]]

# King safety: the eight squares around a King, and how much each piece in the
# enemy's hand adds to an attacked one (drops make an attack: a Rook most).
_AROUND = (11, 10, 12, -1, 1, -11, -10, -12)
_DROP_THREAT = {ROOK: 3, BISHOP: 2, GOLD: 2, SILVER: 2, KNIGHT: 1, LANCE: 1, PAWN: 0}
# Centipawns an attacked square next to the King costs, and per drop threat.
ATTACKED_SQUARE, PER_DROP = 40, 12
# Centipawns for each of the three guards short next to the King.
MISSING_GUARD = 25


def material(sq: list[int], hands: Hands, us: int) -> int:
    """Material on the board and in hand for side `us` (0 Black, 1 White), in centipawns."""
    board = sum(map(_SIGNED.__getitem__, sq))
    held = sum(v * (b - w) for v, b, w in zip(HAND_VALUES, hands[0], hands[1], strict=False))
    total = board + held
    return total if us == 0 else -total


def king_danger(sq: list[int], hands: Hands, side: int) -> int:
    """What the threats around side's King cost it, in centipawns: each square next
    to it that the enemy attacks, the more so the more the enemy can drop, and each
    of its three guards (own pieces next to it) missing. 0 without a King."""
    them = 1 - side
    try:
        king = sq.index(KING_CODE[side])
    except ValueError:
        return 0
    own = OWN[side]
    held = hands[them]
    drops = sum(n * held[kind] for kind, n in _DROP_THREAT.items())
    hit = guards = 0
    for d in _AROUND:
        t = king + d
        code = sq[t]
        if code == WALL:
            continue
        if code in own:
            guards += 1
        if attacked(sq, t, them):
            hit += 1
    return hit * (ATTACKED_SQUARE + PER_DROP * drops) + max(0, 3 - guards) * MISSING_GUARD


def _targets(moves: Sequence[Move]) -> list[int]:
    return list(map(Address.to_int, map(Move.get_to, moves)))


def evaluate(
    sq: list[int], hands: Hands, us: int, moves: Sequence[Move], king_weight: float = 0.0
) -> int:
    """The position for side `us` to move with its legal `moves`, in centipawns:
    material, plus CAPTURE_SHARE of the best capture at a glance, plus `king_weight`
    times the difference of the two Kings' dangers (`king_danger`)."""
    score = material(sq, hands, us)
    if king_weight:
        score += int(king_weight * (king_danger(sq, hands, 1 - us) - king_danger(sq, hands, us)))
    enemy = OWN[1 - us]
    them = 1 - us
    best = 0
    targets = _targets(moves)
    for i, to in enumerate(targets):
        victim = sq[to]
        if victim not in enemy:
            continue
        move = moves[i]
        gain = _VALUE[victim]
        if gain <= best:
            continue
        if attacked(sq, to, them):
            mover = sq[move.get_from().to_int()]
            gain -= _VALUE[mover + PROMOTION if move.is_promote() else mover]
        best = max(best, gain)
    return score + int(CAPTURE_SHARE * best)


def move_gains(sq: list[int], us: int, moves: Sequence[Move]) -> list[int]:
    """What each of side `us`'s moves wins at a glance, in centipawns.

    A capture wins the piece taken, less the capturing piece when the target
    is defended; a promotion adds the difference of the two values; a move or
    drop to an attacked square risks the piece (half of it when the square is
    defended too); a piece that leaves an attacked square for a safe one saves
    half its value. No move is made: the squares are judged as they stand.
    """
    enemy = OWN[1 - us]
    threats = attack_map(sq, 1 - us)
    gains = []
    targets = _targets(moves)
    for move, to in zip(moves, targets, strict=True):
        victim = sq[to]
        if move.is_drop():
            kind = int(move.get_piece().piece_type)
            gain = 0
            if threats[to]:
                risk = PIECE_VALUES[kind]
                gain -= risk // 2 if attacked(sq, to, us) else risk
            gains.append(gain)
            continue
        origin = move.get_from().to_int()
        mover = sq[origin]
        after = mover + PROMOTION if move.is_promote() else mover
        gain = _VALUE[after] - _VALUE[mover]
        hit = threats[to]
        if victim in enemy:
            gain += _VALUE[victim] - (_VALUE[after] if hit else 0)
        elif hit:
            sq[origin] = EMPTY  # the piece does not defend the square it moves to
            defended = attacked(sq, to, us)
            sq[origin] = mover
            gain -= _VALUE[after] // 2 if defended else _VALUE[after]
        elif threats[origin]:
            gain += _VALUE[mover] // 2  # it escapes
        gains.append(gain)
    return gains
