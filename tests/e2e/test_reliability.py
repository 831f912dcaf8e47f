"""A tray program left running for weeks: the end of the session keeps the settings, a folder
that cannot be written keeps the old file and says so, a second start shows the first copy,
and a short, wide screen shows every row of the full-screen strip."""

from __future__ import annotations

import subprocess
import time

from expect import WHITE
from harness import Env, scenario, wait_until
from test_settings import DEFAULTS, assert_written, exit_by_menu, settings_bytes
from test_tray_and_modes import DOTS, STYLE_MENU, choose, start, tonalis, wait_for_frames

WM_QUERYENDSESSION, WM_ENDSESSION = 0x0011, 0x0016
CMD_TOGGLE_VISIBILITY, CMD_FULL_SCREEN, CMD_WINDOW_MODE, CMD_STYLE_BAR = 32780, 32826, 32835, 32807
WM_DISPLAYCHANGE = 0x007E


def send(env, msg, wparam=0, lparam=0) -> int:
    rc, lines, err = env.winhelper("--title", "Tonalis", "--class", "#32770", "send", msg, wparam, lparam)
    assert rc == 0 and lines, f"no answer to message {msg:#x}: {err}"
    return lines[0]["result"]


@scenario(timeout=240)
def test_the_end_of_the_session_keeps_the_settings():
    with Env(name="session-end") as env:
        app = start(env, ini=settings_bytes(**DEFAULTS))
        choose(env, STYLE_MENU, DOTS)
        # What the system does at logoff: ask, announce the end, then end whatever still runs.
        assert send(env, WM_QUERYENDSESSION) == 1, "the program refused the end of the session"
        send(env, WM_ENDSESSION, 1)
        if app.poll() is None:
            env.winhelper("--title", "Tonalis", "--class", "#32770", "terminate")
        app.wait(10)
        assert_written(app, **dict(DEFAULTS, mode=5))
        assert not app.file("tonalis.ini.tmp"), "a temporary file was left behind"


@scenario(timeout=240)
def test_a_folder_that_cannot_be_written_keeps_the_old_file_and_says_so():
    old = settings_bytes(**dict(DEFAULTS, mode=4))
    with Env(name="read-only") as env:
        app = start(env, ini=old)
        # Immutable: not even root (as the test may run) can create a file in it.
        subprocess.run(["chattr", "+i", str(app.workdir)], check=True)
        try:
            before = {w["hwnd"] for w in env.list_windows()}
            env.post_command(CMD_STYLE_BAR)
            # The next second's save fails: a balloon from the tray icon tells the user.
            balloon = wait_until(
                lambda: [w for w in env.list_windows() if w["hwnd"] not in before and w["class"] == "tooltips_class32"],
                10, 0.3, "the balloon saying the settings were not saved")
            env.screenshot("read-only-balloon")
            assert balloon
            env.let_balloon_clear_the_icon(balloon[0])
            exit_by_menu(env, app)
        finally:
            subprocess.run(["chattr", "-i", str(app.workdir)], check=True)
        assert app.file("tonalis.ini") == old, "the old settings file was changed"
        assert not app.file("tonalis.ini.tmp"), "a temporary file was left behind"


@scenario(timeout=240)
def test_a_second_start_shows_the_first_and_ends():
    with Env(name="second-start") as env:
        first = start(env)
        env.post_command(CMD_TOGGLE_VISIBILITY)
        wait_until(lambda: not tonalis(env)["visible"], 5, 0.2, "the window to hide")
        second = env.run_tonalis(name="second", workdir=first.workdir)
        assert second.wait(20) == 0, "the second copy did not end by itself"
        wait_until(lambda: tonalis(env)["visible"], 5, 0.2, "the first copy's window to show again")
        wait_for_frames(env)
        # Wine's tray window is wider than its icons: count the cells that show one.
        shot = env.screenshot("one-icon")
        shown = [c for c in env.tray_icon_centres()
                 if shot.count((c[0] - 6, c[1] - 6, c[0] + 6, c[1] + 6), 0xFFFFFF, tol=16) < 144]
        assert len(shown) == 1, f"{len(shown)} tray icons shown"
        assert first.poll() is None, "the first copy ended"
        exit_by_menu(env, first)


@scenario(timeout=240)
def test_a_short_wide_screen_shows_the_whole_strip():
    # Xvfb cannot change its size while running (its RandR offers the one mode it started
    # with), so the program starts on the other screen instead; a display-change message then
    # makes it lay the strip out again from the screen as it is.
    with Env(name="wide-screen", width=5120, height=1080) as env:
        app = start(env)
        env.post_command(CMD_FULL_SCREEN)
        wait_until(lambda: (tonalis(env)["width"], tonalis(env)["height"]) == (5120, 1080), 10, 0.3,
                   "the full-screen window")
        env.post_message(WM_DISPLAYCHANGE, 24, 1080 << 16 | 5120)
        # 18 rows of 20 + 40 pixels fill the 1080 lines; band 0 spans x 80..252 and its floor
        # row, drawn in the bar colour whatever the level, is the screen's last 40 lines.
        probes = [((166, y), WHITE) for y in (1040, 1060, 1079)] + [((166, 1039), 0x000000)]
        wait_until(lambda: not env.screenshot("floor-row").mismatches(probes, tol=8), 10, 0.5,
                   "the floor row at the bottom of the screen")
        env.post_command(CMD_WINDOW_MODE)
        exit_by_menu(env, app)
