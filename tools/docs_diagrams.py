"""The board diagrams of the documentation, drawn by examples/diagram.py, and a replay page.

mkdocs.yml names this file as a hook: every `make docs` draws the diagrams
afresh and adds them to the site as img/diagrams/*.svg, and the replay page of
the random game (examples/replay.py) as replay/random-game.html, so the pages
show what the current code draws and no image is committed. Run alone, it
writes them into a folder, to look at:

    .venv/bin/python tools/docs_diagrams.py build/diagrams
"""

from __future__ import annotations

import random
import sys
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
from diagram import board_svg  # noqa: E402
from notation import load_sfen  # noqa: E402
from random_games import random_game  # noqa: E402
from replay import replay_html  # noqa: E402

from komaban import Board, Game, Move  # noqa: E402

# The middle game of examples/positions.sfen: promoted pieces, both hands.
MIDDLE_GAME = "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124"
# The random game on the games page is seeded, so that every build draws the same
# one: the game of seeded_random_play(Game(), seed=7) on that page.
RANDOM_GAME_SEED = 7


def diagrams() -> dict[str, str]:
    """The diagrams by file name."""
    game, last_move = random_game(random.Random(RANDOM_GAME_SEED))
    middle_game = load_sfen(MIDDLE_GAME)
    return {
        "start.svg": board_svg(Board(), coordinates="both"),
        "middle-game.svg": board_svg(middle_game, coordinates="both"),
        "middle-game-letters.svg": board_svg(middle_game, coordinates="usi", letters=True),
        "random-game.svg": board_svg(game, coordinates="komaban", last_move=last_move),
    }


def pages() -> dict[str, str]:
    """The replay pages by file name: the random game of the diagram random-game.svg."""
    moves: list[Move] = []
    random_game(random.Random(RANDOM_GAME_SEED), moves)
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
