"""Random sequences of calls on two boards, a game and a hand: only the
documented exceptions, failed calls change nothing, generated moves read back
from their text and play as listed, and the objects stay consistent."""

import functools

import pytest
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import (
    RuleBasedStateMachine,
    invariant,
    precondition,
    rule,
    run_state_machine_as_test,
)
from strategies import (
    BLACK,
    LAST_INPUT,
    NO_COLOR,
    SIGNED,
    WHITE,
    addresses,
    colors,
    count_input,
    field,
    game_fields,
    integers,
    is_panic,
    kinds,
    move_like,
    move_text,
    outcome,
    pieces,
    sfen_like,
)

from komaban import Board, Game, Hand, Move, Piece, PieceType

NO_KIND = PieceType(0)
arbitrary_moves = st.one_of(
    move_like.map(lambda t: outcome(lambda: Move(csa=t))).filter(lambda m: isinstance(m, Move)),
    st.builds(
        lambda f, t, p: Move(from_address=f, to_address=t, promote=p),
        addresses,
        addresses,
        st.booleans(),
    ),
    st.builds(lambda p, t: Move(piece=p, to_address=t), pieces, addresses),
)


def copy(board):
    return Game(board).board


def promoted(kind, promote):
    return PieceType(kind.value + 6) if promote and 3 <= kind.value <= 8 else kind


def logged(step):
    """Under `make fuzz`, keeps the calls of the running sequence in the
    FUZZ_LAST_INPUT file, for a crash that hypothesis cannot report."""
    if not LAST_INPUT:
        return step

    @functools.wraps(step)
    def logging_step(self, **arguments):
        self.log.write(f"state.{step.__name__}(**{arguments!r})\n")
        self.log.flush()
        return step(self, **arguments)

    return logging_step


class Calls(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        if LAST_INPUT:
            self.log = open(LAST_INPUT, "w", encoding="utf-8")  # closed in teardown
            self.log.write("state = Calls()\n")
        self.boards = [Board(), Board("")]
        self.lists = [None, None]  # the last move list of each board, while it holds
        self.game = Game()
        self.hand = Hand()
        self.counts = [0] * 16
        self.labels = self.hand.pieces

    # -- boards

    @rule(i=st.integers(0, 1), color=colors)
    @logged
    def search_moves(self, i, color):
        board = self.boards[i]
        before = copy(board)
        result = outcome(lambda: board.search_moves(color))
        assert board == before
        if color not in (BLACK, WHITE):
            assert is_panic(result), repr(result)
            return
        assert type(result) is list
        for move in result:
            assert Move(csa=move_text(move)) == move
        self.lists[i] = (color, result)

    @precondition(lambda self: any(self.lists))
    @rule(data=st.data())
    @logged
    def execute_listed_move(self, data):
        i = data.draw(st.sampled_from([i for i in (0, 1) if self.lists[i]]))
        (color, moves), board = self.lists[i], self.boards[i]
        if not moves:
            return
        move = data.draw(st.sampled_from(moves))
        if move.is_drop():
            arriving = move.get_piece()
            assert arriving.owner == color
        else:
            mover = board.get_piece(move.get_from())
            assert mover.owner == color and mover.piece_type != NO_KIND
            arriving = Piece(color, promoted(mover.piece_type, move.is_promote()))
        assert board.execute_move(move) is None
        assert board.get_piece(move.get_to()) == arriving
        if not move.is_drop():
            assert board.get_piece(move.get_from()).piece_type == NO_KIND
        self.lists[i] = None

    @rule(i=st.integers(0, 1), move=arbitrary_moves)
    @logged
    def execute_any_move(self, i, move):
        result = outcome(lambda: self.boards[i].execute_move(move))
        assert result is None or is_panic(result), repr(result)
        self.lists[i] = None

    @rule(i=st.integers(0, 1), address=addresses, kind=kinds, color=colors)
    @logged
    def deploy(self, i, address, kind, color):
        board = self.boards[i]
        assert board.deploy(address, kind, color) is None
        if 1 <= address.column <= 9 and 1 <= address.row <= 9:
            assert board.get_piece(address) == Piece(BLACK if color == BLACK else WHITE, kind)
        self.lists[i] = None

    @rule(i=st.integers(0, 1), text=st.one_of(sfen_like, st.just("startpos")))
    @logged
    def new_board(self, i, text):
        result = outcome(lambda: Board(text))
        if isinstance(result, Board):
            self.boards[i] = result
        else:
            assert is_panic(result) or type(result) is UnicodeEncodeError, repr(result)
        self.lists[i] = None

    @rule(i=st.integers(0, 1))
    @logged
    def startpos(self, i):
        self.boards[i].startpos()
        self.lists[i] = None

    # -- the game

    @rule()
    @logged
    def random_play(self):
        # On a copy: random play draws from a generator hypothesis cannot
        # replay, so the machine's own state must not depend on it.
        played = Game(*game_fields(self.game))
        result = outcome(played.random_play)
        if isinstance(result, Game):
            assert game_fields(result) == game_fields(played)
            # Over, or the side to move has no move and has lost.
            if not played.is_finished()[0]:
                assert played.board.search_moves(played.turn) == []
                assert played.winner == (WHITE, BLACK)[played.turn.value]
        else:
            assert is_panic(result), repr(result)

    @rule(data=st.data())
    @logged
    def game_executes_a_listed_move(self, data):
        board, number, turn, winner = game_fields(self.game)
        if turn not in (BLACK, WHITE) or not (moves := board.search_moves(turn)):
            return
        move = data.draw(st.sampled_from(moves))
        board.execute_move(move)
        assert self.game.execute_move(move) is None
        assert game_fields(self.game) == (board, (number + 1) % 65536, (WHITE, BLACK)[turn.value],
                                          winner)  # fmt: skip

    @rule(i=st.integers(0, 1), number=integers, turn=colors, winner=colors)
    @logged
    def set_game(self, i, number, turn, winner):
        self.game.board = self.boards[i]
        self.game.turn, self.game.winner = turn, winner
        before = game_fields(self.game)
        result = outcome(lambda: setattr(self.game, "move_number", number))
        if 0 <= number <= 65535:
            assert result is None and self.game.move_number == number
        else:
            assert type(result) is OverflowError and game_fields(self.game) == before

    @rule(reader=st.sampled_from(["input_board", "input_hand", "input_move_number", "input_turn"]),
          text=st.one_of(sfen_like, move_like))  # fmt: skip
    @logged
    def game_reads(self, reader, text):
        result = outcome(lambda: getattr(self.game, reader)(text))
        assert result is None or is_panic(result) or type(result) is UnicodeEncodeError

    # -- the hand

    @rule(color=colors, kind=kinds, count=st.integers(0, 255))
    @logged
    def add_pieces(self, color, kind, count):
        slot = 0 if kind.value == 0 else (SIGNED[color.value] * 8 + kind.value - 1) % 65536
        result = outcome(lambda: self.hand.add_pieces(color, kind, count))
        if slot < 16:
            assert result is None
            self.counts[slot] = (self.counts[slot] + count) % 256
        else:
            assert is_panic(result)

    @rule(labels=st.lists(pieces, min_size=16, max_size=16))
    @logged
    def set_labels(self, labels):
        self.hand.pieces = labels
        self.labels = labels

    def teardown(self):
        if LAST_INPUT:
            self.log.close()

    # -- what holds after every call

    @invariant()
    def consistent(self):
        count_input("test_random_call_sequences")
        for board in self.boards:
            written = field(board)
            if "+" not in written:  # promoted pieces are written, not read
                assert field(Board(written)) == written
        number, finished = self.game.move_number, self.game.is_finished()
        assert finished == ((True, NO_COLOR) if number >= 500 else self.game.board.is_finished())
        assert self.hand.counts == self.counts and self.hand.pieces == self.labels
        for color in (BLACK, WHITE):
            base = SIGNED[color.value] * 8
            held = [self.labels[base + k] for k in range(8) if self.counts[base + k]]
            assert self.hand.get_player_pieces(color) == held


@pytest.mark.fuzz
def test_random_call_sequences():
    # Each example is a whole sequence of calls, so a quarter of the profile's
    # examples keeps this target about as quick as the others.
    profile = settings.default
    run_state_machine_as_test(
        Calls, settings=settings(profile, max_examples=profile.max_examples // 4)
    )
