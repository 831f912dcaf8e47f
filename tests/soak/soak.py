#!/usr/bin/env python3
"""Leaves tonalis.exe running under Wine in each display mode, music for the first half of the
period and silence for the second, and samples its GDI and USER object counts
(GetGuiResources), handle count and private bytes every interval. Growth from the first
sample after the warm-up to the last must be zero objects and handles and under 1 MB.

Usage: python3 tests/soak/soak.py [--minutes 60] [--interval 60] [--modes window,fullscreen,desktop]
                                  [--parallel]
Not part of scripts/test: the full run takes three hours, or one with --parallel (each mode in
its own display, sound server and Wine prefix, all at once).
"""

import argparse
import json
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import E2E_DIR, PREFIX_DIR, Env, music_mix, write_wav  # noqa: E402

MODE_COMMANDS = {"window": 32835, "fullscreen": 32826, "desktop": 32834}
CMD_EXIT = 32782
MEGABYTE = 1 << 20


def linux_process(env) -> int:
    """The Linux process that runs tonalis.exe in this environment (its X display is ours)."""
    for entry in Path("/proc").iterdir():
        try:
            if b"tonalis.exe" not in (entry / "cmdline").read_bytes():
                continue
            if f"DISPLAY={env.display}".encode() in (entry / "environ").read_bytes().split(b"\0"):
                return int(entry.name)
        except (OSError, ValueError):
            continue
    raise RuntimeError("tonalis.exe is not running")


def sample(env) -> dict:
    """The program's counts as Windows reports them (Wine 8 answers 0 for GetGuiResources and
    for another process's handles and private bytes) and as Linux sees the Wine process:
    anonymous resident memory, open descriptors, threads."""
    rc, lines, err = env.winhelper("--title", "Tonalis", "--class", "#32770", "resources")
    if rc != 0 or not lines:
        raise RuntimeError(f"winhelper resources failed ({rc}): {err.strip()}")
    pid = linux_process(env)
    status = dict(line.split(":", 1) for line in (Path("/proc") / str(pid) / "status").read_text().splitlines())
    kib = lambda key: int(status[key].split()[0]) * 1024
    return dict(lines[0], rss_anon=kib("RssAnon"), fds=len(list((Path("/proc") / str(pid) / "fd").iterdir())),
                threads=int(status["Threads"]))


def soak_mode(mode: str, minutes: float, interval: float, prefix: Path = PREFIX_DIR) -> dict:
    with Env(name=f"soak-{mode}", prefix=prefix) as env:
        app = env.run_tonalis(name="tonalis")
        env.wait_window(timeout=30)
        time.sleep(6)  # the splash period
        env.post_command(MODE_COMMANDS[mode])
        # Music for the first half, a one-minute piece played over and over; then silence.
        clip = env.run_dir / "music.wav"
        write_wav(clip, music_mix(60))
        music_until = time.monotonic() + minutes * 30
        stop = threading.Event()

        def play():
            while not stop.is_set() and time.monotonic() < music_until:
                player = env.play_wav(clip)
                while player.poll() is None and not stop.is_set() and time.monotonic() < music_until:
                    time.sleep(0.5)
                player.stop()

        music = threading.Thread(target=play, daemon=True)
        music.start()
        time.sleep(min(interval, 10))  # warm-up: first frames in the mode, first save
        samples = []
        start = time.monotonic()
        while True:
            s = dict(sample(env), t=round(time.monotonic() - start),
                     sound="music" if time.monotonic() < music_until else "silence")
            samples.append(s)
            print(json.dumps(dict(mode=mode, **s)), flush=True)
            if time.monotonic() - start >= minutes * 60:
                break
            time.sleep(interval)
        stop.set()
        music.join(5)
        env.post_command(CMD_EXIT)
        code = app.wait(20)
    first, last = samples[0], samples[-1]
    growth = {k: last[k] - first[k] for k in ("gdi", "user", "handles", "private", "rss_anon", "fds", "threads")}
    ok = (growth["gdi"] <= 0 and growth["user"] <= 0 and growth["handles"] <= 0 and growth["private"] < MEGABYTE
          and growth["rss_anon"] < MEGABYTE and growth["fds"] <= 0 and growth["threads"] <= 0)
    return dict(mode=mode, samples=len(samples), minutes=minutes, growth=growth, exit=code, ok=ok and code == 0)


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--minutes", type=float, default=60.0, help="per display mode")
    ap.add_argument("--interval", type=float, default=60.0, help="seconds between samples")
    ap.add_argument("--modes", default="window,fullscreen,desktop")
    ap.add_argument("--parallel", action="store_true", help="every mode at once, one prefix each")
    args = ap.parse_args(argv[1:])
    modes = args.modes.split(",")
    if args.parallel:
        results = [None] * len(modes)

        def run(i, mode):
            try:
                results[i] = soak_mode(mode, args.minutes, args.interval, E2E_DIR / f"wineprefix-soak-{mode}")
            except Exception as e:  # one mode failing must not hide the others' figures
                results[i] = dict(mode=mode, error=repr(e), ok=False)

        threads = [threading.Thread(target=run, args=(i, m)) for i, m in enumerate(modes)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    else:
        results = [soak_mode(m, args.minutes, args.interval) for m in modes]
    for r in results:
        print(json.dumps(r), flush=True)
    return 0 if all(r["ok"] for r in results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
