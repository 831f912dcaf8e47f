"""The program starts with its splash, ignores Enter and Escape, and closes in order."""

import time

from expect import WINDOW_W, WINDOW_H, asset
from harness import VK_ESCAPE, VK_RETURN, Env, cmdline, scenario, tagged_pids, wait_until

SPLASH_ID = 169


def splash_probes(left, top, step=37):
    w, h, px = asset(SPLASH_ID)
    assert (w, h) == (WINDOW_W, WINDOW_H)
    return [((left + x, top + y), px[y * w + x]) for y in range(2, h, step) for x in range(3, w, step)]


@scenario(timeout=180)
def test_starts_with_the_splash_as_a_tool_window():
    with Env(name="start") as env:
        start = time.monotonic()
        app = env.run_tonalis()
        facts = env.wait_window(timeout=20)
        assert facts["width"] == WINDOW_W, facts
        assert facts["toolwindow"] and facts["layered"], facts
        assert (facts["left"], facts["top"]) == (50, 50), facts
        # The splash frame follows the window by about 50 ms; within 3 s of the start it is
        # on screen, pixel for pixel.
        probes = splash_probes(50, 50)
        while True:
            shot = env.screenshot("splash")
            bad = shot.mismatches(probes, tol=8)
            took = time.monotonic() - start
            if not bad or took > 3.0:
                break
            time.sleep(0.1)
        assert not bad, f"no splash {took:.1f} s after the start: " + "; ".join(bad[:6])
        env.post_close()
        assert app.wait(10) == 0


@scenario(timeout=180)
def test_enter_and_escape_do_not_close():
    with Env(name="keys") as env:
        app = env.run_tonalis()
        env.wait_window(timeout=20)
        for vk in (VK_RETURN, VK_ESCAPE, VK_RETURN, VK_ESCAPE):
            env.post_key(vk)
        time.sleep(1.0)
        assert app.running, "a key closed the program"
        assert env.find_window() is not None
        env.post_close()
        assert app.wait(10) == 0


@scenario(timeout=180)
def test_close_during_and_after_the_splash():
    with Env(name="close") as env:
        # During the splash: the wait ends at once, the program ends after its 1.2 s pause.
        app = env.run_tonalis(name="during")
        env.wait_window(timeout=20)
        t0 = time.monotonic()
        env.post_close()
        assert app.wait(10) == 0
        took = time.monotonic() - t0
        assert 1.2 <= took <= 3.0, f"closing during the splash took {took:.2f} s"

        # After the splash (the frame timer runs): at least the 1.2 s pause, at most 3 s.
        app = env.run_tonalis(name="after")
        env.wait_window(timeout=20)
        time.sleep(5.0)
        assert app.running
        t0 = time.monotonic()
        env.post_close()
        assert app.wait(10) == 0
        took = time.monotonic() - t0
        assert 1.2 <= took <= 3.0, f"closing after the splash took {took:.2f} s"
        wait_until(lambda: env.find_window() is None, 5, what="window gone")
        left = [p for p in tagged_pids(env.tag) if "tonalis.exe" in cmdline(p)]
        assert not left, f"tonalis.exe processes left: {left}"
