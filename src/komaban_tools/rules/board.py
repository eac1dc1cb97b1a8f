"""The board as the standard rules read it: a mailbox of piece codes, and how pieces attack.

komaban lists pseudo-legal moves; the rules of this package judge them on a
mailbox read once from the board's text: a list of codes indexed like
komaban's squares (index = row * 11 + column, Black moving towards row 9),
with walls around the board so that a walk along a line stops at its edge.
"""

from __future__ import annotations

from itertools import chain

from komaban import Board, ColorType, Game

from ..notation import board_text

BLACK, WHITE = 0, 1
COLORS = (ColorType.Black, ColorType.White)
# Mailbox codes: 0 empty, a Black piece its kind number (1 to 14), a White
# piece its kind number + 16, anything outside the board WALL.
EMPTY, WHITE_BIT, WALL = 0, 16, 64
KING, GOLD, ROOK, BISHOP, SILVER, KNIGHT, LANCE, PAWN = range(1, 9)
DRAGON, HORSE, PRO_SILVER, PRO_KNIGHT, PRO_LANCE, PRO_PAWN = range(9, 15)
PROMOTION = 6  # a promoted kind is its kind + 6
# Rows 11 and 12 of walls after the board: a Knight's jump from row 1 or 9
# lands on them, directly or through Python's negative indices.
MAILBOX_SIZE = 11 * 13

LETTERS = {"K": KING, "G": GOLD, "R": ROOK, "B": BISHOP, "S": SILVER, "N": KNIGHT, "L": LANCE}
LETTERS["P"] = PAWN


def code_of(kind: int, color: int) -> int:
    return kind | (WHITE_BIT if color == WHITE else 0)


# ---- how pieces move, for Black (forward is +11, towards row 9) -------------
_GOLD_STEPS = (11, 10, 12, -1, 1, -11)
_STEPS = {
    KING: (11, 10, 12, -1, 1, -11, -10, -12),
    GOLD: _GOLD_STEPS,
    SILVER: (11, 10, 12, -10, -12),
    PAWN: (11,),
    DRAGON: (10, 12, -10, -12),
    HORSE: (11, -11, 1, -1),
    PRO_SILVER: _GOLD_STEPS,
    PRO_KNIGHT: _GOLD_STEPS,
    PRO_LANCE: _GOLD_STEPS,
    PRO_PAWN: _GOLD_STEPS,
}
_ORTHOGONAL, _DIAGONAL = (11, -11, 1, -1), (10, 12, -10, -12)
_SLIDES: dict[int, tuple[int, ...]] = {
    ROOK: _ORTHOGONAL,
    DRAGON: _ORTHOGONAL,
    BISHOP: _DIAGONAL,
    HORSE: _DIAGONAL,
    LANCE: (11,),
}
_KNIGHT_JUMPS = (21, 23)
_DIRECTIONS = _ORTHOGONAL + _DIAGONAL


def direction(color: int) -> int:
    return 1 if color == BLACK else -1


def _attack_table(color: int) -> tuple[tuple[int, frozenset[int], frozenset[int]], ...]:
    """For each direction d seen from a square: the pieces of `color` that
    attack it from the neighbour in direction d (steps, and sliders next to
    it), and those that attack it from further along d (sliders)."""
    sign = direction(color)
    table = []
    for d in _DIRECTIONS:
        step, slide = set(), set()
        for kind in range(1, 15):
            if -d * sign in _STEPS.get(kind, ()):
                step.add(code_of(kind, color))
            if -d * sign in _SLIDES.get(kind, ()):
                step.add(code_of(kind, color))
                slide.add(code_of(kind, color))
        table.append((d, frozenset(step), frozenset(slide)))
    return tuple(table)


ATTACKS = (_attack_table(BLACK), _attack_table(WHITE))
# Where a Knight of each colour attacks a square from, seen from that square.
KNIGHT_FROM = tuple(tuple(-j * direction(c) for j in _KNIGHT_JUMPS) for c in (BLACK, WHITE))
KNIGHT_CODE = (code_of(KNIGHT, BLACK), code_of(KNIGHT, WHITE))
KING_CODE = (code_of(KING, BLACK), code_of(KING, WHITE))
OWN = tuple(frozenset(code_of(k, c) for k in range(1, 15)) for c in (BLACK, WHITE))
FORWARD = (11, -11)
ROWS = {row: range(row * 11 + 1, row * 11 + 10) for row in range(1, 10)}
# Squares a piece can never leave: what an unpromoted move there is illegal for.
DEAD_END = (
    {
        code_of(PAWN, BLACK): frozenset(ROWS[9]),
        code_of(LANCE, BLACK): frozenset(ROWS[9]),
        code_of(KNIGHT, BLACK): frozenset(chain(ROWS[8], ROWS[9])),
    },
    {
        code_of(PAWN, WHITE): frozenset(ROWS[1]),
        code_of(LANCE, WHITE): frozenset(ROWS[1]),
        code_of(KNIGHT, WHITE): frozenset(chain(ROWS[1], ROWS[2])),
    },
)
# Where a Pawn, Lance or Knight can reach a dead end from, by colour and code.
DEAD_END_FROM = (
    {
        code_of(PAWN, BLACK): frozenset(ROWS[8]),
        code_of(LANCE, BLACK): frozenset(chain(*(ROWS[r] for r in range(1, 9)))),
        code_of(KNIGHT, BLACK): frozenset(chain(ROWS[6], ROWS[7])),
    },
    {
        code_of(PAWN, WHITE): frozenset(ROWS[2]),
        code_of(LANCE, WHITE): frozenset(chain(*(ROWS[r] for r in range(2, 10)))),
        code_of(KNIGHT, WHITE): frozenset(chain(ROWS[3], ROWS[4])),
    },
)


# ---- reading a position ------------------------------------------------------
_TOP = (WALL,) * 11
_BOTTOM = (WALL,) * (MAILBOX_SIZE - 110)
_RANK_CACHE: dict[str, tuple[int, ...]] = {}
_RANK_CACHE_LIMIT = 1 << 16


def _parse_rank(rank: str) -> tuple[int, ...]:
    """One rank field of the board text as the 11 mailbox codes of its row."""
    cells = [WALL]
    promoted = False
    for ch in rank:
        if ch == "+":
            promoted = True
        elif ch.isdigit():
            cells.extend([EMPTY] * int(ch))
        else:
            kind = LETTERS.get(ch.upper())
            if kind is None or (promoted and kind in (KING, GOLD)):
                raise ValueError(f"unexpected {ch!r} in the board text")
            if promoted:
                kind += PROMOTION
            cells.append(code_of(kind, BLACK if ch.isupper() else WHITE))
            promoted = False
    if promoted or len(cells) != 10:
        raise ValueError(f"rank {rank!r} does not describe 9 squares")
    cells.append(WALL)
    if len(_RANK_CACHE) >= _RANK_CACHE_LIMIT:
        _RANK_CACHE.clear()
    _RANK_CACHE[rank] = result = tuple(cells)
    return result


def mailbox(board: Board) -> list[int]:
    """The board as a list of codes indexed like komaban's squares (row * 11 + column).

    Read from the board text, which writes promoted pieces; a board holding
    pieces the text cannot show (kind None, or on the border) is refused with
    ValueError.
    """
    text = board_text(board)
    ranks = text.split("/")
    if len(ranks) != 9:
        raise ValueError(f"cannot read the board {text}")
    get = _RANK_CACHE.get
    r = [get(rank) or _parse_rank(rank) for rank in ranks]
    # The text lists row 9 first.
    return [*_TOP, *r[8], *r[7], *r[6], *r[5], *r[4], *r[3], *r[2], *r[1], *r[0], *_BOTTOM]


def attacked(sq: list[int], square: int, by: int) -> bool:
    """Whether a piece of colour `by` (0 Black, 1 White) attacks `square`."""
    # The walk along a line is written out here, in _checks_and_pins and in
    # checking_moves rather than shared: a call per line costs more than the walk.
    for d, step, slide in ATTACKS[by]:
        t = square + d
        p = sq[t]
        if p:
            if p in step:
                return True
        else:
            t += d
            p = sq[t]
            while not p:
                t += d
                p = sq[t]
            if p in slide:
                return True
    knight = KNIGHT_CODE[by]
    j1, j2 = KNIGHT_FROM[by]
    return sq[square + j1] == knight or sq[square + j2] == knight


def side_index(color: ColorType) -> int:
    """0 for Black, 1 for White; ValueError for any other colour."""
    if color == ColorType.Black:
        return BLACK
    if color == ColorType.White:
        return WHITE
    raise ValueError(f"{color} is not a side")


def copy_board(board: Board) -> Board:
    """A copy of a board: a Game copies the Board it is given, and its board attribute again."""
    return Game(board).board


def _moves_of(code: int) -> tuple[frozenset[int], frozenset[int]]:
    """The step offsets (jumps included) and slide directions of a piece code."""
    kind, color = code & 15, WHITE if code & WHITE_BIT else BLACK
    sign = direction(color)
    steps = set(_STEPS.get(kind, ()))
    if kind == KNIGHT:
        steps.update(_KNIGHT_JUMPS)
    return (
        frozenset(d * sign for d in steps),
        frozenset(d * sign for d in _SLIDES.get(kind, ())),
    )


PIECE_MOVES = {
    code_of(kind, color): _moves_of(code_of(kind, color))
    for kind in range(1, 15)
    for color in (0, 1)
}


def _line(a: int, b: int) -> int:
    """The step from square a towards square b when they share a row, column or
    diagonal, else 0."""
    dr, dc = b // 11 - a // 11, b % 11 - a % 11
    if a == b or not (dr == 0 or dc == 0 or abs(dr) == abs(dc)):
        return 0
    return ((dr > 0) - (dr < 0)) * 11 + (dc > 0) - (dc < 0)


LINE = [[_line(a, b) for b in range(121)] for a in range(121)]


def attack_map(sq: list[int], by: int) -> bytearray:
    """Every square a piece of colour `by` attacks, as 1 at its index (walls included).

    One pass over the pieces: cheaper than `attacked` once a position asks about
    more than a dozen squares.
    """
    hits = bytearray(len(sq))
    own = OWN[by]
    for i in [i for i, code in enumerate(sq) if code in own]:
        steps, slides = PIECE_MOVES[sq[i]]
        for d in steps:
            hits[i + d] = 1
        for d in slides:
            t = i + d
            while not sq[t]:
                hits[t] = 1
                t += d
            hits[t] = 1
    return hits
