"""The standard rules of shogi on top of komaban's pseudo-legal moves.

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

`GameState` adds what a game needs beyond one position: the side to move,
the pieces in hand, and the history that repetition (sennichite) is judged
from.

Squares are komaban's: index = row * 11 + column, Black moving towards row 9.
"""

from __future__ import annotations

import re
from bisect import bisect_left, bisect_right
from collections.abc import Sequence
from dataclasses import dataclass, field
from enum import Enum
from itertools import chain, compress

from notation import load_sfen, usi_to_komaban

from komaban import Address, Board, ColorType, Game, Move, PieceType

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

_LETTERS = {"K": KING, "G": GOLD, "R": ROOK, "B": BISHOP, "S": SILVER, "N": KNIGHT, "L": LANCE}
_LETTERS["P"] = PAWN


def _code(kind: int, color: int) -> int:
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


def _sign(color: int) -> int:
    return 1 if color == BLACK else -1


def _attack_table(color: int) -> tuple[tuple[int, frozenset[int], frozenset[int]], ...]:
    """For each direction d seen from a square: the pieces of `color` that
    attack it from the neighbour in direction d (steps, and sliders next to
    it), and those that attack it from further along d (sliders)."""
    sign = _sign(color)
    table = []
    for d in _DIRECTIONS:
        step, slide = set(), set()
        for kind in range(1, 15):
            if -d * sign in _STEPS.get(kind, ()):
                step.add(_code(kind, color))
            if -d * sign in _SLIDES.get(kind, ()):
                step.add(_code(kind, color))
                slide.add(_code(kind, color))
        table.append((d, frozenset(step), frozenset(slide)))
    return tuple(table)


ATTACKS = (_attack_table(BLACK), _attack_table(WHITE))
# Where a Knight of each colour attacks a square from, seen from that square.
KNIGHT_FROM = tuple(tuple(-j * _sign(c) for j in _KNIGHT_JUMPS) for c in (BLACK, WHITE))
KNIGHT_CODE = (_code(KNIGHT, BLACK), _code(KNIGHT, WHITE))
KING_CODE = (_code(KING, BLACK), _code(KING, WHITE))
OWN = tuple(frozenset(_code(k, c) for k in range(1, 15)) for c in (BLACK, WHITE))
FORWARD = (11, -11)
ROWS = {row: range(row * 11 + 1, row * 11 + 10) for row in range(1, 10)}
# Squares a piece can never leave: what an unpromoted move there is illegal for.
DEAD_END = (
    {
        _code(PAWN, BLACK): frozenset(ROWS[9]),
        _code(LANCE, BLACK): frozenset(ROWS[9]),
        _code(KNIGHT, BLACK): frozenset(chain(ROWS[8], ROWS[9])),
    },
    {
        _code(PAWN, WHITE): frozenset(ROWS[1]),
        _code(LANCE, WHITE): frozenset(ROWS[1]),
        _code(KNIGHT, WHITE): frozenset(chain(ROWS[1], ROWS[2])),
    },
)
# Where a Pawn, Lance or Knight can reach a dead end from, by colour and code.
DEAD_END_FROM = (
    {
        _code(PAWN, BLACK): frozenset(ROWS[8]),
        _code(LANCE, BLACK): frozenset(chain(*(ROWS[r] for r in range(1, 9)))),
        _code(KNIGHT, BLACK): frozenset(chain(ROWS[6], ROWS[7])),
    },
    {
        _code(PAWN, WHITE): frozenset(ROWS[2]),
        _code(LANCE, WHITE): frozenset(chain(*(ROWS[r] for r in range(2, 10)))),
        _code(KNIGHT, WHITE): frozenset(chain(ROWS[3], ROWS[4])),
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
            kind = _LETTERS.get(ch.upper())
            if kind is None or (promoted and kind in (KING, GOLD)):
                raise ValueError(f"unexpected {ch!r} in the board text")
            if promoted:
                kind += PROMOTION
            cells.append(_code(kind, BLACK if ch.isupper() else WHITE))
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
    text = str(board)
    ranks = text[11:-1].split("/")
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


def side_index(color: ColorType) -> int:
    """0 for Black, 1 for White; ValueError for any other colour."""
    if color == ColorType.Black:
        return BLACK
    if color == ColorType.White:
        return WHITE
    raise ValueError(f"{color} is not a side")


def _drop_text(us: int, square: int) -> str:
    column, row = square % 11, square // 11
    return f"{'P' if us == BLACK else 'p'}*{column}{chr(ord('a') + row - 1)}"


def copy_board(board: Board) -> Board:
    """A copy of a board: a Game copies the Board it is given, and its board attribute again."""
    return Game(board).board


def analyse(board: Board, color: ColorType) -> tuple[list[Move], bool]:
    """The legal moves of `color` in komaban's order, and whether `color` is in check."""
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
    return legal, bool(checkers)


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
def _moves_of(code: int) -> tuple[frozenset[int], frozenset[int]]:
    """The step offsets (jumps included) and slide directions of a piece code."""
    kind, color = code & 15, WHITE if code & WHITE_BIT else BLACK
    sign = _sign(color)
    steps = set(_STEPS.get(kind, ()))
    if kind == KNIGHT:
        steps.update(_KNIGHT_JUMPS)
    return (
        frozenset(d * sign for d in steps),
        frozenset(d * sign for d in _SLIDES.get(kind, ())),
    )


PIECE_MOVES = {
    _code(kind, color): _moves_of(_code(kind, color)) for kind in range(1, 15) for color in (0, 1)
}


def _line(a: int, b: int) -> int:
    """The step from square a towards square b when they share a row, column or
    diagonal, else 0."""
    dr, dc = b // 11 - a // 11, b % 11 - a % 11
    if a == b or not (dr == 0 or dc == 0 or abs(dr) == abs(dc)):
        return 0
    return ((dr > 0) - (dr < 0)) * 11 + (dc > 0) - (dc < 0)


LINE = [[_line(a, b) for b in range(121)] for a in range(121)]


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
            f, code = -1, _code(int(m.get_piece().piece_type), us)
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


# ---- a game: side to move, hands, history -----------------------------------
class Outcome(Enum):
    """How a game position ends under the standard rules, for the side to move."""

    CHECKMATED = "checkmated"  # no legal move (in check or not: both lose)
    REPETITION = "repetition"  # the fourth occurrence, a draw
    PERPETUAL_CHECK_WIN = "perpetual check win"  # the opponent checked throughout
    PERPETUAL_CHECK_LOSS = "perpetual check loss"  # the side to move checked throughout


HAND_KINDS = (ROOK, BISHOP, GOLD, SILVER, KNIGHT, LANCE, PAWN)  # SFEN's order
_HAND_LETTER = {ROOK: "R", BISHOP: "B", GOLD: "G", SILVER: "S", KNIGHT: "N", LANCE: "L", PAWN: "P"}
USI_MOVE = re.compile(r"[1-9][a-i][1-9][a-i]\+?|[RBGSNLP]\*[1-9][a-i]")


def repetition_outcome(
    keys: Sequence[str], checks: Sequence[bool], occurrences: int = 4
) -> Outcome | None:
    """The repetition outcome of the last position of a history, or None.

    keys[i] identifies position i (board, side to move, hands); checks[i] says
    whether the side to move there is in check, that is whether the move into
    it gave check. The fourth occurrence of the last position ends the game: a
    draw, unless every move one side made since the first of the four
    occurrences gave check; that side loses. (A search may end a line at an
    earlier occurrence.)
    """
    last = keys[-1]
    seen = [i for i, key in enumerate(keys) if key == last]
    if len(seen) < occurrences:
        return None
    first, now = seen[-occurrences], len(keys) - 1
    # Position i was reached by the move of the side not to move at i: positions
    # now, now - 2, ... were reached by the opponent of the side to move now.
    by_opponent = all(checks[i] for i in range(now, first, -2))
    by_mover = all(checks[i] for i in range(now - 1, first, -2))
    if by_opponent and not by_mover:
        return Outcome.PERPETUAL_CHECK_WIN
    if by_mover and not by_opponent:
        return Outcome.PERPETUAL_CHECK_LOSS
    return Outcome.REPETITION


@dataclass
class GameState:
    """A game under the standard rules: position, side to move, hands and history.

    komaban's Board keeps the hands but cannot report their counts, so they
    are counted here as moves are played (for the repetition key and SFEN).
    """

    board: Board
    turn: int
    hands: list[list[int]]  # hands[colour][kind]: counts for kinds 0 to 8
    move_number: int = 1
    keys: list[str] = field(default_factory=list, repr=False)
    checks: list[bool] = field(default_factory=list, repr=False)
    moves: list[Move] = field(default_factory=list, repr=False)
    _legal: list[Move] | None = field(default=None, repr=False)

    @classmethod
    def from_sfen(cls, line: str) -> GameState:
        """A game from a standard SFEN line, or "startpos"; ValueError when malformed."""
        if line.strip() == "startpos":
            line = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"
        game = load_sfen(line)
        hands = [[0] * 9, [0] * 9]
        hand_field = line.split()[2]
        if hand_field != "-":
            for count, letter in re.findall(r"(\d*)([RBGSNLPrbgsnlp])", hand_field):
                hands[BLACK if letter.isupper() else WHITE][_LETTERS[letter.upper()]] += int(
                    count or 1
                )
        sq = mailbox(game.board)
        for c in (BLACK, WHITE):
            if sq.count(KING_CODE[c]) != 1:
                raise ValueError(f"{COLORS[c].name} must have exactly one King")
        state = cls(game.board, side_index(game.turn), hands, game.move_number)
        state._record()
        return state

    def copy(self) -> GameState:
        return GameState(
            copy_board(self.board),
            self.turn,
            [list(h) for h in self.hands],
            self.move_number,
            list(self.keys),
            list(self.checks),
            list(self.moves),
            self._legal,
        )

    @property
    def color(self) -> ColorType:
        return COLORS[self.turn]

    def key(self) -> str:
        """The position as a repetition key: board text, side to move and hands."""
        hands = ",".join(map(str, self.hands[BLACK][1:] + self.hands[WHITE][1:]))
        return f"{str(self.board)[11:-1]} {self.turn} {hands}"

    def _record(self) -> None:
        self._legal, in_check = analyse(self.board, self.color)
        self.keys.append(self.key())
        self.checks.append(in_check)

    def legal_moves(self) -> list[Move]:
        """The legal moves of the side to move."""
        assert self._legal is not None
        return self._legal

    def in_check(self) -> bool:
        return self.checks[-1]

    def push(self, move: Move) -> None:
        """Plays a move, which must be legal (see legal_moves)."""
        hand = self.hands[self.turn]
        if move.is_drop():
            hand[int(move.get_piece().piece_type)] -= 1
        else:
            taken = self.board.get_piece(move.get_to())
            if taken.owner == COLORS[1 - self.turn]:
                kind = int(taken.piece_type)
                hand[kind - PROMOTION if kind > PAWN else kind] += 1
        self.board.execute_move(move)
        self.moves.append(move)
        self.turn = 1 - self.turn
        self.move_number += 1
        self._record()

    def push_usi(self, usi: str) -> Move:
        """Plays a move given in USI text; ValueError when it is not legal here."""
        if not USI_MOVE.fullmatch(usi):
            raise ValueError(f"malformed move {usi!r}")
        move = Move(csa=usi_to_komaban(usi, self.color))
        if move not in self.legal_moves():
            raise ValueError(f"illegal move {usi!r}")
        self.push(move)
        return move

    def outcome(self) -> Outcome | None:
        """How the game has ended for the side to move, or None while it goes on."""
        if not self.legal_moves():
            return Outcome.CHECKMATED
        return repetition_outcome(self.keys, self.checks)

    def sfen(self) -> str:
        """The position as a standard SFEN line."""
        hand = ""
        for c, upper in ((BLACK, True), (WHITE, False)):
            for kind in HAND_KINDS:
                n = self.hands[c][kind]
                if n:
                    letter = _HAND_LETTER[kind]
                    hand += (str(n) if n > 1 else "") + (letter if upper else letter.lower())
        side = "b" if self.turn == BLACK else "w"
        return f"{str(self.board)[11:-1]} {side} {hand or '-'} {self.move_number}"


def kind_name(kind: PieceType) -> str:
    """The kind's letter as in SFEN, "+R" for a Dragon."""
    number = int(kind)
    if number > PAWN:
        return "+" + _HAND_LETTER.get(number - PROMOTION, "?")
    return "K" if number == KING else _HAND_LETTER.get(number, "?")
