"""scripts/run without a desktop, for the native Linux program: a virtual display with a
compositing manager and a tray watcher, a sound server, a short demo sound, the program for
about 15 s, screenshots in out/ (named tonalis-linux-*.png).

Usage: python3 tests/linux_e2e/demo.py [seconds]
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))

from demo import run_demo  # noqa: E402
from linux_harness import LinuxEnv  # noqa: E402


def main(argv):
    seconds = float(argv[1]) if len(argv) > 1 else 15.0
    with LinuxEnv(name="demo-linux", width=1280, height=720) as env:
        def start():
            app = env.run_tonalis()
            env.main_window()
            return app
        run_demo(env, seconds, start, lambda: env.click_tray_item(["退出"]), "tonalis-linux")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
