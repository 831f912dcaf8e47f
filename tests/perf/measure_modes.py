#!/usr/bin/env python3
"""CPU of tonalis.exe under Wine in each display mode, for notes (no pass/fail).

Runs the program on a 1920 x 1080 virtual screen with music playing and measures, from
/proc/<pid>/stat, the CPU time of tonalis.exe and of the wineserver (the X server's share is
printed apart) during:

  window      Window mode, music
  fullscreen  FullScreen mode, music
  desktop     Desktop mode, music
  silence     Window mode, after 40 s of silence (the bars have fallen; the board would show the clock)

It prints a table (percent of one core, tonalis.exe + wineserver) and each figure as a ratio
against Window-with-music of the same build, and the silence against the music counted as on
Linux: tonalis.exe plus the PulseAudio server Wine's sound driver records from. With --reference, a second build is measured in the
same run the same way, and the table gets its column and the new/reference ratios.

Usage: python3 tests/perf/measure_modes.py [--exe build/win64/src/backend/win32/tonalis.exe]
           [--reference other/tonalis.exe] [--seconds 10] [--json out/perf/measure_modes.json]
           [--playing]
Under Wine 10 (scripts/wine10 run python3 tests/perf/measure_modes.py --playing) the program
listens to what is playing through a real WASAPI loopback.

The machine's other load shows in the figures: run it on a quiet machine, or read the ratios
(taken from the same run) rather than the absolute percentages.
"""

import argparse
import json
import os
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))

from harness import OUT_DIR, Env, music_mix, tagged_pids, write_wav  # noqa: E402
from measure_wine import cpu_seconds, proc_name  # noqa: E402
from screen_read import status_row_problems  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
WINDOW_MODE, DESKTOP_MODE, FULL_SCREEN = 32835, 32834, 32826
EXIT = 32782
SILENCE_SECONDS = 40.0
PHASES = ("window", "fullscreen", "desktop", "silence")


def thread_seconds(pid):
    """{tid: (name, utime + stime in seconds)} for every thread of a process."""
    out = {}
    for task in Path(f"/proc/{pid}/task").glob("*"):
        try:
            name = (task / "comm").read_text().strip()
            with open(task / "stat", "rb") as f:
                fields = f.read().rsplit(b")", 1)[1].split()
        except OSError:
            continue
        out[int(task.name)] = (name, (int(fields[11]) + int(fields[12])) / TICKS)
    return out


def find_processes(tag, *names):
    return [p for p in tagged_pids(tag) if proc_name(p).lower() in names]


def find_process(tag, *names):
    found = find_processes(tag, *names)
    if len(found) != 1:
        raise RuntimeError(f"expected one {names} process in the env, found {found}")
    return found[0]


class Meter:
    """CPU seconds of the program, the wineserver and the X server over a stretch of time."""

    def __init__(self, env):
        self.pids = {
            "tonalis": find_process(env.tag, "tonalis.exe"),
            "wineserver": find_process(env.tag, "wineserver", "wineserver64"),
        }
        xs = find_processes(env.tag, "xvfb", "xorg")
        if xs:
            self.pids["x"] = xs[0]
        # The sound server, apart: what a silence costs it is part of what a silence costs.
        servers = find_processes(env.tag, "pulseaudio")
        if servers:
            self.pids["pulseaudio"] = servers[0]

    def sample(self):
        return time.monotonic(), {k: cpu_seconds(p) for k, p in self.pids.items()}, thread_seconds(self.pids["tonalis"])

    def measure(self, seconds):
        t0, c0, th0 = self.sample()
        time.sleep(seconds)
        t1, c1, th1 = self.sample()
        wall = t1 - t0
        out = {k: round(100 * (c1[k] - c0[k]) / wall, 1) for k in c0}
        out["seconds"] = round(wall, 2)
        out["total"] = round(out["tonalis"] + out["wineserver"], 1)
        # Per thread of tonalis.exe, busiest first: the threads the program made and Wine's own
        # (its sound driver's) are told apart by their names where Wine gives them one.
        busy = sorted(((round(100 * (th1[t][1] - th0[t][1]) / wall, 1), t, th1[t][0]) for t in th1 if t in th0),
                      reverse=True)
        out["threads"] = [{"tid": t, "name": name, "cpu": cpu} for cpu, t, name in busy if cpu > 0]
        return out


# Window mode with "正在播放的声音" as the source (lines 9 to 11: empty and the comments).
PLAYING_INI = ("xpos 50\r\nypos 50\r\ntop 0\r\nmode 1\r\nmouse 0\r\ntransparent 0\r\ncolor 1\r\nfullpos 0\r\n"
               "\r\n这是Tonalis的设置保存文件,您在设置好的信息都会自动保存,请最好不要用外部编辑器改动本文件!\r\n"
               "如果该文件被修改后程序运行异常,请删除本文件,程序将会自动生成一个新的ini文件\r\n"
               "source 1\r\n")


def measure_build(exe, seconds, label, playing=False):
    """The four phases for one build, in one Env of its own."""
    music_len = 3 * (seconds + 4.0) + 10.0
    figures = {}
    with Env(name=f"perf-{label}", extra_env={}) as env:
        music = write_wav(env.run_dir / "music.wav", music_mix(music_len))
        app = env.run_exe(exe, name="tonalis", ini=PLAYING_INI if playing else None)
        facts = env.wait_window(timeout=30)
        origin = (facts["left"], facts["top"])
        deadline = time.monotonic() + 20
        while status_row_problems(env.screenshot(f"{label}-start"), origin) and time.monotonic() < deadline:
            time.sleep(0.3)
        meter = Meter(env)

        player = env.play_wav(music)
        time.sleep(2.0)
        figures["window"] = meter.measure(seconds)
        env.screenshot(f"{label}-window")
        env.post_command(FULL_SCREEN)
        time.sleep(2.0)
        figures["fullscreen"] = meter.measure(seconds)
        env.screenshot(f"{label}-fullscreen")
        env.post_command(DESKTOP_MODE)
        time.sleep(2.0)
        figures["desktop"] = meter.measure(seconds)
        env.screenshot(f"{label}-desktop")
        env.post_command(WINDOW_MODE)
        player.stop()
        time.sleep(SILENCE_SECONDS)
        figures["silence"] = meter.measure(seconds)
        env.screenshot(f"{label}-silence")

        env.post_command(EXIT)
        app.wait(15)
    return figures


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    root = HERE.parent.parent
    ap.add_argument("--exe", default=str(root / "build/win64/src/backend/win32/tonalis.exe"),
                    help="the build measured")
    ap.add_argument("--reference", help="a second build measured in the same run (e.g. of main)")
    ap.add_argument("--seconds", type=float, default=10.0, help="length of each measured stretch")
    ap.add_argument("--json", default=str(OUT_DIR.parent / "perf" / "measure_modes.json"))
    ap.add_argument("--playing", action="store_true",
                    help='listen to "正在播放的声音" (a loopback of the default output under Wine 10) '
                         "instead of the default input")
    args = ap.parse_args()

    builds = {"new": Path(args.exe)}
    if args.reference:
        builds["reference"] = Path(args.reference)
    results = {}
    for label, exe in builds.items():
        if not exe.exists():
            raise SystemExit(f"{exe} does not exist")
        results[label] = measure_build(exe, args.seconds, label, args.playing)

    print(f"CPU, % of one core: tonalis.exe + wineserver (X server apart); {args.seconds:g} s a phase, "
          f"1920 x 1080, load average {os.getloadavg()[0]:.1f}")
    header = f"{'phase':<12}" + "".join(f"{label:>12}{'(ratio)':>9}{'X':>7}" for label in results)
    if "reference" in results:
        header += f"{'new/ref':>9}"
    print(header)
    for phase in PHASES:
        line = f"{phase:<12}"
        for label, figs in results.items():
            f, base = figs[phase], figs["window"]["total"] or 1.0
            line += f"{f['total']:>12.1f}{f['total'] / base:>9.2f}{f.get('x', float('nan')):>7.1f}"
        if "reference" in results:
            ref = results["reference"][phase]["total"] or 1.0
            line += f"{results['new'][phase]['total'] / ref:>9.2f}"
        print(line)
    for label, figs in results.items():
        for phase in ("window", "silence"):
            top = ", ".join(f"{t['name']}[{t['tid']}] {t['cpu']:.1f}" for t in figs[phase]["threads"][:8])
            print(f"{label} {phase} threads of tonalis.exe: {top}")
    for label, figs in results.items():
        if "pulseaudio" in figs["window"]:
            music = figs["window"]["tonalis"] + figs["window"]["pulseaudio"]
            quiet = figs["silence"]["tonalis"] + figs["silence"]["pulseaudio"]
            print(f"{label} tonalis.exe + PulseAudio: window with music {figs['window']['tonalis']:.1f} + "
                  f"{figs['window']['pulseaudio']:.1f}, after {SILENCE_SECONDS:g} s of silence "
                  f"{figs['silence']['tonalis']:.1f} + {figs['silence']['pulseaudio']:.1f}; "
                  f"silence / music {quiet / music if music else float('nan'):.2f}")
    print("ratio: against Window with music of the same build. Targets: fullscreen and desktop <= 1.5, "
          "silence <= 0.3, and new/ref of window clearly below 1.")

    out = Path(args.json)
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps({"builds": {k: str(v) for k, v in builds.items()}, "figures": results,
                               "seconds": args.seconds, "clock_ticks_per_s": TICKS}, indent=2) + "\n")
    print(f"figures written to {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
