"""komaban_tools.svg draws what the position holds, where standard diagrams put it."""

import io
import random
import re
import subprocess
import xml.etree.ElementTree as ET
from collections import Counter

import pytest
from helpers import command, needs_second_interpreter

from komaban import Address, Board, ColorType, Game
from komaban_tools.notation import komaban_to_usi, load_sfen, move_text
from komaban_tools.svg import board_svg

SVG = "{http://www.w3.org/2000/svg}"
# The glyph of each kind in diagrams (White's King is written 王).
KANJI = dict(
    King="玉", Gold="金", Rook="飛", Bichop="角", Silver="銀", Knight="桂", Lance="香", Pawn="歩",
    Dragon="龍", Horse="馬", ProSilver="全", ProKnight="圭", ProLance="杏", ProPawn="と",
)  # fmt: skip
BASE = dict(Dragon="Rook", Horse="Bichop", ProSilver="Silver", ProKnight="Knight")
BASE |= dict(ProLance="Lance", ProPawn="Pawn")
MIDDLE_GAME = "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124"


def hands_from_field(field):
    """Expected hands from a standard SFEN hand field: {owner: Counter of glyphs}."""
    letters = dict(zip("KRBGSNLP", "玉飛角金銀桂香歩", strict=True))
    hands = {"Black": Counter(), "White": Counter()}
    for count, letter in re.findall(r"(\d*)([A-Za-z])", field):
        owner = "Black" if letter.isupper() else "White"
        hands[owner][letters[letter.upper()]] += int(count or 1)
    return hands


def played_game(seed):
    """A seeded random game, its hands counted move by move, and its last move."""
    rng, game, last = random.Random(seed), Game(), None
    hands = {"Black": Counter(), "White": Counter()}
    while not game.is_finished()[0] and (moves := game.board.search_moves(game.turn)):
        last, mover = rng.choice(moves), game.turn.name
        if last.is_drop():
            hands[mover][KANJI[last.get_piece().piece_type.name]] -= 1
        else:
            taken = game.board.get_piece(last.get_to()).piece_type.name
            if taken != "None":
                hands[mover][KANJI[BASE.get(taken, taken)]] += 1
        game.execute_move(last)
    return game, hands, last


POSITIONS = {
    "start": (Board(), {"Black": Counter(), "White": Counter()}, None),
    "middle game": (load_sfen(MIDDLE_GAME), hands_from_field(MIDDLE_GAME.split()[2]), None),
    "counts above 9": (
        load_sfen("4k4/9/9/9/9/9/9/9/4K4 b 18P2Lr 1"),
        hands_from_field("18P2Lr"),
        None,
    ),
    "random game": played_game(seed=19),
}


def parse(svg):
    root = ET.fromstring(svg)
    labels = {}
    for text in root.iter(f"{SVG}text"):
        kind = text.get("class", "").removeprefix("label ")
        if kind in ("usi-file", "usi-rank", "komaban-column", "komaban-row"):
            labels.setdefault(kind, []).append(
                (float(text.get("x")), float(text.get("y")), "".join(text.itertext()))
            )
    return root, labels


def nearest(labels, value, axis):
    """The text of the label nearest to value along axis (0: x, 1: y)."""
    return min(labels, key=lambda label: abs(label[axis] - value))[2]


def hand_of(group):
    hand = Counter()
    for item in group.iter(f"{SVG}g"):
        if item.get("class") == "hand-item":
            glyph = next(t for t in item.iter(f"{SVG}text") if t.get("class") == "glyph").text
            counts = [t.text for t in item.iter(f"{SVG}text") if t.get("class") == "count"]
            hand[glyph] += int(counts[0]) if counts else 1
    return hand


@pytest.mark.parametrize("position, hands, last_move", POSITIONS.values(), ids=POSITIONS)
def test_diagram_shows_the_position_under_matching_labels(position, hands, last_move):
    board = position.board if isinstance(position, Game) else position
    root, labels = parse(board_svg(position, coordinates="both", last_move=last_move))
    assert sorted(labels) == ["komaban-column", "komaban-row", "usi-file", "usi-rank"]
    # As standard diagrams are drawn: USI file 9 on the left, rank a at the top.
    assert "".join(text for _, _, text in sorted(labels["usi-file"])) == "987654321"
    by_height = sorted(labels["usi-rank"], key=lambda label: label[1])
    assert "".join(text[-1] for _, _, text in by_height) == "abcdefghi"
    # Under each square's labels, komaban's column and row name the USI square that
    # USI's file and rank name; a row label is its number and its letter.
    for x, _, column in labels["komaban-column"]:
        for _, y, row in labels["komaban-row"]:
            rank = nearest(labels["usi-rank"], y, 1)
            assert "一二三四五六七八九".index(rank[0]) == "abcdefghi".index(rank[-1])
            assert "123456789".index(row[0]) == "abcdefghi".index(row[-1])
            square, usi = column + row[-1], nearest(labels["usi-file"], x, 0) + rank[-1]
            assert komaban_to_usi(square + square) == usi + usi

    # One glyph per occupied square, the piece komaban holds on the square its
    # labels name; White's turned half a turn. Each hand with its counts.
    drawn = {}
    for group in root.findall(f"{SVG}g"):
        kind, owner = group.get("class").split()
        owner = owner.capitalize()
        if kind == "hand":
            assert hand_of(group) == +hands[owner], owner
            continue
        glyph = next(t for t in group.iter(f"{SVG}text") if t.get("class") == "glyph")
        x, y = float(glyph.get("x")), float(glyph.get("y"))
        square = nearest(labels["komaban-column"], x, 0) + nearest(labels["komaban-row"], y, 1)[-1]
        assert square not in drawn
        drawn[square] = (owner, glyph.text)
        rotated = re.fullmatch(r"rotate\(180 [\d.]+ [\d.]+\)", glyph.get("transform", ""))
        assert bool(rotated) == (owner == "White"), square
    expected = {}
    for column in range(1, 10):
        for row in range(1, 10):
            piece = board.get_piece(Address(column, row))
            name, owner = piece.piece_type.name, piece.owner.name
            if name != "None":
                glyph = "王" if (name, owner) == ("King", "White") else KANJI[name]
                expected[f"{column}{'abcdefghi'[row - 1]}"] = (owner, glyph)
    assert drawn == expected

    highlighted = set()
    for rect in root.iter(f"{SVG}rect"):
        if rect.get("class") == "highlight":
            x, y = (float(rect.get(k)) + float(rect.get("width")) / 2 for k in "xy")
            row = nearest(labels["komaban-row"], y, 1)
            highlighted.add(nearest(labels["komaban-column"], x, 0) + row[-1])
    if last_move is None:
        assert highlighted == set()
    else:
        text = move_text(last_move)  # "7c7d" or "P*5e"
        assert highlighted == ({text[2:4]} if last_move.is_drop() else {text[:2], text[2:4]})


def run(*args, cwd=None):
    return subprocess.run(
        [command("komaban-svg"), *args], capture_output=True, text=True, timeout=60, cwd=cwd
    )


@needs_second_interpreter
@pytest.mark.parametrize(
    "text",
    [
        "lnsgkgsnl/1r5b1 b - 1",  # two ranks
        "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNX",  # an unknown piece
        "startpos 2",  # a hand field ending in a digit
        "startpos b 1",  # three fields
        MIDDLE_GAME.replace(" w ", " x "),  # no side to move
        "",
    ],
)
def test_command_line_rejects_bad_input_in_one_line(tmp_path, text):
    result = run(text, "-o", "board.svg", cwd=tmp_path)
    assert result.returncode == 2
    assert re.fullmatch(r"komaban-svg: error: [^\n]+\n", result.stderr), result.stderr
    assert not (tmp_path / "board.svg").exists()


@needs_second_interpreter
def test_command_line_draws_a_standard_sfen_line(tmp_path):
    result = run(MIDDLE_GAME, "-o", "board.svg", "--coordinates", "usi", "--letters", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    root, labels = parse((tmp_path / "board.svg").read_text(encoding="utf-8"))
    assert sorted(labels) == ["usi-file", "usi-rank"]
    glyphs = Counter(t.text for t in root.iter(f"{SVG}text") if t.get("class") == "glyph")
    # SFEN's letters: each piece on the board, then one per kind in hand (Sbgn3p).
    assert glyphs == Counter(re.findall(r"\+?[A-Za-z]", MIDDLE_GAME.split()[0]) + list("Sbgnp"))
    assert root.find(f"{SVG}text[@class='caption']").text == "move 124 · White to move"


def test_rendered_image_has_its_size_and_the_last_move():
    try:
        import cairosvg
    except (ImportError, OSError) as error:  # OSError: libcairo2 is missing
        pytest.skip(f"CairoSVG cannot render here: {error}")
    from PIL import Image

    game = Game()
    move = game.board.search_moves(ColorType.Black)[-3]  # 7c7d: USI 3g3f
    game.execute_move(move)
    svg = board_svg(game, last_move=move, size=300)
    root = ET.fromstring(svg)
    image = Image.open(io.BytesIO(cairosvg.svg2png(bytestring=svg.encode()))).convert("RGB")
    width, height = (float(v) for v in root.get("viewBox").split()[2:])
    assert image.size == (300, round(300 * height / width))
    scale = 300 / width

    def colour_at(rect):
        x = (float(rect.get("x")) + float(rect.get("width")) / 2) * scale
        y = (float(rect.get("y")) + float(rect.get("height")) / 2) * scale
        return image.getpixel((int(x), int(y)))

    def rgb(fill):
        return tuple(int(fill[i : i + 2], 16) for i in (1, 3, 5))

    # The square the Pawn left is drawn in the highlight colour, the middle of the
    # board (square 5e, empty) in the board's; lines, labels and pieces in dark ink.
    highlights = [r for r in root.iter(f"{SVG}rect") if r.get("class") == "highlight"]
    assert len(highlights) == 2
    assert colour_at(highlights[0]) == rgb(highlights[0].get("fill"))
    board = root.find(f"{SVG}rect[@class='board']")
    assert colour_at(board) == rgb(board.get("fill"))
    dark = sum(image.convert("L").histogram()[:128])
    assert dark > 0.02 * image.size[0] * image.size[1]
