"""scripts/run without a desktop, for the native Linux program: a virtual display with a
compositing manager and a tray watcher, a sound server, a short demo sound, the program for
about 15 s, screenshots in out/ (named tonalis-linux-*.png).

Usage: python3 tests/linux_e2e/demo.py [seconds]
"""

import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))

from demo import OUT, demo_sound  # noqa: E402
from harness import REPO  # noqa: E402
from linux_harness import LinuxEnv  # noqa: E402


def main(argv):
    seconds = float(argv[1]) if len(argv) > 1 else 15.0
    OUT.mkdir(exist_ok=True)
    with LinuxEnv(name="demo-linux", width=1280, height=720) as env:
        wav = demo_sound(env.run_dir / "demo.wav", seconds)
        app = env.run_tonalis()
        env.main_window()
        time.sleep(1.0)
        shots = [env.screenshot("splash")]
        env.play_wav(wav)
        time.sleep(4.0)  # the splash ends about 4 s after start
        for i in range(4):
            time.sleep((seconds - 5.0) / 4)
            shots.append(env.screenshot(f"spectrum-{i + 1}"))
        env.click_tray_item(["退出"])
        app.wait(15)
    for shot in shots:
        target = OUT / shot.path.name.replace("demo-linux-", "tonalis-linux-")
        shutil.copyfile(shot.path, target)
        print(f"screenshot: {target.relative_to(REPO)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
