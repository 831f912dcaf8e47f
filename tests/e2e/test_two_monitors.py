"""Two monitors side by side (an Xorg with the dummy driver): a window saved on the second one
comes back there, the full-screen and desktop strips cover the monitor the window is on, a
monitor that goes sends the strip to the primary one, and a window dragged over is found there
at the next start.
"""

from __future__ import annotations

from expect import WHITE, WINDOW_H, WINDOW_W
from harness import Env, Timeout, scenario, wait_until
from test_settings import DEFAULTS, settings_bytes
from test_tray_and_modes import ROOT_COLOUR, TITLE_LABEL, bitmap_probes, placed, set_root_colour, shows, tonalis

CMD_WINDOW, CMD_DESKTOP, CMD_FULL_SCREEN, CMD_EXIT = 32835, 32834, 32826, 32782

PRIMARY = (0, 0, 1920, 1080)
SECOND = (1920, 0) + Env.SECOND_MONITOR


def ini_at(x: int, y: int) -> bytes:
    return settings_bytes(**{**DEFAULTS, "xpos": x, "ypos": y})


def written_position(app) -> tuple:
    values = dict(line.split(b" ", 1) for line in app.file("tonalis.ini").split(b"\r\n")[:8])
    return int(values[b"xpos"]), int(values[b"ypos"])


def white_pixels(shot, monitor, step: int = 3) -> int:
    """White pixels of every `step`-th row and column of the monitor (a whole count of two
    monitors' pixels in Python takes seconds)."""
    x0, y0, w, h = monitor
    white = bytes.fromhex(f"{WHITE:06x}")
    n = 0
    for y in range(y0, min(y0 + h, shot.height), step):
        row = shot.rgb[(y * shot.width + x0) * 3:(y * shot.width + min(x0 + w, shot.width)) * 3]
        n += sum(1 for i in range(0, len(row), 3 * step) if row[i:i + 3] == white)
    return n


def strip_on(env, monitor, what) -> dict:
    """Waits until the window spans `monitor`'s width (a strip) and its floor row shows there
    and nowhere else; returns the window's facts."""
    def check():
        f = tonalis(env)
        return f if (f["left"], f["width"]) == (monitor[0], monitor[2]) else None

    facts = wait_until(check, 5, 0.2, what)
    # The other monitor, below Wine's tray window at the top-left.
    other = (0, 100, 1920, 980) if monitor == SECOND else SECOND

    def floor_shown():
        shot = env.screenshot()
        return white_pixels(shot, monitor) > 24 * 20 and white_pixels(shot, other) == 0

    wait_until(floor_shown, 5, 0.3, f"{what}: the strip's floor row on its monitor alone")
    return facts


@scenario(timeout=240)
def test_saved_positions_are_kept_on_any_monitor():
    """A saved position is kept when a 32 x 32 part of the window lies on some monitor; else the
    window starts at the default place on the primary one."""
    # (saved, where the window starts, how far the system may nudge it): Wine 10 moves a window
    # that straddles two monitors onto one of them, by the 20 pixels that lie on the other.
    cases = [((2300, 300), (2300, 300), 0),     # wholly on the second monitor
             ((1900, 500), (1900, 500), 20),    # across the two
             ((3000, 1050), (50, 50), 0)]       # below the second, right of the primary: nowhere
    with Env(name="two-monitors-saved", monitors=2) as env:
        assert env.x_monitors() == [PRIMARY, SECOND], env.x_monitors()
        for saved, expected, nudge in cases:
            app = env.run_tonalis(ini=ini_at(*saved))
            env.wait_window(timeout=30)

            def near():
                f = tonalis(env)
                return (abs(f["left"] - expected[0]) <= nudge and f["top"] == expected[1]
                        and (f["width"], f["height"]) == (WINDOW_W, WINDOW_H)) and f

            try:
                wait_until(near, 5, 0.2, f"saved at {saved}")
            except Timeout:
                f = tonalis(env)
                raise AssertionError(f"saved at {saved}: the window is at {(f['left'], f['top'])}, want {expected}")
            env.post_command(CMD_EXIT)
            assert app.wait(15) == 0


@scenario(timeout=300)
def test_strips_follow_the_window_and_leave_a_monitor_that_goes():
    with Env(name="two-monitors-strips", monitors=2) as env:
        set_root_colour(env, ROOT_COLOUR)
        app = env.run_tonalis(ini=ini_at(2300, 300))
        env.wait_window(timeout=30)
        shows(env, bitmap_probes(*TITLE_LABEL, window=(2300, 300)), timeout=15, name="window-on-second")

        env.post_command(CMD_FULL_SCREEN)
        facts = strip_on(env, SECOND, "全屏显示 on the second monitor")
        assert (facts["top"], facts["height"]) == (0, SECOND[3]), facts
        env.screenshot("fullscreen-second")

        env.post_command(CMD_DESKTOP)
        facts = strip_on(env, SECOND, "桌面显示 on the second monitor")
        assert facts["top"] > 0 and facts["top"] + facts["height"] <= SECOND[3], facts

        # The cable is pulled: Wine tells nothing, the program finds it within a second or two.
        env.second_monitor(False)
        assert env.x_monitors() == [PRIMARY]
        strip_on(env, PRIMARY, "桌面显示 after the second monitor went")
        env.screenshot("desktop-primary-after-unplug")

        # Window mode: the window was on the monitor that went; it comes back on the primary.
        env.post_command(CMD_WINDOW)
        facts = wait_until(lambda: (f := tonalis(env))["width"] == WINDOW_W and f, 5, 0.2, "窗口显示")
        assert facts["left"] + WINDOW_W <= PRIMARY[2] and facts["top"] + WINDOW_H <= PRIMARY[3], facts
        here = (facts["left"], facts["top"])
        shows(env, bitmap_probes(*TITLE_LABEL, window=here), timeout=10, name="window-back-on-primary")

        # The monitor comes back and the user drags the window over to it.
        env.second_monitor(True)
        env.drag(here[0] + 150, here[1] + 60, here[0] + 150 + 900, here[1] + 60, steps=15)
        to = (here[0] + 900, here[1])
        placed(env, to + (WINDOW_W, WINDOW_H), "dragged onto the second monitor")
        env.post_command(CMD_EXIT)
        assert app.wait(15) == 0
        assert written_position(app) == to

        # The next start finds it there.
        app = env.run_tonalis(ini=app.file("tonalis.ini"))
        env.wait_window(timeout=30)
        placed(env, to + (WINDOW_W, WINDOW_H), "the dragged window at the next start")
        shows(env, bitmap_probes(*TITLE_LABEL, window=to), timeout=15, name="window-second-again")
        env.post_command(CMD_EXIT)
        assert app.wait(15) == 0
