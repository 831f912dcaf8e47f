"""scripts/run without a desktop: a virtual display and sound input, a short demo sound,
tonalis.exe for about 15 s, screenshots in out/.

Usage: python3 tests/e2e/demo.py [seconds]
"""

import shutil
import sys
import time
from pathlib import Path

from harness import REPO, Env, music_mix, silence, sine, write_wav

OUT = REPO / "out"


def demo_sound(path: Path, seconds: float) -> Path:
    # A little music-like passage: a rising bass line under chords and a melody, so every
    # part of the spectrum moves; then a final chord.
    rate = 48000
    samples = silence(0.2, rate) + music_mix(seconds - 1.2, rate=rate, amplitude=0.6, seed=7)
    chord = [sum(v) / 3 for v in zip(sine(110, 1.0, 0.9, rate), sine(277, 1.0, 0.6, rate), sine(1320, 1.0, 0.5, rate))]
    return write_wav(path, samples + chord, rate)


def run_demo(env, seconds: float, start, close, name: str) -> None:
    """The demo on a running environment: `start()` starts the program and waits for its
    window, `close()` asks it to end. The screenshots are copied to out/ as `name`-*.png."""
    wav = demo_sound(env.run_dir / "demo.wav", seconds)
    app = start()
    time.sleep(1.0)
    shots = [env.screenshot("splash")]
    env.play_wav(wav)
    time.sleep(4.0)  # the splash ends about 4 s after start
    for i in range(4):
        time.sleep((seconds - 5.0) / 4)
        shots.append(env.screenshot(f"spectrum-{i + 1}"))
    close()
    app.wait(15)
    OUT.mkdir(exist_ok=True)
    for shot in shots:
        target = OUT / shot.path.name.replace(f"{env.name}-", f"{name}-")
        shutil.copyfile(shot.path, target)
        print(f"screenshot: {target.relative_to(REPO)}")


def main(argv):
    seconds = float(argv[1]) if len(argv) > 1 else 15.0
    with Env(name="demo", width=1280, height=720) as env:
        def start():
            app = env.run_tonalis()
            env.wait_window(timeout=30)
            return app
        run_demo(env, seconds, start, env.post_close, "tonalis")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
