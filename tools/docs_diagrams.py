"""The board diagrams of the documentation, drawn by komaban_tools.svg, and a replay page.

mkdocs.yml names this file as a hook: every `make docs` draws the diagrams
afresh and adds them to the site as img/diagrams/*.svg, and the replay page of
the random game (komaban_tools.replay) as replay/random-game.html, so the pages
show what the current code draws and no image is committed. Run alone, it
writes them into a folder, to look at:

    .venv/bin/python tools/docs_diagrams.py build/diagrams
"""

from __future__ import annotations

import random
import sys
from pathlib import Path
from typing import Any

from komaban import Board, ColorType, Game, Move
from komaban_tools.notation import load_sfen
from komaban_tools.replay import replay_html
from komaban_tools.svg import board_svg

# The middle game of examples/positions.sfen: promoted pieces, both hands.
MIDDLE_GAME = "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124"
# The random game on the games page is seeded, so that every build draws the same
# one: the game of seeded_random_play(Game(), seed=7) on that page.
RANDOM_GAME_SEED = 7


def random_game(seed: int) -> tuple[Game, list[Move]]:
    """The game of seeded_random_play(Game(), seed) on the games page, and its moves."""
    rng, game, moves = random.Random(seed), Game(), []
    while not game.is_finished()[0]:
        listed = game.board.search_moves(game.turn)
        if not listed:  # the side to move loses
            game.winner = ColorType.White if game.turn == ColorType.Black else ColorType.Black
            break
        moves.append(rng.choice(listed))
        game.execute_move(moves[-1])
        finished, winner = game.is_finished()
        if finished:
            game.winner = winner
    return game, moves


def diagrams() -> dict[str, str]:
    """The diagrams by file name."""
    game, moves = random_game(RANDOM_GAME_SEED)
    middle_game = load_sfen(MIDDLE_GAME)
    return {
        "start.svg": board_svg(Board(), coordinates="both"),
        "middle-game.svg": board_svg(middle_game, coordinates="both"),
        "middle-game-letters.svg": board_svg(middle_game, coordinates="usi", letters=True),
        "random-game.svg": board_svg(game, coordinates="komaban", last_move=moves[-1]),
    }


def pages() -> dict[str, str]:
    """The replay pages by file name: the random game of the diagram random-game.svg."""
    _, moves = random_game(RANDOM_GAME_SEED)
    return {"random-game.html": replay_html(Game(), moves, title="A random game")}


def on_files(files: Any, config: Any) -> Any:
    """MkDocs hook: adds the diagrams to the site's files, under img/diagrams/, and the
    replay pages, under replay/."""
    from mkdocs.structure.files import File

    for name, svg in diagrams().items():
        files.append(File.generated(config, f"img/diagrams/{name}", content=svg))
    for name, page in pages().items():
        files.append(File.generated(config, f"replay/{name}", content=page))
    return files


if __name__ == "__main__":
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else "build/diagrams")
    folder.mkdir(parents=True, exist_ok=True)
    for name, text in (diagrams() | pages()).items():
        (folder / name).write_text(text, encoding="utf-8")
        print(folder / name)
