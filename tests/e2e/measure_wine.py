#!/usr/bin/env python3
"""Figures of the real program under Wine, for notes (no pass/fail):

  * the frame time the window shows in its readout (the mean of the last 20 frame intervals, ms),
    read from screenshots during silence and during music;
  * the CPU time tonalis.exe (all its threads) and the wineserver use while the program analyses
    and draws music-like input, from /proc/<pid>/stat utime+stime before and after.

Usage: python3 tests/e2e/measure_wine.py [--seconds 30] [--json out/e2e/measure_wine.json]
"""

import argparse
import json
import os
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from harness import OUT_DIR, Env, music_mix, tagged_pids, wait_until, write_wav  # noqa: E402
from screen_read import read_readout, status_row_problems  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def proc_name(pid):
    try:
        return Path(f"/proc/{pid}/comm").read_text().strip()
    except OSError:
        return ""


def cpu_seconds(pid):
    """utime + stime of a process (all its threads), in seconds; 0 once it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            fields = f.read().rsplit(b")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / TICKS  # fields 14 and 15 of stat(5)


def find_process(tag, *names):
    """The one process of this Env with one of these names (Wine names a program's process after
    its .exe; the server is wineserver or wineserver64)."""
    found = [p for p in tagged_pids(tag) if proc_name(p).lower() in names]
    if len(found) != 1:
        raise RuntimeError(f"expected one {names} process in the env, found {found}")
    return found[0]


def sample_readout(env, origin, seconds, name):
    readings = []
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        readings.append(read_readout(env.screenshot(name), origin))
        time.sleep(0.3)
    return readings


def summary(values):
    vals = [v for v in values if v is not None]
    if not vals:
        return "none read"
    return f"min {min(vals)}, median {sorted(vals)[len(vals) // 2]}, max {max(vals)} ms ({len(vals)} readings)"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seconds", type=float, default=30.0, help="length of the music stretch measured")
    ap.add_argument("--json", default=str(OUT_DIR / "measure_wine.json"), help="where to write the figures")
    args = ap.parse_args()

    with Env(name="measure") as env:
        music = write_wav(env.run_dir / "music.wav", music_mix(args.seconds + 4.0))
        app = env.run_tonalis()
        facts = env.wait_window(timeout=30)
        origin = (facts["left"], facts["top"])
        time.sleep(3.0)
        wait_until(lambda: not status_row_problems(env.screenshot("start"), origin), 15, 0.2, "the spectrum panel")
        exe = find_process(env.tag, "tonalis.exe")
        server = find_process(env.tag, "wineserver", "wineserver64")

        # Idle: silence for 10 s, from the first full measurement on (the readout shows 0 for
        # the first 19 frames).
        time.sleep(1.0)
        t0, c0, s0 = time.monotonic(), cpu_seconds(exe), cpu_seconds(server)
        silent_readout = sample_readout(env, origin, 10.0, "silence")
        t1, c1, s1 = time.monotonic(), cpu_seconds(exe), cpu_seconds(server)

        # Music: let it start, then measure args.seconds of it without taking screenshots (they
        # cost the X server and Wine time of their own), then read the readout while it goes on.
        player = env.play_wav(music)
        time.sleep(1.5)
        t2, c2, s2 = time.monotonic(), cpu_seconds(exe), cpu_seconds(server)
        time.sleep(args.seconds)
        t3, c3, s3 = time.monotonic(), cpu_seconds(exe), cpu_seconds(server)
        music_readout = sample_readout(env, origin, 2.0, "music")
        player.wait(30)

        env.post_command(32782)
        app.wait(10)

    figures = {
        "readout_ms_silence": silent_readout,
        "readout_ms_music": music_readout,
        "silence": {"seconds": round(t1 - t0, 2), "tonalis_cpu_s": round(c1 - c0, 2),
                    "wineserver_cpu_s": round(s1 - s0, 2)},
        "music": {"seconds": round(t3 - t2, 2), "tonalis_cpu_s": round(c3 - c2, 2),
                  "wineserver_cpu_s": round(s3 - s2, 2)},
        "clock_ticks_per_s": TICKS,
    }
    for part in ("silence", "music"):
        f = figures[part]
        f["tonalis_cpu_percent"] = round(100 * f["tonalis_cpu_s"] / f["seconds"], 1)
        f["wineserver_cpu_percent"] = round(100 * f["wineserver_cpu_s"] / f["seconds"], 1)
    Path(args.json).parent.mkdir(parents=True, exist_ok=True)
    Path(args.json).write_text(json.dumps(figures, indent=2) + "\n")

    print(f"frame-time readout, silence (screenshots every ~0.5 s): {summary(silent_readout)}")
    print(f"frame-time readout, music: {summary(music_readout)}")
    for part in ("silence", "music"):
        f = figures[part]
        print(f"{part}: {f['seconds']} s wall, tonalis.exe {f['tonalis_cpu_s']} s CPU "
              f"({f['tonalis_cpu_percent']} % of one core), wineserver {f['wineserver_cpu_s']} s "
              f"({f['wineserver_cpu_percent']} %)")
    print(f"figures written to {args.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
