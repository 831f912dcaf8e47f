"""tonalis.ini across runs: what a file sets up on screen, what the exit writes byte for byte,
a damaged file falling back to the defaults, one that cannot be read left alone, and a dragged
window found again at the next start.
"""

from __future__ import annotations

import subprocess
import time
from pathlib import Path

from expect import WINDOW_H, WINDOW_W
from harness import Env, scenario, wait_until
from test_tray_and_modes import (
    AUTUMN_BAR, BLOCK, DELAY_MENU, DOTS, EXIT, START_WITH_SESSION, FLOATING, ORANGE, SKY_PEAK, STYLE_MENU, THEME_AUTUMN, THEME_MENU, TITLE_LABEL, TONE_HZ,
    UNLIT, bitmap_probes, choose, icon_probes, placed, shows, start, tonalis, unlit_cell_probes,
    wait_for_frames, window_cell)

GOLDEN = Path(__file__).resolve().parents[1] / "app" / "data" / "tonalis_golden.ini"
KEYS = ("xpos", "ypos", "top", "mode", "mouse", "transparent", "color", "fullpos")
DEFAULTS = dict(xpos=50, ypos=50, top=0, mode=1, mouse=0, transparent=0, color=1, fullpos=0)


def settings_bytes(**values) -> bytes:
    """The file the program writes for these values: eight "key value" lines, an empty line and
    the two GBK comment lines (taken from the golden file), every line ending in CR LF."""
    comments = GOLDEN.read_bytes().split(b"\r\n")[9:11]
    assert len(comments) == 2 and all(comments), "the golden settings file lost its comment lines"
    lines = [f"{k} {values[k]}".encode() for k in KEYS] + [b""] + comments
    return b"".join(line + b"\r\n" for line in lines)


def assert_written(app, **values) -> None:
    got, want = app.file("tonalis.ini"), settings_bytes(**values)
    assert got is not None, f"no tonalis.ini in {app.workdir} after the exit"
    assert got == want, f"tonalis.ini differs:\n got  {got!r}\n want {want!r}"


def faded(colour: int, alpha: int = 140) -> int:
    """A colour as a constant-alpha window shows it over the black root."""
    return sum(((colour >> shift & 0xFF) * alpha // 255) << shift for shift in (16, 8, 0))


def exit_by_menu(env, app) -> None:
    choose(env, EXIT)
    assert app.wait(15) == 0, "the program did not end cleanly after 退出"


@scenario(timeout=240)
def test_settings_file_round_trip():
    written = dict(xpos=300, ypos=200, top=1, mode=4, mouse=0, transparent=2, color=3, fullpos=2)
    with Env(name="settings") as env:
        app = env.run_tonalis(ini=settings_bytes(**written))
        env.wait_window(timeout=30)
        window = (300, 200)
        facts = placed(env, (300, 200, WINDOW_W, WINDOW_H), "the saved position")
        assert facts["topmost"], f"top 1 should keep the window on top: {facts}"

        # Alpha40 fades the whole frame to 140/255 over the (black) root; Floating is the
        # highlighted style; a full-scale tone on band 1 shows its one floating block in row 0,
        # in Sky's peak colour.
        tone = env.play_tone(TONE_HZ, 30.0, amplitude=0.7)
        shows(env, bitmap_probes(*TITLE_LABEL, window=window, scale=faded)
              + [(p, faded(c)) for p, c in icon_probes(FLOATING, True, window) + icon_probes(BLOCK, False, window)]
              + [(window_cell(1, 0, window), faded(SKY_PEAK))]
              + [(window_cell(1, r, window), faded(UNLIT)) for r in (1, 8, 16)]
              + unlit_cell_probes(faded(UNLIT), window), tol=3, timeout=15, name="loaded")

        # Dots and Autumn from the menu: the Dots icon lit, band 1's dots yellow under the
        # orange peak rows.
        choose(env, STYLE_MENU, DOTS)
        choose(env, THEME_MENU, THEME_AUTUMN)
        shows(env, [(p, faded(c)) for p, c in icon_probes(DOTS, True, window) + icon_probes(FLOATING, False, window)]
              + [(window_cell(1, r, window), faded(AUTUMN_BAR)) for r in (2, 9, 16)]
              + [(window_cell(1, r, window), faded(ORANGE)) for r in (0, 1)], tol=3, timeout=10, name="changed")
        tone.stop()

        exit_by_menu(env, app)
        assert_written(app, **dict(written, mode=5, color=5))


@scenario(timeout=180)
def test_damaged_file_gives_the_defaults():
    # Lines out of order (ypos first): the whole file is distrusted, even its valid lines.
    damaged = settings_bytes(xpos=300, ypos=200, top=1, mode=4, mouse=1, transparent=2, color=3, fullpos=2)
    damaged = b"ypos 3\r\n" + damaged.split(b"\r\n", 1)[1]
    with Env(name="damaged") as env:
        app = env.run_tonalis(ini=damaged)
        env.wait_window(timeout=30)
        facts = placed(env, (50, 50, WINDOW_W, WINDOW_H), "the default position")
        assert not facts["topmost"] and not facts["transparent"], facts
        wait_for_frames(env)
        shows(env, icon_probes(BLOCK, True) + icon_probes(FLOATING, False) + unlit_cell_probes(UNLIT), name="defaults")
        exit_by_menu(env, app)
        assert_written(app, **DEFAULTS)


@scenario(timeout=240)
def test_a_file_that_cannot_be_read_is_told_and_left_alone():
    with Env(name="unreadable") as env:
        # A folder where tonalis.ini should be: there, but not a file anyone can read.
        workdir = env.run_dir / "work-unreadable"
        (workdir / "tonalis.ini" / "inside").mkdir(parents=True)
        before = {w["hwnd"] for w in env.list_windows()}
        app = start(env, workdir=workdir)
        facts = placed(env, (50, 50, WINDOW_W, WINDOW_H), "the default position")
        assert not facts["topmost"], facts

        def balloons():
            return [w for w in env.list_windows() if w["hwnd"] not in before and w["class"] == "tooltips_class32"]

        shown = wait_until(balloons, 10, 0.3, "the balloon saying the settings were not read")
        env.screenshot("unreadable-balloon")
        env.let_balloon_clear_the_icon(shown[0])
        choose(env, STYLE_MENU, DOTS)
        time.sleep(2.5)  # past the save that follows a change by a second
        shows(env, icon_probes(DOTS, True), name="changed")
        exit_by_menu(env, app)
        assert (workdir / "tonalis.ini" / "inside").is_dir(), "tonalis.ini was replaced"
        assert not (workdir / "tonalis.ini.tmp").exists(), "a temporary file was left behind"


@scenario(timeout=240)
def test_dragged_window_is_found_there_at_the_next_start():
    with Env(name="drag") as env:
        app = env.run_tonalis(name="first")
        env.wait_window(timeout=30)
        wait_for_frames(env)
        # Press on the spectrum area (no status image there) and drag by (+400, +300), slowly:
        # the window manager takes the move over from the press, and motion it has not yet
        # grabbed would be lost.
        time.sleep(0.5)
        env.drag(50 + 200, 50 + 60, 50 + 600, 50 + 360, steps=20, step_delay=0.06)
        moved = wait_until(lambda: (lambda f: f if (f["left"], f["top"]) != (50, 50) else None)(tonalis(env)),
                           5, 0.2, "the window to move after the drag")
        x, y = moved["left"], moved["top"]
        assert abs(x - 450) <= 4 and abs(y - 350) <= 4 and moved["width"] == WINDOW_W, (
            f"dragged by (+400, +300) from (50, 50) but the window is at ({x}, {y})")
        wait_for_frames(env, (x, y))
        exit_by_menu(env, app)
        assert_written(app, **dict(DEFAULTS, xpos=x, ypos=y))

        again = env.run_tonalis(name="second", workdir=app.workdir)
        env.wait_window(timeout=30)
        placed(env, (x, y, WINDOW_W, WINDOW_H), "the position saved by the previous run")
        wait_for_frames(env, (x, y))
        exit_by_menu(env, again)
        assert_written(again, **dict(DEFAULTS, xpos=x, ypos=y))


def run_value(env) -> str:
    """The program's value under the user's Run key, "" when there is none."""
    res = subprocess.run(["wine", "reg", "query", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run",
                          "/v", "Tonalis"], env=env.env, capture_output=True, timeout=60)
    lines = [l for l in res.stdout.decode("utf-8", "replace").splitlines() if "Tonalis" in l and "REG_SZ" in l]
    return lines[0].split("REG_SZ", 1)[1].strip() if lines else ""


@scenario(timeout=240)
def test_drawing_delay_and_starting_with_the_session():
    """"画面延迟" 100 毫秒 is written as a line after the comments; "开机启动" puts the quoted
    path of the running program under the Run key and takes it away again."""
    with Env(name="startup") as env:
        app = start(env)
        choose(env, DELAY_MENU, 2)
        # The prefix outlives a run: start from a user whose session starts nothing.
        subprocess.run(["wine", "reg", "delete", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run",
                        "/v", "Tonalis", "/f"], env=env.env, capture_output=True, timeout=60)
        choose(env, START_WITH_SESSION)
        value = run_value(env)
        assert value.startswith('"') and value.endswith('tonalis.exe"'), f"the Run value is {value!r}"
        print(f"[settings] Run value: {value}")
        choose(env, START_WITH_SESSION)
        assert run_value(env) == "", "开机启动 chosen again did not take the Run value away"
        exit_by_menu(env, app)
        got = app.file("tonalis.ini")
        assert got == settings_bytes(**DEFAULTS) + b"delay 100\r\n", f"tonalis.ini: {got!r}"
