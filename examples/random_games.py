"""Plays random shogi games from the start position and reports on them.

Usage: python examples/random_games.py [GAMES]    (default 1000)
"""

import statistics
import sys
import time
from typing import TextIO

from komaban import Address, Board, ColorType, Game

MOVE_LIMIT = 500
# Indexed by int(PieceType): kinds are unhashable values, their numbers are not.
LETTERS = [".", "K", "G", "R", "B", "S", "N", "L", "P", "+R", "+B", "+S", "+N", "+L", "+P"]


def diagram(board: Board) -> str:
    """The board as text: row 9 at the top, columns 1 to 9 from left to right.

    Black's pieces are upper case, White's lower case; Black starts on rows 1 to 3.
    """
    lines = ["     " + "".join(f"{column:>3}" for column in range(1, 10))]
    lines.append("    +" + "-" * 27 + "+")
    for row in range(9, 0, -1):
        cells = []
        for column in range(1, 10):
            piece = board.get_piece(Address(column, row))
            letter = LETTERS[int(piece.piece_type)]
            if piece.owner != ColorType.Black:
                letter = letter.lower()
            cells.append(f"{letter:>3}")
        lines.append(f"  {row} |{''.join(cells)}| {chr(ord('a') + row - 1)}")
    lines.append("    +" + "-" * 27 + "+")
    return "\n".join(lines)


class Progress:
    """A one-line counter, redrawn in place on a terminal; silent otherwise."""

    def __init__(self, total: int, stream: TextIO = sys.stdout) -> None:
        self.total, self.stream = total, stream
        self.live = stream.isatty()
        self.step = max(1, total // 100)

    def update(self, done: int) -> None:
        if self.live and (done % self.step == 0 or done == self.total):
            width = 30
            filled = width * done // self.total
            bar = "#" * filled + "." * (width - filled)
            self.stream.write(f"\rplaying [{bar}] {done}/{self.total}")
            self.stream.flush()

    def finish(self) -> None:
        if self.live:
            self.stream.write("\n")


def main(argv: list[str]) -> int:
    games = int(argv[1]) if len(argv) > 1 else 1000
    if games < 1:
        raise SystemExit("the number of games must be at least 1")

    black_wins = white_wins = 0
    at_limit = 0
    lengths: list[int] = []
    progress = Progress(games)
    start = time.perf_counter()
    for done in range(1, games + 1):
        last = Game().random_play()
        lengths.append(last.move_number - 1)
        if last.move_number >= MOVE_LIMIT:
            at_limit += 1
        elif last.winner == ColorType.Black:
            black_wins += 1
        else:
            white_wins += 1
        progress.update(done)
    elapsed = time.perf_counter() - start
    progress.finish()

    print(f"games played         {games}")
    print(f"Black wins           {black_wins}")
    print(f"White wins           {white_wins}")
    print(f"move limit reached   {at_limit}")
    print(f"mean length          {statistics.mean(lengths):.1f} moves")
    print(f"median length        {statistics.median(lengths):g} moves")
    print(f"games per second     {games / elapsed:,.0f}")
    print()
    outcome = "move limit" if last.move_number >= MOVE_LIMIT else f"{last.winner.name} wins"
    print(f"final position of game {games} ({lengths[-1]} moves, {outcome}):")
    print(diagram(last.board))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
