"""The replay page in Debian's headless Chromium under Selenium, and the docs' screenshot of it.

``chromium()`` starts the browser, for this program and for the browser tests
(tests/test_replay_browser.py): headless, Debian's chromium and chromedriver
named by path (so Selenium fetches no driver), and an environment without
LD_PRELOAD and the sanitizer options (`make sanitize` preloads the sanitizer
runtime, which a browser started from a test must not inherit).

Run alone, it writes docs/img/replay.png: the page of the docs' random game
(tools/docs_diagrams.py, which also adds the page itself to the site), at
move 60, in a window of 900 x 620 pixels:

    .venv/bin/python tools/replay_screenshot.py [docs/img/replay.png]

The kanji need a Japanese font (fonts-ipaexfont-mincho, from tools/system-packages).
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from collections.abc import Iterator
from contextlib import contextmanager
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parent.parent
SCREENSHOT = ROOT / "docs" / "img" / "replay.png"
SCREENSHOT_PLY = 60
WINDOW = (900, 620)
# Variables that make sense for the interpreter under test, not for a browser.
UNINHERITED = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


def missing() -> str:
    """Why the browser cannot be started here, or "" when it can."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "selenium is not installed (the test extra)"
    absent = [name for name in ("chromium", "chromedriver") if not shutil.which(name)]
    if absent:
        return f"{' and '.join(absent)} not installed (Debian packages: tools/system-packages)"
    return ""


@contextmanager
def chromium(window: tuple[int, int] = WINDOW) -> Iterator[Any]:
    """A Selenium driver of headless Chromium whose page area is of that size (CSS pixels)."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    browser, driver_path = shutil.which("chromium"), shutil.which("chromedriver")
    if not browser or not driver_path:
        raise RuntimeError(missing())
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    options.add_argument("--headless=new")
    options.add_argument("--disable-dev-shm-usage")  # containers have a small /dev/shm
    options.add_argument("--lang=en-US")
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")  # Chromium's sandbox refuses root
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    env = {k: v for k, v in os.environ.items() if k not in UNINHERITED}
    driver = webdriver.Chrome(
        service=Service(executable_path=driver_path, env=env), options=options
    )
    try:
        # The page's own area, whatever room the window keeps for itself.
        metrics = {"width": window[0], "height": window[1], "deviceScaleFactor": 1, "mobile": False}
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
        yield driver
    finally:
        driver.quit()


def show_ply(driver: Any, ply: int) -> None:
    """Steps the open replay page from the start to a ply with the right arrow key."""
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys

    ActionChains(driver).send_keys(Keys.ARROW_RIGHT * ply).perform()


def screenshot(driver: Any, page: Path, png: Path, ply: int = SCREENSHOT_PLY) -> None:
    """Opens a replay page, steps to a ply, and saves the page's area as PNG."""
    driver.get(page.resolve().as_uri())
    show_ply(driver, ply)
    driver.save_screenshot(str(png))


def main(argv: list[str]) -> int:
    from docs_diagrams import pages  # beside this file, which runs as a script

    png = Path(argv[0]) if argv else SCREENSHOT
    if not subprocess.run(["fc-list", ":lang=ja"], capture_output=True, text=True).stdout:
        print("no Japanese font: the kanji would not show (tools/system-packages)", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as folder:
        page = Path(folder) / "replay.html"
        page.write_text(next(iter(pages().values())), encoding="utf-8")
        with chromium() as driver:
            screenshot(driver, page, png)
    print(png)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
