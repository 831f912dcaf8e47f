"""Full-screen and desktop strips as they reach the screen: a frame sends only what changed, so
after a tone has lit and left a band, every pixel of the screen must again be exactly the frame
tonalis-render draws for the same state (silence, the bars fallen).
"""

from __future__ import annotations

import subprocess
import tempfile
import time
from pathlib import Path

from harness import REPO, Env, Image, read_image, scenario, silence, sine, write_wav
from test_tray_and_modes import (DESKTOP_MODE, FULL_SCREEN, ROOT_COLOUR, choose, placed,
                                 set_root_colour, shows, start, strip_band_x, strip_row_y)
from expect import WHITE

RENDER = REPO / "build" / "native" / "tools" / "tonalis_render" / "tonalis-render"
STRIP_TOP, STRIP_H = 315, 450  # 1920 x 1080, Center
TONE_HZ = 64  # band 1
WINDOW_MODE_COMMAND, EXIT_COMMAND = 32835, 32782


def rendered_silence(mode: str) -> Image:
    """tonalis-render's last frame of two seconds of silence in `mode` on a 1920 x 1080 screen."""
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        wav = write_wav(tmp / "silence.wav", silence(2.0, rate=65536), rate=65536)
        res = subprocess.run([str(RENDER), "--png", str(tmp), "--mode", mode, "--screen", "1920x1080", str(wav)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        assert res.returncode == 0, res.stderr.decode()
        return read_image(sorted(tmp.glob("frame_*.png"))[-1])


def differences(shot: Image, want: Image, top: int, keyed: bool) -> list:
    """Pixels of the screen rows from `top` that differ from `want`; with `keyed`, black in `want`
    must show the root behind the window."""
    root = bytes(((ROOT_COLOUR >> 16) & 255, (ROOT_COLOUR >> 8) & 255, ROOT_COLOUR & 255))
    row_bytes = want.width * 3
    bad = []
    for y in range(want.height):
        got = shot.rgb[(top + y) * shot.width * 3:(top + y) * shot.width * 3 + row_bytes]
        exp = want.rgb[y * row_bytes:(y + 1) * row_bytes]
        if got == exp and not keyed:
            continue
        for x in range(0, row_bytes, 3):
            e = exp[x:x + 3]
            if keyed and e == b"\0\0\0":
                e = root
            if got[x:x + 3] != e:
                bad.append(f"({x // 3},{top + y}) is #{got[x:x + 3].hex()}, want #{e.hex()}")
                if len(bad) >= 8:
                    return bad
    return bad


def settles_to(env, want: Image, top: int, keyed: bool, name: str, timeout: float = 8.0) -> Image:
    end = time.monotonic() + timeout
    while True:
        shot = env.screenshot(name)
        bad = differences(shot, want, top, keyed)
        if not bad:
            return shot
        if time.monotonic() > end:
            raise AssertionError(f"{shot.path.name}: differs from tonalis-render's frame: " + "; ".join(bad))
        time.sleep(0.3)


def tone_lights_band(env, top: int, name: str) -> None:
    """Plays the tone and waits until band 1's bottom cells are lit on screen."""
    env.play_samples(sine(TONE_HZ, 2.0, 0.5), name=f"tone-{name}")
    lit = [((strip_band_x(1), strip_row_y(r, base=top)), WHITE) for r in (14, 15, 16)]
    shows(env, lit, timeout=6.0, name=f"{name}-tone")


@scenario(timeout=300)
def test_strips_after_a_tone_match_the_renderer():
    full_screen = rendered_silence("fullscreen")
    desktop = rendered_silence("desktop")
    assert (full_screen.width, full_screen.height) == (1920, 1080)
    assert (desktop.width, desktop.height) == (1920, STRIP_H)

    with Env(name="presentation") as env:
        set_root_colour(env)
        app = start(env)

        choose(env, DESKTOP_MODE)
        placed(env, (0, STRIP_TOP, 1920, STRIP_H), "桌面显示")
        settles_to(env, desktop, STRIP_TOP, keyed=True, name="desktop-quiet")
        tone_lights_band(env, STRIP_TOP, "desktop")  # the strip window starts at the strip's top
        # The tone ends; the bars fall one row a frame: the changed cells put back exactly.
        settles_to(env, desktop, STRIP_TOP, keyed=True, name="desktop-after")

        # Last: full screen covers the tray, and once it has had the foreground Wine may keep
        # the pointer's clicks from the tray for the rest of the session.
        choose(env, FULL_SCREEN)
        placed(env, (0, 0, 1920, 1080), "全屏显示")
        settles_to(env, full_screen, 0, keyed=False, name="fullscreen-quiet")
        tone_lights_band(env, STRIP_TOP, "fullscreen")
        settles_to(env, full_screen, 0, keyed=False, name="fullscreen-after")

        env.post_command(WINDOW_MODE_COMMAND)
        placed(env, (50, 50, 443, 145), "窗口显示")
        env.post_command(EXIT_COMMAND)
        assert app.wait(15) == 0
