#!/usr/bin/env python3
"""The native Linux program beside cava, the terminal spectrum visualiser, for notes (no pass/fail).

One run, one virtual desktop (Xvfb 1920 x 1080 with openbox and xcompmgr, a private session bus
with a tray watcher, a PulseAudio null sink whose monitor is the default input, as in
tests/linux_e2e), music playing into the sink the whole time. One after the other (tonalis
and cava in turn for --rounds rounds; the table shows each figure's median over the rounds):

  start-up    Tonalis started 3 times (ended with SIGTERM each time). The time from the spawn to
              the first frame: the first grab of the screen in which the window is mapped and at
              least a tenth of its area shows pixels that are neither black nor the bare root's
              grey. Right after a start that is the splash, not the spectrum. Median of the starts.
  tonalis     Tonalis in Window mode, after its splash and 3 s more: CPU of the tonalis process
              (all threads, utime + stime from /proc/<pid>/stat) over --seconds, and of the X
              server (Xvfb) and the compositor (xcompmgr) in the same stretch. Then, once the
              program has heard 10 s of music past its splash, VmRSS and RssAnon from
              /proc/<pid>/status.
  cava        cava in an xterm on the same display (xterm -fa Monospace -fs 10 -geometry 100x20
              -e cava -p CONFIG), 24 bars at 36 frames a second (Tonalis draws a frame every
              28 ms), one channel (24 bands, not 12 mirrored), reading PulseAudio's default
              source, ncurses output; once its bars are seen moving, 3 s after it started, CPU of
              cava, xterm, Xvfb and xcompmgr over --seconds.

The PulseAudio server's CPU is shown apart: both programs capture the same monitor. Percentages
are of one core. "with X" adds the X server and the compositor to the program's own figure (and
xterm's, for cava): the whole cost of having it on screen; the last ratio adds the sound server
too, round by round, and gives the median. cava and xterm are installed with
apt-get when missing (sudo when not root).

Exits 0 whatever the figures; 1 when something could not be measured (a program did not start,
died or showed nothing), with the reason.

Usage: python3 tests/perf/linux_vs_cava.py [--binary build/native/src/backend/linux/tonalis]
           [--seconds 10] [--starts 3] [--rounds 3] [--json out/perf/linux_vs_cava.json]

The machine's other load shows in the figures: run it on a quiet machine, or read the ratios
(taken from the same run) rather than the absolute percentages.
"""

from __future__ import annotations

import argparse
import ctypes
import ctypes.util
import json
import os
import statistics
import subprocess
import sys
import time
from array import array
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE.parent / "linux_e2e"))
sys.path.insert(0, str(HERE.parent / "e2e"))

from harness import E2EError, music_mix, tagged_pids, wait_until, write_wav  # noqa: E402
from linux_harness import LinuxEnv  # noqa: E402
from measure_wine import cpu_seconds, proc_name  # noqa: E402

WIDTH, HEIGHT = 1920, 1080
WARM_UP = 3.0          # seconds between a program's start (or its splash's end) and the sampling
MUSIC_HEARD = 10.0     # seconds of music before the memory is read
ROOT_GREY = 0x808080   # Xvfb's bare root window
CAVA_CONFIG = """\
[general]
framerate = 36
bars = 24

[input]
method = pulse
source = auto

[output]
method = ncurses
channels = mono
"""


class NotMeasured(Exception):
    """Something the figures need did not happen."""


# -- packages ------------------------------------------------------------------------------------


def ensure_packages(*packages):
    """Installs the Debian packages that are missing, as scripts/setup does."""
    missing = [p for p in packages
               if b"install ok installed" not in subprocess.run(
                   ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True).stdout]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    print(f"installing {' '.join(missing)}", flush=True)
    subprocess.run([*sudo, "apt-get", "update", "-qq"], env=env, check=True)
    subprocess.run([*sudo, "apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing],
                   env=env, check=True, stdout=subprocess.DEVNULL)


# -- screen --------------------------------------------------------------------------------------


class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class Screen:
    """Grabs of a rectangle of the root window (what is on screen, after the compositor), through
    libX11: a few milliseconds each, where a screenshot with ImageMagick takes a good part of a
    second."""

    def __init__(self, display):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.POINTER(_XImage)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.dpy = x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise NotMeasured(f"cannot open the display {display}")
        self.root = x11.XDefaultRootWindow(self.dpy)

    def close(self):
        if self.dpy:
            self.x11.XCloseDisplay(self.dpy)
            self.dpy = None

    def grab(self, rect):
        """0xRRGGBB pixels of (left, top, width, height), row by row."""
        left, top, width, height = rect
        image = self.x11.XGetImage(self.dpy, self.root, left, top, width, height, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            raise NotMeasured(f"cannot grab {rect} of the screen")
        try:
            im = image.contents
            if im.bits_per_pixel != 32:
                raise NotMeasured(f"a {im.bits_per_pixel}-bit screen; 32 wanted")
            words = array("I", ctypes.string_at(im.data, im.bytes_per_line * height))
            per_row = im.bytes_per_line // 4
            return [words[r * per_row + c] & 0xFFFFFF for r in range(height) for c in range(width)]
        finally:
            self.x11.XDestroyImage(image)


def painted(pixels):
    """Whether at least a tenth of the pixels are neither black nor the bare root."""
    return sum(1 for p in pixels if p not in (0, ROOT_GREY)) * 10 >= len(pixels)


# -- processes -----------------------------------------------------------------------------------


def env_process(env, name):
    """The pid of the process the Env started under this name (Xvfb, xcompmgr, pulseaudio)."""
    for p in env._procs:
        if p.name == name and p.running:
            return p.pid
    raise NotMeasured(f"no {name} running in the test desktop")


def tagged_process(env, comm):
    found = [p for p in tagged_pids(env.tag) if proc_name(p) == comm]
    return found[0] if len(found) == 1 else None


def memory(pid):
    """VmRSS and RssAnon of a process in KiB."""
    fields = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, value = line.partition(":")
        if key in ("VmRSS", "RssAnon"):
            fields[key] = int(value.split()[0])
    return fields


def measure_cpu(pids, seconds, alive):
    """Percent of one core each process used over `seconds`; `alive` is checked at both ends."""
    alive()
    t0 = time.monotonic()
    c0 = {k: cpu_seconds(p) for k, p in pids.items()}
    time.sleep(seconds)
    c1 = {k: cpu_seconds(p) for k, p in pids.items()}
    wall = time.monotonic() - t0
    alive()
    out = {k: round(100 * (c1[k] - c0[k]) / wall, 2) for k in pids}
    out["seconds"] = round(wall, 2)
    return out


# -- the programs --------------------------------------------------------------------------------


def main_window(env, timeout=20.0):
    return wait_until(lambda: (env.x_windows(name="^Tonalis$") or [None])[0], timeout, 0.01,
                      "the Tonalis window")


def first_frame(env, binary, screen, index):
    """Seconds from the spawn to the first grab showing the mapped window painted."""
    t0 = time.monotonic()
    app = env._spawn([str(binary)], f"tonalis-start{index}", cwd=env.run_dir)
    try:
        wid = main_window(env)
        rect = env.x_geometry(wid)
        end = time.monotonic() + 20
        while not painted(screen.grab(rect)):
            if not app.running:
                raise NotMeasured(f"tonalis ended during its start: {app.output()[-400:]}")
            if time.monotonic() > end:
                raise NotMeasured("the Tonalis window showed nothing within 20 s of being mapped")
            time.sleep(0.002)
        return time.monotonic() - t0
    finally:
        app.stop(grace=5.0)


def splash_over(screen, rect):
    """The spectrum shows: the unlit cells' grey covers much of the window's middle."""
    left, top, width, height = rect
    return sum(1 for p in screen.grab((left + 10, top + 10, width - 20, height - 40)) if p == 0x1E1E1E) > 1000


def measure_tonalis(env, binary, screen, seconds, with_memory):
    app = env._spawn([str(binary)], "tonalis", cwd=env.run_dir)
    wid = main_window(env)
    rect = env.x_geometry(wid)
    wait_until(lambda: splash_over(screen, rect) or not app.running, 30, 0.2, "the spectrum after the splash")
    heard_from = time.monotonic()

    def alive():
        if not app.running:
            raise NotMeasured(f"tonalis ended: {app.output()[-400:]}")

    time.sleep(WARM_UP)
    pids = {"program": app.pid, "x": env_process(env, "xvfb"), "compositor": env_process(env, "xcompmgr"),
            "pulseaudio": env_process(env, "pulseaudio")}
    cpu = measure_cpu(pids, seconds, alive)
    mem = None
    if with_memory:
        env.screenshot("tonalis")
        time.sleep(max(0.0, heard_from + MUSIC_HEARD - time.monotonic()))
        alive()
        mem = memory(app.pid)
    app.stop(grace=5.0)
    return cpu, mem


def measure_cava(env, screen, seconds):
    config = env.run_dir / "cava.conf"
    config.write_text(CAVA_CONFIG)
    # An outline font: the bitmap fonts xterm asks for by default may be missing, and with them
    # the block characters the bars are made of.
    term = env._spawn(["xterm", "-fa", "Monospace", "-fs", "10", "-geometry", "100x20", "-e", "cava", "-p",
                       str(config)], "xterm")
    cava = wait_until(lambda: tagged_process(env, "cava") or (None if term.running else -1), 15, 0.1, "cava")
    if cava == -1:
        raise NotMeasured(f"xterm ended before cava started: {term.output()[-400:]}")
    wid = wait_until(lambda: (env.x_windows(cls="^XTerm$") or [None])[0], 15, 0.1, "the xterm window")
    rect = env.x_geometry(wid)
    time.sleep(WARM_UP)

    def alive():
        if not term.running or tagged_process(env, "cava") != cava:
            raise NotMeasured(f"cava is no longer running: {term.output()[-400:]}")

    alive()
    # Music moves the bars: two grabs a moment apart differ when cava hears it and draws.
    first = screen.grab(rect)
    time.sleep(0.5)
    if screen.grab(rect) == first:
        raise NotMeasured("cava's bars do not move with the music")
    pids = {"program": cava, "terminal": term.pid, "x": env_process(env, "xvfb"),
            "compositor": env_process(env, "xcompmgr"), "pulseaudio": env_process(env, "pulseaudio")}
    cpu = measure_cpu(pids, seconds, alive)
    term.stop(grace=5.0)
    return cpu


# -- the run -------------------------------------------------------------------------------------


def median_figures(rounds):
    """Each figure's median over the rounds."""
    return {k: round(statistics.median(r[k] for r in rounds), 2) for k in rounds[0]}


def run(binary, seconds, starts, rounds):
    # Beyond the measured stretches: the starts, the splashes, the warm-ups, the memory wait.
    music_len = starts * 8.0 + rounds * 2 * (WARM_UP + seconds + 8.0) + MUSIC_HEARD + 60.0
    figures = {}
    with LinuxEnv(name="perf-linux-vs-cava", width=WIDTH, height=HEIGHT) as env:
        screen = Screen(env.display)
        try:
            loop = music_mix(8.0)  # the chords go round in 8 s
            music = write_wav(env.run_dir / "music.wav", loop * int(music_len // 8.0 + 1))
            player = env.play_wav(music)
            time.sleep(1.0)
            times = [first_frame(env, binary, screen, i) for i in range(starts)]
            figures["first_frame_s"] = [round(t, 3) for t in times]
            figures["first_frame_median_s"] = round(statistics.median(times), 3)
            # The two in turn, round after round: a burst of the machine's other load falls on
            # one stretch of one program, and the medians leave it out.
            t_rounds, c_rounds = [], []
            for i in range(rounds):
                cpu, mem = measure_tonalis(env, binary, screen, seconds, with_memory=i == 0)
                t_rounds.append(cpu)
                if mem:
                    figures["tonalis_memory_kib"] = mem
                c_rounds.append(measure_cava(env, screen, seconds))
            figures["tonalis_rounds"], figures["cava_rounds"] = t_rounds, c_rounds
            figures["tonalis"], figures["cava"] = median_figures(t_rounds), median_figures(c_rounds)
            if not player.running:
                raise NotMeasured("the music ended before the measurements did")
            player.stop()
        finally:
            screen.close()
    return figures


def total(cpu):
    return cpu["program"] + cpu.get("terminal", 0.0) + cpu["x"] + cpu["compositor"]


def report(figures, seconds, rounds):
    t, c = figures["tonalis"], figures["cava"]
    print(f"CPU, % of one core, median of {rounds} rounds of {seconds:g} s each, music playing, "
          f"{WIDTH} x {HEIGHT}, load average {os.getloadavg()[0]:.1f}")
    print(f"{'':<22}{'program':>9}{'xterm':>8}{'X':>7}{'xcompmgr':>10}{'with X':>9}{'pulse':>8}")
    for label, f in (("tonalis (window)", t), ("cava (24 bars, 36/s)", c)):
        term = f"{f['terminal']:>8.1f}" if "terminal" in f else f"{'-':>8}"
        print(f"{label:<22}{f['program']:>9.1f}{term}{f['x']:>7.1f}{f['compositor']:>10.1f}"
              f"{total(f):>9.1f}{f['pulseaudio']:>8.1f}")
    own_c = c["program"] + c["terminal"]
    ratio = f"{t['program'] / own_c:.2f}" if own_c else "n/a"
    ratio_x = f"{total(t) / total(c):.2f}" if total(c) else "n/a"
    print(f"tonalis / cava: {ratio} (programs; cava with its xterm), {ratio_x} (with X and compositor)")
    per_round = ", ".join(f"{total(a) / total(b):.2f}" if total(b) else "n/a"
                          for a, b in zip(figures["tonalis_rounds"], figures["cava_rounds"]))
    print(f"  with X, round by round: {per_round}")
    # The whole cost of each: with the X server, the compositor and the sound server.
    whole = [total(a) + a["pulseaudio"] for a in figures["tonalis_rounds"]]
    whole_c = [total(b) + b["pulseaudio"] for b in figures["cava_rounds"]]
    ratios = [a / b for a, b in zip(whole, whole_c) if b]
    if ratios:
        print(f"tonalis / cava with X, compositor and sound server: median {statistics.median(ratios):.2f} "
              f"(round by round: {', '.join(f'{r:.2f}' for r in ratios)})")
    starts = ", ".join(f"{s * 1000:.0f}" for s in figures["first_frame_s"])
    print(f"tonalis start to first frame: median {figures['first_frame_median_s'] * 1000:.0f} ms ({starts} ms)")
    mem = figures["tonalis_memory_kib"]
    print(f"tonalis memory after {MUSIC_HEARD:g} s of music: VmRSS {mem['VmRSS'] / 1024:.1f} MiB, "
          f"RssAnon {mem['RssAnon'] / 1024:.1f} MiB")


def measurement_arguments(doc: str, add_options) -> tuple:
    """The options every measurement of the native program takes (--binary, --seconds,
    --rounds, --json) and the script's own (`add_options(parser)`); the binary, or None with
    the reason printed when it has not been built."""
    ap = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--binary", default=str(ROOT / "build/native/src/backend/linux/tonalis"),
                    help="the native program measured (scripts/build native)")
    ap.add_argument("--seconds", type=float, default=10.0, help="length of each measured stretch")
    ap.add_argument("--rounds", type=int, default=3, help="measured stretches, taken in turn")
    ap.add_argument("--json", help="also write the figures to this file")
    add_options(ap)
    args = ap.parse_args()
    binary = Path(args.binary).resolve()
    if not binary.exists():
        print(f"{binary} does not exist: run scripts/build native first", file=sys.stderr)
        return args, None
    return args, binary


def write_figures(path: str, record: dict) -> None:
    out = Path(path)
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(record, indent=2) + "\n")
    print(f"figures written to {out}")


def main():
    args, binary = measurement_arguments(__doc__, lambda ap: ap.add_argument(
        "--starts", type=int, default=3, help="starts timed to the first frame"))
    if binary is None:
        return 1
    try:
        ensure_packages("cava", "xterm")
        figures = run(binary, args.seconds, args.starts, args.rounds)
    except (NotMeasured, E2EError, subprocess.CalledProcessError) as e:
        print(f"not measured: {e}", file=sys.stderr)
        return 1
    report(figures, args.seconds, args.rounds)
    if args.json:
        write_figures(args.json, {"binary": str(binary), "seconds": args.seconds, "rounds": args.rounds,
                                  "screen": [WIDTH, HEIGHT], "figures": figures})
    return 0


if __name__ == "__main__":
    sys.exit(main())
