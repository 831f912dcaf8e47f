#!/usr/bin/env python3
"""Sound-to-screen delay with 画面延迟 at 0 and at 100 ms, for notes (no pass/fail; not run by
scripts/test).

For each program asked for (the native one on the Linux virtual desktop of tests/linux_e2e,
tonalis.exe under Wine on the desktop of tests/e2e), and for each delay in --delays, in turn
for --rounds rounds: the program is started in Window mode with a tonalis.ini whose `delay N`
line sets 画面延迟, the default input hearing the sound server's null sink; a long 1 kHz tone
finds the band it lights, and the probe (build/native/tests/perf/sound_to_pixel, made by
`scripts/build native`) plays --bursts bursts of that tone into the sink while it reads the
bottom cell of that band, 1 x 1 pixel every 0.5 ms, and prints the median delay from each
burst's start (taken from its stream's latency) to the cell lighting. The program is closed
between runs.

Prints each run's median and, per program, the median of the medians for each delay and the
difference against the first delay (100 ms of delay should add 100 +- 25 ms).

Exits 0 whatever the figures; 1 when something could not be measured.

Usage: python3 tests/perf/sound_to_pixel.py [--programs native,wine] [--delays 0,100]
           [--bursts 15] [--rounds 1] [--json out/perf/sound_to_pixel.json]
"""

from __future__ import annotations

import argparse
import json
import re
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

from expect import UNLIT, cell_centre  # noqa: E402
from harness import E2EError, Env, wait_until  # noqa: E402
from linux_harness import LinuxEnv  # noqa: E402
from linux_vs_cava import NotMeasured, Screen  # noqa: E402

PROBE = ROOT / "build" / "native" / "tests" / "perf" / "sound_to_pixel"
NATIVE = ROOT / "build" / "native" / "src" / "backend" / "linux" / "tonalis"
TONE_HZ = 1000
BOTTOM_ROW = 16
EXIT = 32782


def settings(delay: int) -> str:
    """Window mode at (250, 250), opaque, white; lines 9 to 11 as the program writes them."""
    text = ("xpos 250\r\nypos 250\r\ntop 0\r\nmode 1\r\nmouse 0\r\ntransparent 0\r\ncolor 1\r\nfullpos 0\r\n"
            "\r\n这是Tonalis的设置保存文件,您在设置好的信息都会自动保存,请最好不要用外部编辑器改动本文件!\r\n"
            "如果该文件被修改后程序运行异常,请删除本文件,程序将会自动生成一个新的ini文件\r\n")
    return text + (f"delay {delay}\r\n" if delay else "")


def lit_band(screen: Screen, origin: tuple):
    """The band whose column is lit highest while the tone plays; None while none is."""
    best, best_rows = -1, 0
    for band in range(24):
        x, _ = cell_centre(band, 0)
        column = screen.grab((origin[0] + x, origin[1], 1, 110))
        rows = sum(1 for row in range(BOTTOM_ROW + 1) if column[cell_centre(band, row)[1]] != UNLIT)
        if rows > best_rows:
            best, best_rows = band, rows
    return best if best >= 0 else None


def probe(env, screen: Screen, origin: tuple, bursts: int) -> dict:
    """Finds the tone's band and runs the probe on its bottom cell; the probe's figures."""
    # A null output starts its monitor a second or two late: the band is looked for until then.
    env.play_tone(TONE_HZ, 6.0, wait=False)
    time.sleep(1.0)
    band = wait_until(lambda: lit_band(screen, origin), 5, 0.2, "a band lit by the tone")
    x, y = cell_centre(band, BOTTOM_ROW)
    x, y = origin[0] + x, origin[1] + y
    wait_until(lambda: screen.grab((x, y, 1, 1))[0] == UNLIT, 20, 0.1, "the tone's band to fall")
    time.sleep(1.0)
    out = subprocess.run([str(PROBE), "--x", str(x), "--y", str(y), "--bursts", str(bursts), "--hz", str(TONE_HZ)],
                         env=env.env, capture_output=True, text=True, timeout=bursts * 15 + 30)
    print(out.stdout, end="", flush=True)
    found = re.search(r"median ([\d.]+) ms over (\d+) bursts", out.stdout)
    if out.returncode != 0 or not found:
        raise NotMeasured(f"the probe failed ({out.returncode}): {out.stdout[-300:]} {out.stderr[-300:]}")
    delays = [float(d) for d in re.findall(r"burst +\d+: +([\d.-]+) ms", out.stdout)]
    return {"band": band, "median_ms": float(found.group(1)), "bursts_ms": delays}


def run_native(delay: int, bursts: int) -> dict:
    with LinuxEnv(name=f"perf-sound-to-pixel-{delay}") as env:
        screen = Screen(env.display)
        try:
            folder = env.run_dir / "home" / ".config" / "tonalis"
            folder.mkdir(parents=True, exist_ok=True)
            (folder / "tonalis.ini").write_bytes(settings(delay).encode("gbk"))
            app = env.run_tonalis()
            rect = env.x_geometry(env.main_window())
            wait_until(lambda: sum(1 for p in screen.grab((rect[0] + 10, rect[1] + 10, 400, 100)) if p == UNLIT)
                       > 1000 or not app.running, 30, 0.2, "the spectrum after the splash")
            if not app.running:
                raise NotMeasured(f"tonalis ended: {app.output()[-400:]}")
            figures = probe(env, screen, rect[:2], bursts)
            app.stop(grace=5.0)
            return figures
        finally:
            screen.close()


def run_wine(delay: int, bursts: int) -> dict:
    with Env(name=f"perf-sound-to-pixel-wine-{delay}") as env:
        screen = Screen(env.display)
        try:
            app = env.run_tonalis(ini=settings(delay))
            facts = env.wait_window(timeout=30)
            origin = (facts["left"], facts["top"])
            wait_until(lambda: sum(1 for p in screen.grab((origin[0] + 10, origin[1] + 10, 400, 100)) if p == UNLIT)
                       > 1000, 30, 0.2, "the spectrum after the splash")
            figures = probe(env, screen, origin, bursts)
            env.post_command(EXIT)
            app.wait(15)
            return figures
        finally:
            screen.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--programs", default="native,wine", help="native, wine or both, comma-separated")
    ap.add_argument("--delays", default="0,100", help="画面延迟 values in ms, comma-separated")
    ap.add_argument("--bursts", type=int, default=15)
    ap.add_argument("--rounds", type=int, default=1, help="runs per program and delay, taken in turn")
    ap.add_argument("--json", help="also write the figures to this file")
    args = ap.parse_args()
    programs = args.programs.split(",")
    delays = [int(d) for d in args.delays.split(",")]
    if not PROBE.exists() or ("native" in programs and not NATIVE.exists()):
        print("run scripts/build native first (the probe and the native program)", file=sys.stderr)
        return 1
    runners = {"native": run_native, "wine": run_wine}
    figures = {p: {d: [] for d in delays} for p in programs}
    try:
        for _ in range(args.rounds):
            for program in programs:
                for delay in delays:
                    print(f"== {program}, 画面延迟 {delay} ms", flush=True)
                    figures[program][delay].append(runners[program](delay, args.bursts))
    except (NotMeasured, E2EError, subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
        print(f"not measured: {e}", file=sys.stderr)
        return 1
    print(f"sound-to-screen delay, median of {args.bursts} bursts per run, {args.rounds} run(s) each:")
    for program in programs:
        medians = {d: statistics.median(r["median_ms"] for r in figures[program][d]) for d in delays}
        base = medians[delays[0]]
        line = ", ".join(f"delay {d} ms: {m:.1f} ms (+{m - base:.1f})" for d, m in medians.items())
        print(f"  {program}: {line}")
    if args.json:
        out = Path(args.json)
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_text(json.dumps({"bursts": args.bursts, "rounds": args.rounds, "figures": figures}, indent=2) + "\n")
        print(f"figures written to {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
