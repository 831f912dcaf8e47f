"""Live sound through the real program: a tone played into the sound server lights the bands the
analysis predicts, silence lights none, the status row shows its bitmaps; and without a sound
server the program says so and ends without leaving its tray icon behind."""

import time

from expect import RED, UNLIT, WHITE, cell_rect
from harness import Env, cmdline, scenario, sine, tagged_pids, wait_until
from screen_read import assert_text, first_text_line, ink, read_readout, status_row_problems

BANDS, ROWS = 24, 17
CELL_PIXELS = 15 * 4

# A steady 64 Hz sine of amplitude A (fraction of full scale) reads about 160.9 A in band 1 and
# 68.5 A in bands 0 and 2, nothing elsewhere. Amplitudes are chosen so the expected levels sit
# half-way between two whole cells, far from where truncation would flip the count.
LOUD = 10.5 / 68.5   # band 1 ~ 24.7 (full, 17 cells), bands 0 and 2 ~ 10.5 (10 cells)
SOFT = 10.5 / 160.9  # band 1 ~ 10.5 (10 cells), bands 0 and 2 ~ 4.5 (4 cells)
EXPECTED = {LOUD: {0: 10, 1: 17, 2: 10}, SOFT: {0: 4, 1: 10, 2: 4}}


def cell_colour(img, origin, band, row):
    """The colour that fills a cell completely, or None when the cell is not uniform."""
    l, t, r, b = cell_rect(band, row)
    rect = (origin[0] + l, origin[1] + t, origin[0] + r, origin[1] + b)
    hist = img.colors(rect)
    colour = max(hist, key=hist.get)
    return colour if hist[colour] == CELL_PIXELS else None


def column(img, origin, band):
    return [cell_colour(img, origin, band, row) for row in range(ROWS)]


def lit_height(cells):
    """Number of lit cells counted from the bottom row up."""
    n = 0
    for colour in reversed(cells):
        if colour in (UNLIT, None):
            break
        n += 1
    return n


def expected_column(height):
    """Rows 17-height..16 lit; a lit cell in rows 0 and 1 is peak red, below it white."""
    return [UNLIT if row < ROWS - height else (RED if row <= 1 else WHITE) for row in range(ROWS)]


def column_problems(img, origin, heights):
    """Differences from the expected columns: heights maps band -> cells; other bands unlit."""
    problems = []
    for band in range(BANDS):
        want = expected_column(heights.get(band, 0))
        got = column(img, origin, band)
        if got != want:
            shown = ["?" if c is None else f"{c:06x}" for c in got]
            problems.append(f"band {band}: want {heights.get(band, 0)} lit cells, rows show {shown}")
    return problems


def heights(img, origin, bands=range(BANDS)):
    return {b: lit_height(column(img, origin, b)) for b in bands}


def shoot_until(env, origin, what, predicate, timeout, name):
    """Screenshots until predicate(img) holds; returns that screenshot."""
    last = {}

    def check():
        img = env.screenshot(name)
        last["img"] = img
        return img if predicate(img) else None

    try:
        return wait_until(check, timeout, 0.1, what)
    except Exception as e:
        img = last.get("img")
        seen = heights(img, origin, range(4)) if img else {}
        raise AssertionError(f"{e}; last screenshot {img.path.name if img else '-'} shows heights {seen}") from None


@scenario(timeout=180)
def test_live_tone_lights_its_bands_and_silence_none():
    with Env(name="live") as env:
        app = env.run_tonalis()
        facts = env.wait_window(timeout=30)
        origin = (facts["left"], facts["top"])
        assert (facts["width"], facts["height"]) == (443, 145), facts

        # After the splash (about 4 s) the spectrum panel shows: all cells unlit in silence.
        time.sleep(3.0)
        silent = shoot_until(env, origin, "the spectrum panel after the splash",
                             lambda img: not status_row_problems(img, origin), 15, "silent")
        problems = column_problems(silent, origin, {})
        assert not problems, f"silence lights cells in {silent.path.name}: " + "; ".join(problems[:4])
        assert not status_row_problems(silent, origin)

        # One recording: a loud 64 Hz stretch, then a soft one, then nothing.
        env.play_samples(
            [v for amp in (LOUD, SOFT) for v in sine(64.0, 4.0, amp)], name="tone64")
        for amp, name in ((LOUD, "loud"), (SOFT, "soft")):
            want = EXPECTED[amp]
            # Wait for this stretch to arrive (band 0 at its height), then let it settle.
            shoot_until(env, origin, f"the {name} tone",
                        lambda img: lit_height(column(img, origin, 0)) == want[0], 10, name)
            time.sleep(0.8)
            img = env.screenshot(name + "-settled")
            problems = column_problems(img, origin, want)
            assert not problems, f"{name} 64 Hz tone in {img.path.name}: " + "; ".join(problems[:4])
            problems = status_row_problems(img, origin)
            assert not problems, f"status row in {img.path.name}: " + "; ".join(problems)

        # The recording ends: the bars fall back to nothing within a second or so.
        after = shoot_until(env, origin, "every cell unlit after the tone",
                            lambda img: not column_problems(img, origin, {}), 12, "after")
        readout = read_readout(after, origin)
        assert readout is not None and 20 <= readout <= 60, f"frame-time readout {readout} ms"
        assert app.running
        env.post_command(32782)
        assert app.wait(10) == 0


# ----------------------------------------------------------------------------------------------


NO_SOUND_CARD = "电脑没有声卡"
OTHER_MESSAGES = ("开辟内存失败", "其他程序正在使用声卡", "连接小板")


@scenario(timeout=120)
def test_without_a_sound_server_it_says_no_sound_card_and_ends():
    with Env(name="nosound-app", sound=False, width=1024, height=768) as env:
        app = env.run_tonalis()

        def message_box():
            boxes = [w for w in env.list_windows() if w["class"] == "#32770" and w["title"] == "Tonalis"
                     and (w["width"], w["height"]) != (443, 145)]
            return boxes[0] if boxes else None

        box = wait_until(message_box, 30, 0.2, "the message box")
        # The main window stays hidden: it is never shown when capture cannot start.
        main = [w for w in env.list_windows() if (w["width"], w["height"]) == (443, 145)]
        assert not main, f"the main window shows behind the message: {main}"
        # The tray icon was added before capture was tried, so the tray shows while the box is up.
        assert env.tray_windows(), "no tray icon while the message shows"

        time.sleep(0.3)  # let the box paint
        shot = env.screenshot("message")
        rect = (box["left"] + 4, box["top"] + 4, box["right"] - 4, box["bottom"] - 4)
        bg = shot.pixel((box["left"] + box["right"]) // 2, box["bottom"] - 8)
        line = first_text_line(shot, rect, bg)
        assert line, f"no text line in the message box ({shot.path.name})"
        assert_text(ink(shot, line, bg), NO_SOUND_CARD, OTHER_MESSAGES, f"message box in {shot.path.name}")

        # OK ends the program; its tray icon goes with it.
        env.post_command(1, hwnd=box["hwnd"])  # IDOK, as the OK button sends it
        app.wait(15)
        wait_until(lambda: not env.tray_windows(), 10, 0.2, "the tray icon to go")
        assert env.find_window() is None, "a Tonalis window is left"
        left = [p for p in tagged_pids(env.tag) if "tonalis.exe" in cmdline(p)]
        assert not left, f"tonalis.exe processes left: {left}"
