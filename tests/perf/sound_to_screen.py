#!/usr/bin/env python3
"""Sound-to-screen delay of the real program under Wine (a figure for notes, no pass/fail).

A 64 Hz tone burst is played into the sound server's null sink 20 times. The onset is taken from
the sink's monitor, recorded alongside with parec (10 ms chunks); the screen side is the first
grab of the window in which band 1 shows a lit cell. A grab takes a while on a loaded machine,
so each delay is reported as a range: from onset to the start of that grab (a lower bound) and
to its end (an upper bound). Prints the medians.

Usage: python3 tests/perf/sound_to_screen.py [--onsets 20] [--source default|playing]
"""

import argparse
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))

from harness import SINK, Env, silence, sine, wait_until, write_wav  # noqa: E402
from test_live_sound import LOUD  # noqa: E402
from test_sound_sources import OnsetWatch, band_height, grab, start  # noqa: E402

RATE = 48000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--onsets", type=int, default=20)
    ap.add_argument("--source", choices=("default", "playing"), default="default")
    args = ap.parse_args()

    with Env(name="sound-to-screen") as env:
        ini = None
        if args.source == "playing":
            env.pactl("load-module", "module-null-source", "source_name=silence", "description=Silence")
            env.pactl("set-default-source", "silence")
            ini = ("xpos 50\r\nypos 50\r\ntop 0\r\nmode 1\r\nmouse 0\r\ntransparent 0\r\ncolor 1\r\nfullpos 0\r\n"
                   "\r\n这是Tonalis的设置保存文件,您在设置好的信息都会自动保存,请最好不要用外部编辑器改动本文件!\r\n"
                   "如果该文件被修改后程序运行异常,请删除本文件,程序将会自动生成一个新的ini文件\r\n"
                   "source 1\r\n")
        app, origin = start(env, ini=ini)
        burst = write_wav(env.run_dir / "burst.wav", sine(64.0, 0.8, LOUD, RATE) + silence(0.2, RATE), RATE)
        watch = OnsetWatch(env)
        time.sleep(1.0)
        low, high = [], []
        for n in range(args.onsets):
            wait_until(lambda: band_height(grab(env, origin), 1) == 0, 10, 0.1, "the bars to fall")
            time.sleep(0.6)
            seen = len(watch.onsets)
            env.play_wav(burst)
            while True:
                t0 = time.monotonic()
                lit = band_height(grab(env, origin), 1) > 0
                t1 = time.monotonic()
                if lit or t1 - t0 > 10:
                    break
            wait_until(lambda: len(watch.onsets) > seen, 5, 0.05, "the onset on the monitor")
            onset = watch.onsets[seen]
            low.append(t0 - onset)
            high.append(t1 - onset)
            print(f"onset {n + 1:2d}: {1000 * low[-1]:7.1f} .. {1000 * high[-1]:7.1f} ms", flush=True)
        watch.stop()
        env.post_command(32782)
        app.wait(15)
        print(f"median sound-to-screen delay ({args.source}): {1000 * statistics.median(low):.0f} .. "
              f"{1000 * statistics.median(high):.0f} ms over {len(low)} onsets")


if __name__ == "__main__":
    main()
