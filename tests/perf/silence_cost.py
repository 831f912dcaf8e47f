#!/usr/bin/env python3
"""What a silent desktop costs beside music, for notes (no pass/fail; not run by scripts/test).

One virtual desktop as in tests/perf/linux_vs_cava.py (Xvfb 1920 x 1080 with openbox and
xcompmgr, a private session bus with a tray watcher, a PulseAudio null sink as the default
output). The native program runs in Window mode with "正在播放的声音" chosen (a tonalis.ini
`source 1` line), through --rounds rounds of:

  music    music played into the sink; after WARM_UP seconds, CPU of the program and of the
           PulseAudio server over --seconds.
  silence  the music stopped; after --lead seconds of silence (the program pauses its stream
           after 10 s of digital silence; once the bars are down its frame timer wakes only
           for a frame that shows something new: in Window mode the activity light's next
           picture, six a second, until it rests after 30 s), CPU of the same two over
           --seconds.

CPU is utime + stime of all threads from /proc/<pid>/stat, in % of one core. The figure is the
ratio silence / music of program + server, per round and as the median (aim: 0.25 or less).

Exits 0 whatever the figures; 1 when something could not be measured.

Usage: python3 tests/perf/silence_cost.py [--binary build/native/src/backend/linux/tonalis]
           [--seconds 10] [--lead 20] [--rounds 3] [--json out/perf/silence_cost.json]
"""

from __future__ import annotations

import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "linux_e2e"))
sys.path.insert(0, str(HERE.parent / "e2e"))

from harness import E2EError, music_mix, wait_until, write_wav  # noqa: E402
from linux_harness import LinuxEnv  # noqa: E402
from linux_vs_cava import (HEIGHT, WARM_UP, WIDTH, NotMeasured, Screen, env_process, main_window,  # noqa: E402
                           measure_cpu, measurement_arguments, splash_over, write_figures)

# The window's settings with "正在播放的声音" as the source (lines 9 to 11: empty and comments).
SETTINGS = ("xpos 250\r\nypos 250\r\ntop 0\r\nmode 1\r\nmouse 0\r\ntransparent 0\r\ncolor 1\r\nfullpos 0\r\n"
            "\r\n; Tonalis\r\n; settings\r\nsource 1\r\n")


def run(binary, seconds, lead, rounds):
    figures = {"music": [], "silence": []}
    with LinuxEnv(name="perf-silence-cost", width=WIDTH, height=HEIGHT) as env:
        screen = Screen(env.display)
        try:
            folder = env.run_dir / "home" / ".config" / "tonalis"
            folder.mkdir(parents=True, exist_ok=True)
            (folder / "tonalis.ini").write_bytes(SETTINGS.encode("ascii"))
            loop = music_mix(8.0)
            music = write_wav(env.run_dir / "music.wav", loop * int((WARM_UP + seconds + 4.0) // 8.0 + 1))
            app = env._spawn([str(binary)], "tonalis", cwd=env.run_dir)
            rect = env.x_geometry(main_window(env))
            wait_until(lambda: splash_over(screen, rect) or not app.running, 30, 0.2, "the spectrum after the splash")

            def alive():
                if not app.running:
                    raise NotMeasured(f"tonalis ended: {app.output()[-400:]}")

            pids = {"program": app.pid, "pulseaudio": env_process(env, "pulseaudio")}
            for _ in range(rounds):
                player = env.play_wav(music)
                time.sleep(WARM_UP)
                figures["music"].append(measure_cpu(pids, seconds, alive))
                if not player.running:
                    raise NotMeasured("the music ended before its stretch did")
                player.stop()
                time.sleep(lead)
                figures["silence"].append(measure_cpu(pids, seconds, alive))
            env.screenshot("silence")
            app.stop(grace=5.0)
        finally:
            screen.close()
    return figures


def both(cpu):
    return cpu["program"] + cpu["pulseaudio"]


def report(figures, seconds, lead, rounds):
    print(f"CPU, % of one core, {rounds} rounds of {seconds:g} s of music and {seconds:g} s of silence "
          f"(from {lead:g} s after it began), Window mode, load average {os.getloadavg()[0]:.1f}")
    print(f"{'round':<8}{'music: program':>16}{'pulse':>8}{'silence: program':>18}{'pulse':>8}{'ratio':>8}")
    ratios = []
    for i, (m, s) in enumerate(zip(figures["music"], figures["silence"]), 1):
        ratio = both(s) / both(m) if both(m) else float("nan")
        ratios.append(ratio)
        print(f"{i:<8}{m['program']:>16.1f}{m['pulseaudio']:>8.1f}{s['program']:>18.1f}{s['pulseaudio']:>8.1f}"
              f"{ratio:>8.2f}")
    music = statistics.median(both(m) for m in figures["music"])
    silence = statistics.median(both(s) for s in figures["silence"])
    print(f"program + server, median: music {music:.1f} %, silence {silence:.1f} %; "
          f"silence / music {statistics.median(ratios):.2f} (target 0.25 or less)")
    return statistics.median(ratios)


def main():
    args, binary = measurement_arguments(__doc__, lambda ap: ap.add_argument(
        "--lead", type=float, default=20.0, help="seconds of silence before its stretch"))
    if binary is None:
        return 1
    try:
        figures = run(binary, args.seconds, args.lead, args.rounds)
    except (NotMeasured, E2EError, subprocess.CalledProcessError) as e:
        print(f"not measured: {e}", file=sys.stderr)
        return 1
    ratio = report(figures, args.seconds, args.lead, args.rounds)
    if args.json:
        write_figures(args.json, {"binary": str(binary), "seconds": args.seconds, "lead": args.lead,
                                  "rounds": args.rounds, "ratio": round(ratio, 3), "figures": figures})
    return 0


if __name__ == "__main__":
    sys.exit(main())
