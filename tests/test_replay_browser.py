"""The replay page in headless Chromium: its buttons, keys, slider and move list show the
positions komaban reaches, and the browser reports no error.

Needs selenium (the test extra) and Debian's chromium and chromedriver
(tools/system-packages); skipped where any is missing.
"""

import importlib.util
from pathlib import Path

import pytest
from helpers import needs_native_run
from test_replay import same_position, seeded_game, sfen_shown

from komaban_tools.notation import komaban_to_usi, move_text
from komaban_tools.replay import replay_html

ROOT = Path(__file__).resolve().parent.parent

# The browser as tools/replay_screenshot.py starts it (loaded by path: tools/ holds
# modules whose names would shadow packages, such as coverage.py).
_spec = importlib.util.spec_from_file_location(
    "replay_screenshot", ROOT / "tools" / "replay_screenshot.py"
)
browsing = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(browsing)
chromium, missing, screenshot = browsing.chromium, browsing.missing, browsing.screenshot

pytestmark = [
    pytest.mark.end_to_end,
    pytest.mark.skipif(bool(missing()), reason=missing() or "-"),
    needs_native_run,
]

# The state of the page: what its diagram shows, read from the data attributes,
# and the controls.
READ_PAGE = """
const svg = document.querySelector("#board svg");
const caption = svg.querySelector("text.caption").dataset;
const hands = {};
for (const hand of svg.querySelectorAll("g[data-hand]")) {
  hands[hand.dataset.hand] = Object.fromEntries(
    Array.from(hand.querySelectorAll("g[data-count]"),
      (item) => [item.dataset.piece, Number(item.dataset.count)]));
}
return {
  pieces: Object.fromEntries(Array.from(svg.querySelectorAll("g.piece[data-square]"),
    (piece) => [piece.dataset.square, piece.dataset.piece])),
  hands: hands,
  turn: caption.turn,
  moveNumber: caption.moveNumber,
  winner: caption.winner,
  highlighted: Array.from(svg.querySelectorAll("rect.highlight"), (r) => r.dataset.square),
  slider: Number(document.getElementById("slider").value),
  counter: document.getElementById("counter").textContent,
  current: Array.from(document.querySelectorAll("[aria-current]"),
    (entry) => [Number(entry.dataset.ply), entry.textContent]),
  disabled: Array.from(document.querySelectorAll(".controls button:disabled"), (b) => b.id),
};
"""


@pytest.fixture(scope="module")
def browser():
    with chromium() as driver:
        yield driver


@pytest.fixture(scope="module")
def game(tmp_path_factory):
    """A random game of 162 moves (seed 1), and its page."""
    games, moves = seeded_game(1, 1000)
    page = tmp_path_factory.mktemp("replay") / "game.html"
    page.write_text(replay_html(games[0], moves), encoding="utf-8")
    return games, moves, page


def expect(browser, game, n):
    """The page shows the game after n moves: the position, the move, the controls."""
    games, moves, _ = game
    state = browser.execute_script(READ_PAGE)
    shown = sfen_shown(state["pieces"], state["hands"], state["turn"], state["moveNumber"])
    assert same_position(games[n], shown), (n, shown)
    assert (state["slider"], state["counter"]) == (n, f"{n} / {len(moves)}")
    if n == 0:
        assert state["highlighted"] == [] and state["current"] == [[0, "start"]]
    else:
        text = move_text(moves[n - 1])
        squares = [text[2:4]] if text[1] == "*" else [text[:2], text[2:4]]
        assert sorted(state["highlighted"]) == sorted(squares)
        mark = "☗" if games[n - 1].turn.name == "Black" else "☖"
        assert state["current"] == [[n, mark + komaban_to_usi(text)]]
    ends = (["first", "previous"] if n == 0 else []) + (["next", "last"] * (n == len(moves)))
    assert state["disabled"] == ends
    winner = games[n].board.is_finished()[1].name if n == len(moves) else "None"
    assert state["winner"] == winner
    return state


def test_buttons_keys_slider_and_move_list_show_komabans_positions(browser, game):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys

    games, moves, page = game
    last = len(moves)
    browser.get(page.as_uri())
    expect(browser, game, 0)
    button = {name: browser.find_element("id", name) for name in ("first", "previous", "next")}
    button["last"] = browser.find_element("id", "last")

    # The buttons: next 1 and 3 times, then back one.
    for n in (1, 2, 3):
        button["next"].click()
        if n != 2:
            expect(browser, game, n)
    button["previous"].click()
    expect(browser, game, 2)

    # The keys, several presses at once: right 25 times, left, up (the start), down (the end).
    def press(*keys):
        ActionChains(browser).send_keys(*keys).perform()

    press(Keys.ARROW_RIGHT * 25)
    expect(browser, game, 27)
    press(Keys.ARROW_LEFT)
    expect(browser, game, 26)
    press(Keys.ARROW_UP)
    expect(browser, game, 0)
    press(Keys.ARROW_DOWN)
    expect(browser, game, last)
    press(Keys.ARROW_RIGHT)  # past the end: nothing moves
    expect(browser, game, last)
    press(Keys.HOME, Keys.ARROW_RIGHT)
    expect(browser, game, 1)

    # The slider: a click on its middle, then dragged to its right end.
    slider = browser.find_element("id", "slider")
    ActionChains(browser).move_to_element(slider).click().perform()
    middle = expect(browser, game, int(slider.get_attribute("value")))["slider"]
    assert abs(middle - last / 2) < last / 10
    edge = slider.size["width"] // 2 - 1
    ActionChains(browser).click_and_hold(slider).move_by_offset(edge, 0).release().perform()
    expect(browser, game, last)

    # The first and last buttons, and a move of the list (scrolled to, then clicked).
    button["first"].click()
    expect(browser, game, 0)
    button["last"].click()
    expect(browser, game, last)
    browser.find_element("css selector", "button.move[data-ply='100']").click()
    expect(browser, game, 100)

    # Nothing was fetched, and the console holds no error or warning.
    assert browser.execute_script("return performance.getEntriesByType('resource').length") == 0
    logs = [entry for entry in browser.get_log("browser") if entry["level"] != "INFO"]
    assert logs == []


def test_screenshot_shows_the_highlighted_move(browser, game, tmp_path):
    from PIL import Image

    games, moves, page = game
    png = tmp_path / "replay.png"
    screenshot(browser, page, png, ply=60)
    image = Image.open(png).convert("RGB")
    assert image.size == (900, 620)
    # The square the 60th move reached is drawn in the highlight colour, seen in a
    # corner that its piece leaves free.
    square = move_text(moves[59])[2:4]
    box = browser.execute_script(
        "return document.querySelector(`rect.highlight[data-square='${arguments[0]}']`)"
        ".getBoundingClientRect().toJSON()",
        square,
    )
    assert image.getpixel((int(box["x"]) + 3, int(box["y"]) + 3)) == (0xB5, 0xD8, 0x8A)
    assert image.getpixel((int(box["x"]) - 3, int(box["y"]) - 3)) != (0xB5, 0xD8, 0x8A)
