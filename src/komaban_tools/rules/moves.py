"""Legal moves, check and checkmate under the standard rules, on komaban's moves.

komaban lists pseudo-legal moves: a move may leave the mover's King
capturable, a Pawn, Lance or Knight may stay unpromoted where it can never
move again, and a Pawn may be dropped to give checkmate. `legal_moves` takes
komaban's list and removes exactly those moves. Drops onto the last rows and
a second Pawn on a column are never listed by komaban, so they need no filter.

The filter does not play out the candidates. It reads the board once into a
mailbox, looks outwards from the King for checks and pins, and then tests
only the moves that can be illegal: King moves (is the target attacked once
the King has left its square?), moves of pinned pieces (do they stay on the
line?), every move when in check (does it capture the checker or block?),
unpromoted moves of Pawns, Lances and Knights, and the one Pawn drop in front
of the enemy King (is it mate?). Moves come out in komaban's order.
"""

from __future__ import annotations

from bisect import bisect_left, bisect_right
from itertools import compress

from komaban import Address, Board, ColorType, Move

from .board import (
    ATTACKS,
    BLACK,
    COLORS,
    DEAD_END,
    DEAD_END_FROM,
    EMPTY,
    FORWARD,
    KING_CODE,
    KNIGHT_CODE,
    KNIGHT_FROM,
    LINE,
    OWN,
    PIECE_MOVES,
    PROMOTION,
    attacked,
    code_of,
    copy_board,
    mailbox,
    side_index,
)


def _checks_and_pins(
    sq: list[int], king: int, us: int
) -> tuple[list[int], set[int], dict[int, frozenset[int]]]:
    """The squares of the pieces giving check to `us`'s King at `king`, the
    squares between a sliding checker and the King, and the pinned pieces of
    `us` with the squares each may move to (its line, the pinner included)."""
    checkers: list[int] = []
    between: set[int] = set()
    pinned: dict[int, frozenset[int]] = {}
    own = OWN[us]
    for d, step, slide in ATTACKS[1 - us]:
        t = king + d
        p = sq[t]
        if not p:
            t += d
            p = sq[t]
            while not p:
                t += d
                p = sq[t]
            if p in slide:
                checkers.append(t)
                between.update(range(king + d, t, d))
                continue
        elif p in step:
            checkers.append(t)
            continue
        if p in own:  # a pin when the next piece along is an enemy slider
            u = t + d
            q = sq[u]
            while not q:
                u += d
                q = sq[u]
            if q in slide:
                pinned[t] = frozenset(range(king + d, u + d, d))
    knight = KNIGHT_CODE[1 - us]
    for j in KNIGHT_FROM[1 - us]:
        if sq[king + j] == knight:
            checkers.append(king + j)
    return checkers, between, pinned


def _drop_text(us: int, square: int) -> str:
    column, row = square % 11, square // 11
    return f"{'P' if us == BLACK else 'p'}*{column}{chr(ord('a') + row - 1)}"


def analyse(board: Board, color: ColorType) -> tuple[list[Move], bool]:
    """The legal moves of `color` in komaban's order, and whether `color` is in check."""
    legal, in_check, _ = analyse_mailbox(board, color)
    return legal, in_check


def analyse_mailbox(board: Board, color: ColorType) -> tuple[list[Move], bool, list[int]]:
    """As analyse, and the mailbox it read the board into (see board.mailbox)."""
    us = side_index(color)
    moves = board.search_moves(color)
    sq = mailbox(board)
    try:
        king = sq.index(KING_CODE[us])
    except ValueError:
        king = -1  # no King to expose: only dead ends and Pawn-drop mate apply
    them = 1 - us
    if king >= 0:
        checkers, between, pinned = _checks_and_pins(sq, king, us)
    else:
        checkers, between, pinned = [], set(), {}
    if len(checkers) > 1:
        targets: set[int] | None = set()  # only the King may move
    elif checkers:
        targets = between | {checkers[0]}
    else:
        targets = None  # not in check: any target

    n_board = bisect_left(moves, True, key=Move.is_drop)
    board_moves = moves[:n_board]
    # Board moves come grouped by source square, in ascending order: the moves
    # of a piece that cannot be illegal are taken as a whole run.
    sources = list(map(Address.to_int, map(Move.get_from, board_moves)))  # no bytecode per move
    legal: list[Move] = []
    dead_from = DEAD_END_FROM[us]
    done = 0  # board_moves[:done] are decided
    for f in dict.fromkeys(sources):
        code = sq[f]
        if (
            targets is None
            and f != king
            and f not in pinned
            and not (code in dead_from and f in dead_from[code])
        ):
            continue
        i = bisect_left(sources, f, done)
        j = bisect_right(sources, f, i)
        legal += board_moves[done:i]
        done = j
        if f == king:
            sq[king] = EMPTY  # the King no longer blocks a slider behind it
            for m in board_moves[i:j]:
                if not attacked(sq, m.get_to().to_int(), them):
                    legal.append(m)
            sq[king] = code
            continue
        line = pinned.get(f)
        dead = DEAD_END[us].get(code)
        for m in board_moves[i:j]:
            to = m.get_to().to_int()
            if line is not None and to not in line:
                continue
            if targets is not None and to not in targets:
                continue
            if dead is not None and to in dead and not m.is_promote():
                continue
            legal.append(m)
    legal += board_moves[done:]

    drops = moves[n_board:]
    if drops:
        board_legal = len(legal)
        if targets is None:
            legal.extend(drops)
        elif targets:
            squares = map(Address.to_int, map(Move.get_to, drops))
            legal.extend(compress(drops, map(targets.__contains__, squares)))
        _remove_pawn_drop_mate(board, sq, us, legal, board_legal)
    return legal, bool(checkers), sq


def _remove_pawn_drop_mate(
    board: Board, sq: list[int], us: int, legal: list[Move], start: int
) -> None:
    """Removes from legal[start:] the Pawn drop that would checkmate the enemy King."""
    try:
        enemy_king = sq.index(KING_CODE[1 - us])
    except ValueError:
        return
    square = enemy_king - FORWARD[us]
    # A Pawn the King can take is no mate; one that nothing protects, the King takes.
    if sq[square] != EMPTY or not attacked(sq, square, us):
        return
    drop = Move(csa=_drop_text(us, square))
    try:
        i = legal.index(drop, start)
    except ValueError:
        return
    after = copy_board(board)
    after.execute_move(drop)
    if not analyse(after, COLORS[1 - us])[0]:
        del legal[i]


def legal_moves(board: Board, color: ColorType) -> list[Move]:
    """The legal moves of `color` under the standard rules, in komaban's order.

    komaban's list without the moves that leave the mover's King capturable,
    the unpromoted moves that leave a Pawn or Lance on the last row or a
    Knight on the last two rows, and a Pawn drop that gives checkmate.
    """
    return analyse(board, color)[0]


def is_check(board: Board, color: ColorType) -> bool:
    """Whether the King of `color` is attacked (False when it has no King)."""
    us = side_index(color)
    sq = mailbox(board)
    try:
        king = sq.index(KING_CODE[us])
    except ValueError:
        return False
    return attacked(sq, king, 1 - us)


def is_checkmate(board: Board, color: ColorType) -> bool:
    """Whether `color` is in check and has no legal move."""
    return is_check(board, color) and not legal_moves(board, color)


# ---- checks -----------------------------------------------------------------
def checking_moves(board: Board, color: ColorType, moves: list[Move] | None = None) -> list[Move]:
    """The moves of `color` (its legal moves, or `moves`) that give check.

    A move checks directly (the piece, promoted or not, attacks the enemy King
    from its target) or by discovery (it uncovers a slider of its own).
    """
    us = side_index(color)
    if moves is None:
        moves = legal_moves(board, color)
    sq = mailbox(board)
    try:
        king = sq.index(KING_CODE[1 - us])
    except ValueError:
        return []
    # Own pieces that alone stand between a slider of their own and the enemy
    # King, with the line they must stay on not to give check.
    discovers: dict[int, frozenset[int]] = {}
    own = OWN[us]
    for d, _, slide in ATTACKS[us]:
        t = king + d
        p = sq[t]
        while not p:
            t += d
            p = sq[t]
        if p in own:
            u = t + d
            q = sq[u]
            while not q:
                u += d
                q = sq[u]
            if q in slide:
                discovers[t] = frozenset(range(king + d, u, d))
    checks = []
    line_from = LINE
    for m in moves:
        to = m.get_to().to_int()
        if m.is_drop():
            f, code = -1, code_of(int(m.get_piece().piece_type), us)
        else:
            f = m.get_from().to_int()
            code = sq[f] + (PROMOTION if m.is_promote() else 0)
            stay = discovers.get(f)
            if stay is not None and to not in stay:
                checks.append(m)
                continue
        steps, slides = PIECE_MOVES[code]
        if king - to in steps:
            checks.append(m)
            continue
        d = line_from[to][king]
        if d and d in slides:
            s = to + d
            while s != king and (sq[s] == EMPTY or s == f):
                s += d
            if s == king:
                checks.append(m)
    return checks
