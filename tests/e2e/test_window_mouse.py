"""The mouse on the spectrum window: a double-click enters full screen, another returns to the
window where it was; in Desktop mode the window lets clicks through."""

import time

from expect import WINDOW_H, WINDOW_W
from harness import Env, scenario
from test_tray_and_modes import placed, start, tonalis

DESKTOP_MODE, WINDOW_MODE = 32834, 32835


@scenario(timeout=150)
def test_double_click_enters_and_leaves_full_screen():
    with Env(name="dblclick") as env:
        app = start(env)
        env.double_click(50 + 200, 50 + 60)
        full = placed(env, (0, 0, env.width, env.height), "full screen after a double-click on the window")
        assert full["topmost"], full
        time.sleep(0.5)
        env.double_click(env.width // 2, env.height // 2)
        back = placed(env, (50, 50, WINDOW_W, WINDOW_H), "the window back in its place after a second double-click")
        assert not back["topmost"] and not back["transparent"], back

        # In Desktop mode the window is click-through: a double-click on it changes nothing.
        env.post_command(DESKTOP_MODE)
        strip = placed(env, (0, 315, env.width, 450), "the desktop strip")
        assert strip["transparent"], strip
        env.double_click(env.width // 2, 315 + 200)
        time.sleep(1.0)
        assert (tonalis(env)["left"], tonalis(env)["top"]) == (0, 315)
        env.post_command(WINDOW_MODE)
        placed(env, (50, 50, WINDOW_W, WINDOW_H), "the window back from Desktop mode")
        env.post_close()
        assert app.wait(15) == 0
