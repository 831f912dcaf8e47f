"""End-to-end harness: runs the Windows program under Wine in a private virtual desktop.

An `Env` starts, on private sockets and directories under <repo>/.e2e/run-<pid>-<n>/:
  * Xvfb on a free display number (Xvfb picks it: -displayfd), with openbox as window manager
    (or, with monitors=2, an Xorg with the dummy video driver whose screen holds two RandR
    monitors side by side, the second of which a scenario can switch off and on);
  * a PulseAudio server with one null sink, `tonalis_null`, that is the default sink, and its
    monitor as the default source, so a sound played into the sink is what a program records
    (or, with sound=False, no server at all: programs then see no wave-in device);
  * Wine on the shared prefix <repo>/.e2e/wineprefix, created on first use and locked while an
    Env uses it, so two Envs never share a wineserver.
With TONALIS_WINE=10 (scripts/wine10 runs the scenarios so, under Debian 13's Wine 10) runs,
prefix and home are under <repo>/.e2e/wine10/ and screenshots go to out/e2e-wine10/.
Every process it starts carries a tag in its environment; leaving the Env stops them by process
id (and `wineserver -k`), then kills anything still tagged, within a bounded time, also when the
scenario raised or hit its deadline.

Scenarios are functions named test_* in tests/e2e/test_*.py, run by run_all.py; give each a time
bound with @scenario(timeout=...) (or wrap code in `with deadline(seconds):`).

Standard library only.
"""

from __future__ import annotations

import array
import contextlib
import fcntl
import itertools
import json
import math
import os
import random
import re
import select
import shutil
import sys
import signal
import subprocess
import time
import wave
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterable, Optional, Sequence, Union

REPO = Path(__file__).resolve().parents[2]
# The Wine the scenarios run on: 8 (Debian 12's, the default) or 10 (TONALIS_WINE=10, inside the
# Debian 13 root of scripts/wine10). Each keeps its own prefix, home, logs and screenshots.
WINE = int(os.environ.get("TONALIS_WINE", "8"))
E2E_DIR = REPO / ".e2e" / ("wine10" if WINE == 10 else "")
OUT_DIR = REPO / "out" / ("e2e-wine10" if WINE == 10 else "e2e")
PREFIX_DIR = E2E_DIR / "wineprefix"
SINK = "tonalis_null"
SOURCE = SINK + ".monitor"
TRAY_CALLBACK = 0x465
TRAY_ICON_ID = 133

WM_MOUSEMOVE = 0x200
WM_LBUTTONDOWN = 0x201
WM_LBUTTONUP = 0x202
WM_LBUTTONDBLCLK = 0x203
WM_RBUTTONDOWN = 0x204
WM_RBUTTONUP = 0x205
VK_RETURN = 13
VK_ESCAPE = 27

_TAG_VAR = "TONALIS_E2E_TAG"
_PREFIX_READY = ".e2e-ready"
_PREFIX_VERSION = "5"  # bump when _PREFIX_REG changes: an older prefix gets the new settings

# Wine's UI fonts have no Chinese glyphs and a C locale links none: link the installed CJK font
# behind the fonts menus and dialogs use, so the program's Chinese texts render.
_CJK_LINK = "hex(7):" + ",".join(
    f"{b:02x}" for b in "NotoSansCJK-Regular.ttc,Noto Sans CJK SC\0\0"
    .encode("utf-16-le"))
_PREFIX_REG = "Windows Registry Editor Version 5.00\r\n\r\n" + \
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n" + \
    "".join(f'"{face}"={_CJK_LINK}\r\n' for face in (
        "Tahoma", "Tahoma Bold", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Segoe UI",
        "Arial", "Lucida Sans Unicode")) + "\r\n" + \
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n" + \
    "".join(f'"{face}"="WenQuanYi Zen Hei"\r\n' for face in (
        "SimSun", "\u5b8b\u4f53", "NSimSun", "SimHei", "\u9ed1\u4f53", "Microsoft YaHei",
        "\u5fae\u8f6f\u96c5\u9ed1")) + "\r\n"
_run_counter = itertools.count(1)
_live_envs: list["Env"] = []

Color = Union[int, Sequence[int]]  # 0xRRGGBB or (r, g, b)


class E2EError(Exception):
    """The harness could not do what was asked (a server did not start, a tool failed)."""


class Timeout(E2EError):
    """A deadline or a wait ran out."""


# ----------------------------------------------------------------------------------------------
# Time bounds


@contextlib.contextmanager
def deadline(seconds: float, what: str = "scenario"):
    """Raises Timeout in the main thread once `seconds` have passed inside the block.

    Nests: an inner deadline never extends an outer one. Uses SIGALRM, so main thread only.
    """
    outer_handler = signal.getsignal(signal.SIGALRM)
    outer_left = signal.getitimer(signal.ITIMER_REAL)[0]
    start = time.monotonic()
    if outer_left and outer_left <= seconds:
        yield  # the outer deadline comes first and stays in charge
        return

    def on_alarm(signum, frame):
        raise Timeout(f"{what} exceeded its {seconds:g} s deadline")

    signal.signal(signal.SIGALRM, on_alarm)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, outer_handler)
        if outer_left:
            signal.setitimer(signal.ITIMER_REAL, max(outer_left - (time.monotonic() - start), 0.001))


@contextlib.contextmanager
def _alarm_paused():
    """Holds a pending deadline off while cleaning up, and lets it fire afterwards."""
    left = signal.getitimer(signal.ITIMER_REAL)[0]
    signal.setitimer(signal.ITIMER_REAL, 0)
    start = time.monotonic()
    try:
        yield
    finally:
        if left:
            signal.setitimer(signal.ITIMER_REAL, max(left - (time.monotonic() - start), 0.001))


def scenario(timeout: float = 180, wine: Optional[int] = None):
    """Marks a scenario function with its time bound; calling it runs it inside that deadline.
    wine: the oldest Wine the scenario means something on (run_all skips it on an older one)."""

    def wrap(fn: Callable):
        def run(*args, **kwargs):
            with deadline(timeout, fn.__name__):
                return fn(*args, **kwargs)

        run.__name__ = fn.__name__
        run.__doc__ = fn.__doc__
        run.e2e_timeout = timeout
        run.e2e_wine = wine
        run.e2e_scenario = True
        return run

    return wrap


def wait_until(predicate: Callable[[], object], timeout: float, interval: float = 0.1, what: str = "condition"):
    """Polls predicate() until it returns something truthy, and returns that; Timeout otherwise."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= end:
            raise Timeout(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


# ----------------------------------------------------------------------------------------------
# Sound files


def sine(freq: float, seconds: float, amplitude: float = 0.5, rate: int = 48000, phase: float = 0.0) -> list:
    """A sine as floats in -1..1; amplitude is a fraction of full scale."""
    n = int(round(seconds * rate))
    w = 2 * math.pi * freq / rate
    return [amplitude * math.sin(w * i + phase) for i in range(n)]


def silence(seconds: float, rate: int = 48000) -> list:
    return [0.0] * int(round(seconds * rate))


def music_mix(seconds: float, rate: int = 48000, amplitude: float = 0.5, seed: int = 1) -> list:
    """Something like music: a bass line, chords and a hi-hat with note envelopes, plus a little
    noise, so every band moves. Deterministic for a seed. Peaks stay within `amplitude`."""
    rng = random.Random(seed)
    n = int(round(seconds * rate))
    out = [0.0] * n
    beat = int(rate * 0.25)
    roots = [55.0, 65.41, 73.42, 49.0]
    for start in range(0, n, beat):
        step = start // beat
        root = roots[(step // 8) % len(roots)]
        length = min(beat, n - start)
        notes = [(root, 0.45), (root * 4, 0.18), (root * 5, 0.14), (root * 6, 0.12), (root * 16, 0.06)]
        for freq, gain in notes:
            w = 2 * math.pi * freq / rate
            for i in range(length):
                env = math.exp(-3.0 * i / beat)
                out[start + i] += gain * env * math.sin(w * (start + i))
        if step % 2 == 1:  # hi-hat: short noise burst
            for i in range(min(length, beat // 4)):
                out[start + i] += 0.08 * (rng.random() * 2 - 1) * math.exp(-12.0 * i / beat)
    peak = max((abs(v) for v in out), default=0.0) or 1.0
    return [v * amplitude / peak for v in out]


def write_wav(path: Union[str, Path], samples: Iterable[float], rate: int = 48000, channels: int = 1) -> Path:
    """Writes 16-bit PCM, the same samples in each of `channels`; samples are floats in -1..1
    (clipped)."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    data = array.array("h", (int(max(-1.0, min(1.0, v)) * 32767) for v in samples for _ in range(channels)))
    if data.itemsize != 2:
        raise E2EError("array 'h' is not 16-bit here")
    if sys.byteorder != "little":
        data.byteswap()
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(data.tobytes())
    return path


# ----------------------------------------------------------------------------------------------
# Screenshots


@dataclass
class Image:
    """A screenshot: RGB bytes, row-major, top-down; coordinates are root-window pixels."""

    path: Path
    width: int
    height: int
    rgb: bytes

    def pixel(self, x: int, y: int) -> tuple:
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"pixel ({x}, {y}) outside {self.width}x{self.height}")
        i = (y * self.width + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def pixel_hex(self, x: int, y: int) -> int:
        r, g, b = self.pixel(x, y)
        return (r << 16) | (g << 8) | b

    def matches(self, x: int, y: int, color: Color, tol: int = 0) -> bool:
        want = _rgb(color)
        return all(abs(a - b) <= tol for a, b in zip(self.pixel(x, y), want))

    def count(self, rect: Sequence[int], color: Color, tol: int = 0) -> int:
        """Pixels of `color` (within tol per channel) in rect = (left, top, right, bottom), right and
        bottom exclusive, clipped to the image."""
        want = _rgb(color)
        left, top, right, bottom = _clip(rect, self.width, self.height)
        n = 0
        for y in range(top, bottom):
            row = self.rgb[(y * self.width + left) * 3 : (y * self.width + right) * 3]
            for i in range(0, len(row), 3):
                if (
                    abs(row[i] - want[0]) <= tol
                    and abs(row[i + 1] - want[1]) <= tol
                    and abs(row[i + 2] - want[2]) <= tol
                ):
                    n += 1
        return n

    def colors(self, rect: Sequence[int]) -> dict:
        """Histogram {0xRRGGBB: count} of rect."""
        left, top, right, bottom = _clip(rect, self.width, self.height)
        hist: dict = {}
        for y in range(top, bottom):
            row = self.rgb[(y * self.width + left) * 3 : (y * self.width + right) * 3]
            for i in range(0, len(row), 3):
                key = (row[i] << 16) | (row[i + 1] << 8) | row[i + 2]
                hist[key] = hist.get(key, 0) + 1
        return hist

    def mismatches(self, probes: Iterable[tuple], tol: int = 0) -> list:
        """probes: ((x, y), color) pairs. Returns readable descriptions of the ones that differ."""
        bad = []
        for (x, y), color in probes:
            if not self.matches(x, y, color, tol):
                bad.append(f"({x},{y}) is #{self.pixel_hex(x, y):06x}, want #{_hex(color):06x}")
        return bad

    def assert_pixels(self, probes: Iterable[tuple], tol: int = 0) -> None:
        bad = self.mismatches(probes, tol)
        if bad:
            raise AssertionError(f"{len(bad)} pixel(s) differ in {self.path.name}: " + "; ".join(bad[:8]))


def _rgb(color: Color) -> tuple:
    if isinstance(color, int):
        return (color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF
    return tuple(color)


def _hex(color: Color) -> int:
    r, g, b = _rgb(color)
    return (r << 16) | (g << 8) | b


def _clip(rect, width, height):
    left, top, right, bottom = rect
    return max(0, left), max(0, top), min(width, right), min(height, bottom)


def read_image(path: Union[str, Path]) -> Image:
    """Reads any image ImageMagick can read, through a binary PPM."""
    path = Path(path)
    ppm = _run(["convert", str(path), "-depth", "8", "ppm:-"], timeout=60).stdout
    return _parse_ppm(ppm, path)


def _parse_ppm(data: bytes, path: Path) -> Image:
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        if data[pos : pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1  # the single whitespace after maxval
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise E2EError(f"unexpected image format from convert for {path}")
    width, height = int(fields[1]), int(fields[2])
    rgb = data[pos : pos + width * height * 3]
    if len(rgb) != width * height * 3:
        raise E2EError(f"short image data for {path}")
    return Image(path, width, height, bytes(rgb))


# ----------------------------------------------------------------------------------------------
# Processes


def _run(cmd, env=None, timeout=30.0, check=True, cwd=None, input=None) -> subprocess.CompletedProcess:
    try:
        res = subprocess.run(cmd, env=env, cwd=cwd, input=input, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             timeout=timeout, start_new_session=True)
    except subprocess.TimeoutExpired as e:
        raise Timeout(f"{cmd[0]} did not finish within {timeout:g} s") from e
    if check and res.returncode != 0:
        raise E2EError(f"{' '.join(map(str, cmd))} failed ({res.returncode}): {res.stderr.decode(errors='replace')[-600:]}")
    return res


def _pid_alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie is dead for our purposes.
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            return f.read().split(b")")[-1].split()[0] != b"Z"
    except OSError:
        return False


def _become_subreaper() -> None:
    """Wine's servers detach from their parent; as a subreaper this process inherits them, so
    they can be reaped here instead of lingering as zombies of init."""
    try:
        import ctypes

        ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    except (OSError, AttributeError):
        pass


_become_subreaper()
_own_children: set = set()  # pids of Popen objects this module waits for itself


def _reap_orphans() -> None:
    """Collects exited orphans that were reparented to this process."""
    me = str(os.getpid()).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) in _own_children:
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                fields = f.read().rsplit(b")", 1)[1].split()
        except OSError:
            continue
        if fields[1] == me and fields[0] == b"Z":
            with contextlib.suppress(ChildProcessError):
                os.waitpid(int(entry), os.WNOHANG)


def cmdline(pid) -> str:
    """A process's command line, arguments joined by spaces; empty when it is gone."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


def tagged_pids(tag: str) -> list:
    """Processes whose environment carries this Env's tag."""
    _reap_orphans()
    needle = f"{_TAG_VAR}={tag}".encode()
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if needle in f.read().split(b"\0") and _pid_alive(int(entry)):
                    pids.append(int(entry))
        except OSError:
            continue
    return pids


class Proc:
    """A background Unix process started by an Env (its own process group)."""

    def __init__(self, cmd, env, cwd=None, log: Optional[Path] = None, name: str = "", pass_fds=()):
        self.name = name or Path(cmd[0]).name
        self.cmd = list(map(str, cmd))
        self.log = log
        out = open(log, "wb") if log else subprocess.DEVNULL
        try:
            self.popen = subprocess.Popen(self.cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                          stderr=subprocess.STDOUT, start_new_session=True, pass_fds=pass_fds)
        finally:
            if log:
                out.close()
        self.pid = self.popen.pid
        _own_children.add(self.pid)

    def poll(self) -> Optional[int]:
        return self.popen.poll()

    @property
    def running(self) -> bool:
        return self.popen.poll() is None

    def wait(self, timeout: float) -> int:
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired as e:
            raise Timeout(f"{self.name} (pid {self.pid}) still running after {timeout:g} s") from e

    def stop(self, grace: float = 3.0) -> None:
        """SIGTERM to the process group, SIGKILL after `grace` seconds."""
        if self.popen.poll() is not None:
            return
        for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
            try:
                os.killpg(self.pid, sig)
            except ProcessLookupError:
                pass
            try:
                self.popen.wait(wait)
                return
            except subprocess.TimeoutExpired:
                continue

    def output(self) -> str:
        return self.log.read_text(errors="replace") if self.log and self.log.exists() else ""


class WinProcess(Proc):
    """A Windows program running under Wine, in its own working directory."""

    def __init__(self, env: "Env", exe: Path, args, workdir: Path, name: str):
        self.workdir = workdir
        self.exe = exe
        super().__init__(["wine", str(exe), *map(str, args)], env.env, cwd=workdir,
                         log=env.run_dir / f"{name}.out", name=name)

    @property
    def exit_code(self) -> Optional[int]:
        return self.popen.poll()

    def kill(self) -> None:
        self.stop(grace=2.0)

    def wait_output(self, pattern: str, timeout: float = 10.0, after: int = 0) -> re.Match:
        """Waits until the program's stdout/stderr (from character `after` on) matches the regex."""
        rx = re.compile(pattern, re.M)

        def found():
            return rx.search(self.output(), after)

        return wait_until(found, timeout, 0.1, f"{self.name} output /{pattern}/")

    def file(self, name: str = "tonalis.ini") -> Optional[bytes]:
        """A file from the working directory (e.g. the settings the program wrote), or None."""
        p = self.workdir / name
        return p.read_bytes() if p.exists() else None


# ----------------------------------------------------------------------------------------------
# Locating the programs


def tonalis_exe() -> Path:
    """The program under test: $TONALIS_EXE, else the lead's Windows build."""
    p = Path(os.environ.get("TONALIS_EXE", REPO / "build/win64/src/backend/win32/tonalis.exe"))
    if not p.exists():
        raise E2EError(f"{p} does not exist: build the Windows program first")
    return p


def helper_exe(name: str = "winhelper") -> Path:
    """A helper built from tests/e2e: $TONALIS_E2E_HELPERS/<name>.exe, else build/win64/tests/e2e,
    else the newest one in any build/*/tests/e2e."""
    exe = name + ".exe"
    if os.environ.get("TONALIS_E2E_HELPERS"):
        p = Path(os.environ["TONALIS_E2E_HELPERS"]) / exe
        if p.exists():
            return p
    p = REPO / "build/win64/tests/e2e" / exe
    if p.exists():
        return p
    found = sorted((REPO / "build").glob(f"*/tests/e2e/{exe}"), key=lambda q: q.stat().st_mtime, reverse=True)
    if found:
        return found[0]
    raise E2EError(f"{exe} not found: build target {name} in the Windows cross build")


_wine_checked = False


def check_wine_version() -> None:
    """Refuses to run when the installed Wine is not the one TONALIS_WINE names: scenarios that
    check Wine 10's loopback would otherwise fail in ways that look like faults of the program."""
    global _wine_checked
    if _wine_checked:
        return
    out = _run(["wine", "--version"], timeout=30, check=False).stdout.decode(errors="replace").strip()
    m = re.match(r"wine-(\d+)", out)
    if not m or int(m.group(1)) != WINE:
        raise E2EError(f"TONALIS_WINE={WINE} but `wine --version` says {out!r}"
                       + (" (run through scripts/wine10)" if WINE == 10 else ""))
    _wine_checked = True


# ----------------------------------------------------------------------------------------------
# The environment


class Env:
    """Private X display + window manager + sound server + Wine prefix. Use as a context manager.

    width, height, depth: the virtual screen. sound: start the PulseAudio server (False: none, so
    programs find no wave-in device). name: used for screenshot and log names. extra_env: more
    variables for everything started. keep_run_dir: keep logs even when all went well.
    """

    def __init__(self, width: int = 1920, height: int = 1080, depth: int = 24, sound: bool = True,
                 name: str = "e2e", extra_env: Optional[dict] = None, keep_run_dir: bool = False,
                 prefix: Path = PREFIX_DIR, lock_timeout: float = 600.0, log_pixels: Optional[int] = None,
                 monitors: int = 1):
        self.width, self.height, self.depth = width, height, depth
        # monitors=2: the primary monitor of width x height at 0,0 and SECOND_MONITOR right of it
        # (an Xorg with the dummy driver: Xvfb has one monitor only).
        if monitors not in (1, 2):
            raise ValueError("monitors must be 1 or 2")
        self.monitors = monitors
        # log_pixels: the desktop's DPI (HKCU\Control Panel\Desktop\LogPixels; 96 is 100 %), in a
        # prefix of its own made from the common one.
        self.log_pixels = log_pixels
        if log_pixels is not None and prefix == PREFIX_DIR:
            prefix = E2E_DIR / f"wineprefix-dpi{log_pixels}"
        self.sound = sound
        self.name = re.sub(r"[^A-Za-z0-9_.-]", "_", name)
        self.extra_env = dict(extra_env or {})
        self.keep_run_dir = keep_run_dir
        self.prefix = Path(prefix)
        self.lock_timeout = lock_timeout
        # Process ids repeat (each Wine 10 run has its own PID namespace): skip a folder kept
        # from an earlier run.
        self.run_dir = E2E_DIR / f"run-{os.getpid()}-{next(_run_counter)}"
        while self.run_dir.exists():
            self.run_dir = E2E_DIR / f"run-{os.getpid()}-{next(_run_counter)}"
        self.out_dir = OUT_DIR
        self.tag = f"{os.getpid()}-{time.time_ns()}"
        self.display = ""
        self.env: dict = {}
        self.timings: dict = {}
        self._procs: list[Proc] = []
        self._lock_fd: Optional[int] = None
        self._shots = itertools.count(1)
        self._calls = itertools.count(1)
        self._started = False

    # -- lifecycle ------------------------------------------------------------------------------

    def __enter__(self) -> "Env":
        try:
            self.start()
        except BaseException:
            self.stop(failed=True)
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        failed = exc_type is not None
        if failed and self.display:
            with _alarm_paused(), contextlib.suppress(Exception):
                self.screenshot(f"FAILED-{self.name}")
        self.stop(failed=failed)
        return False

    def _begin(self, home: Path, dropped: tuple, own: dict) -> None:
        """The run's folders and environment: a private home, runtime, cache and sound server
        folders, the caller's environment without `dropped` prefixes and DISPLAY, then `own`
        and extra_env. Registers the Env as live (stopped on an interrupt)."""
        _reap_stale_run_dirs()
        self.run_dir.mkdir(parents=True)
        self.out_dir.mkdir(parents=True, exist_ok=True)
        for d in (home, self.run_dir / "xdg", self.run_dir / "pulse", self.run_dir / "cache"):
            d.mkdir(parents=True, exist_ok=True)
            os.chmod(d, 0o700)
        (self.run_dir / "pulse-client.conf").write_text("autospawn = no\n")
        env = {k: v for k, v in os.environ.items() if not k.startswith(dropped)}
        env.pop("DISPLAY", None)
        env.update({
            _TAG_VAR: self.tag,
            "HOME": str(home),
            "XDG_RUNTIME_DIR": str(self.run_dir / "xdg"),
            "XDG_CONFIG_HOME": str(home / ".config"),
            "XDG_CACHE_HOME": str(self.run_dir / "cache"),
            "PULSE_RUNTIME_PATH": str(self.run_dir / "pulse"),
            "PULSE_STATE_PATH": str(self.run_dir / "pulse"),
            "PULSE_CLIENTCONFIG": str(self.run_dir / "pulse-client.conf"),
            # With no server this points nowhere, and autospawn is off: programs see no sound card.
            "PULSE_SERVER": "unix:" + str(self.run_dir / "pulse" / "native"),
        })
        env.update(own)
        env.update(self.extra_env)
        self.env = env
        _live_envs.append(self)
        self._started = True

    def start(self) -> None:
        t0 = time.monotonic()
        check_wine_version()
        self._begin(E2E_DIR / "home", ("PULSE_", "WINE", "XDG_", "DBUS_"), {
            "WINEPREFIX": str(self.prefix),
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        })

        self._start_x()
        self.timings["x"] = time.monotonic() - t0
        if self.sound:
            t = time.monotonic()
            self._start_pulse()
            self.timings["pulse"] = time.monotonic() - t
        t = time.monotonic()
        self._lock_prefix()
        self.timings["prefix_lock"] = time.monotonic() - t
        t = time.monotonic()
        self.timings["prefix_created"] = self._ensure_prefix()
        self.timings["prefix"] = time.monotonic() - t
        t = time.monotonic()
        self._start_session()
        if self.monitors == 2:
            self.wait_wine_monitors(2)
        self.timings["session"] = time.monotonic() - t
        self.timings["start"] = time.monotonic() - t0

    def stop(self, failed: bool = False) -> None:
        """Stops everything this Env started; bounded (about 30 s at worst). Safe to call twice."""
        if not self._started:
            return
        self._started = False
        with _alarm_paused():
            for p in reversed([p for p in self._procs if isinstance(p, WinProcess)]):
                p.stop(grace=1.0)
            if self.prefix.exists():
                with contextlib.suppress(Exception):
                    _run(["wineserver", "-k"], env=self.env, timeout=10, check=False)
                with contextlib.suppress(Exception):
                    _run(["wineserver", "-w"], env=self.env, timeout=10, check=False)
            for p in reversed(self._procs):
                p.stop(grace=3.0)
            self._kill_tagged()
            self._unlock_prefix()
            if self in _live_envs:
                _live_envs.remove(self)
            if not failed and not self.keep_run_dir:
                shutil.rmtree(self.run_dir, ignore_errors=True)
            elif self.run_dir.exists():
                print(f"[e2e] logs kept in {self.run_dir}")

    def _kill_tagged(self) -> None:
        for sig in (signal.SIGTERM, signal.SIGKILL):
            pids = tagged_pids(self.tag)
            if not pids:
                return
            for pid in pids:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, sig)
            with contextlib.suppress(Timeout):
                wait_until(lambda: not tagged_pids(self.tag), 3.0, 0.1, "tagged processes to end")
        left = tagged_pids(self.tag)
        if left:
            raise E2EError(f"processes survived teardown: {left}")

    def leftover_pids(self) -> list:
        """Processes still carrying this Env's tag (empty after a clean stop)."""
        return tagged_pids(self.tag)

    def _spawn(self, cmd, name, cwd=None, pass_fds=()) -> Proc:
        p = Proc(cmd, self.env, cwd=cwd, log=self.run_dir / f"{name}.log", name=name, pass_fds=pass_fds)
        self._procs.append(p)
        return p

    def _start_x(self) -> None:
        if self.monitors == 1:
            cmd = ["Xvfb", "-screen", "0", f"{self.width}x{self.height}x{self.depth}"]
            name = "xvfb"
        else:
            cmd = self._xorg_command()
            name = "xorg"
        r, w = os.pipe()
        try:
            server = self._spawn([*cmd, "-displayfd", str(w), "-nolisten", "tcp", "-noreset"], name, pass_fds=(w,))
            os.close(w)
            w = -1
            buf = b""
            end = time.monotonic() + 15
            while not buf.endswith(b"\n"):
                left = end - time.monotonic()
                if left <= 0 or not server.running:
                    raise E2EError(f"{cmd[0]} did not start: {server.output()[-400:]}")
                ready, _, _ = select.select([r], [], [], left)
                if ready:
                    chunk = os.read(r, 64)
                    if not chunk:
                        raise E2EError(f"{cmd[0]} did not report a display: {server.output()[-400:]}")
                    buf += chunk
        finally:
            os.close(r)
            if w >= 0:
                os.close(w)
        self.display = ":" + buf.decode().strip()
        self.env["DISPLAY"] = self.display
        if self.monitors == 2:
            self.second_monitor(True)
        self._spawn(["openbox", "--sm-disable"], "openbox")
        wait_until(lambda: _run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env, timeout=5,
                                check=False).stdout.find(b"window id") >= 0, 15, 0.1, "openbox")

    # The second monitor of monitors=2: right of the primary, tops aligned.
    SECOND_MONITOR = (1280, 1024)

    def _xorg_command(self) -> list:
        """An Xorg on the dummy driver: one screen wide enough for both monitors, RandR outputs
        DUMMY0 (the primary) and DUMMY1. Two screens with Xinerama would give two heads too, but
        Wine dies in XVidMode on them."""
        if not shutil.which("Xorg"):
            raise E2EError("Xorg is missing (scripts/setup installs it with the dummy driver)")
        w2, h2 = self.SECOND_MONITOR
        conf = self.run_dir / "xorg.conf"
        conf.write_text(f'''Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 131072
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth {self.depth}
  SubSection "Display"
    Depth {self.depth}
    Virtual {self.width + w2} {max(self.height, h2)}
    Modes "{self.width}x{self.height}"
  EndSubSection
EndSection
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
''')
        (self.run_dir / "xorg.conf.d").mkdir(exist_ok=True)
        return ["Xorg", "-config", str(conf), "-configdir", str(self.run_dir / "xorg.conf.d"),
                "-logfile", str(self.run_dir / "xorg-server.log"), "-novtswitch", "-sharevts"]

    def xrandr(self, *args) -> str:
        return _run(["xrandr", *args], env=self.env, timeout=15).stdout.decode()

    def second_monitor(self, on: bool) -> None:
        """Switches the second monitor of monitors=2 on (right of the primary) or off, as a user
        who plugs one in or pulls its cable."""
        if self.monitors != 2:
            raise E2EError("this display has one monitor")
        w2, h2 = self.SECOND_MONITOR
        mode = f"{w2}x{h2}"
        if on:
            if mode not in self.xrandr("--query").split("DUMMY1", 1)[1].split("DUMMY2", 1)[0]:
                self.xrandr("--addmode", "DUMMY1", mode)
            self.xrandr("--output", "DUMMY0", "--primary", "--output", "DUMMY1", "--mode", mode,
                        "--right-of", "DUMMY0")
        else:
            self.xrandr("--output", "DUMMY1", "--off")
        # The driver calls an output connected once it has a mode, but the server learns it only
        # when its outputs are probed: clients that read the outputs without a probe (GDK, Wine)
        # would skip the new monitor until something probed.
        self.xrandr("--query")

    def wait_wine_monitors(self, count: int, timeout: float = 15.0) -> list:
        """Waits until Wine's list of monitors has `count` entries (its desktop takes the X
        server's RandR change about a second later); returns that list."""
        return wait_until(lambda: (found := self.winhelper("monitors")[1]) and len(found) == count and found,
                          timeout, 0.3, f"Wine to see {count} monitor(s)")

    def x_monitors(self) -> list:
        """The X server's monitors as (x, y, width, height), primary first."""
        found = []
        for line in self.xrandr("--listmonitors").splitlines()[1:]:
            m = re.search(r"(\d+)/\d+x(\d+)/\d+\+(\d+)\+(\d+)", line)
            if m:
                found.append((int(m[3]), int(m[4]), int(m[1]), int(m[2])))
        return found

    def _start_pulse(self) -> None:
        sock = self.run_dir / "pulse" / "native"
        self._spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                     "--system=no", "--disallow-exit", "--log-target=stderr",
                     f"--load=module-native-protocol-unix socket={sock} auth-anonymous=1",
                     f"--load=module-null-sink sink_name={SINK} rate=48000"], "pulseaudio")
        wait_until(lambda: self.pactl("info", check=False).returncode == 0, 15, 0.1, "pulseaudio")
        self.pactl("set-default-sink", SINK)
        self.pactl("set-default-source", SOURCE)

    def pactl(self, *args, check=True) -> subprocess.CompletedProcess:
        return _run(["pactl", *args], env=self.env, timeout=10, check=check)

    def _lock_prefix(self) -> None:
        E2E_DIR.mkdir(parents=True, exist_ok=True)
        fd = os.open(str(self.prefix) + ".lock", os.O_CREAT | os.O_RDWR, 0o644)
        end = time.monotonic() + self.lock_timeout
        while True:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > end:
                    os.close(fd)
                    raise Timeout("the Wine prefix stayed locked by another run")
                time.sleep(0.2)
        self._lock_fd = fd

    def _unlock_prefix(self) -> None:
        if self._lock_fd is not None:
            os.close(self._lock_fd)  # releases the flock
            self._lock_fd = None

    def _start_session(self) -> None:
        """Boots the Wine session once, with a program that idles in it until the end: every
        later program starts into a ready session (two programs starting together while the
        session boots can hang), and winhelper calls take a tenth of a second, not seconds."""
        idle = Proc(["wine", str(helper_exe("winhelper")), "idle"], self.env, log=self.run_dir / "session.log",
                    name="session")
        self._procs.append(idle)
        wait_until(lambda: '"idle":true' in idle.output() or not idle.running, 120, 0.05, "the Wine session")
        if not idle.running:
            raise E2EError(f"the Wine session did not start: {idle.output()[-400:]}")

    def _ensure_prefix(self) -> bool:
        """Creates the prefix once (a minute or so; up to 10 at worst) and brings its settings up
        to date; True when it was made now."""
        marker = self.prefix / _PREFIX_READY
        version = marker.read_text().split()[0] if marker.exists() else ""
        wanted = _PREFIX_VERSION + (f"-dpi{self.log_pixels}" if self.log_pixels is not None else "")
        if version == wanted:
            return False
        created = not marker.exists()
        base = PREFIX_DIR
        if created and self.prefix != base and (base / _PREFIX_READY).exists():
            # A copy of the common prefix is much quicker than booting a new one.
            shutil.rmtree(self.prefix, ignore_errors=True)
            shutil.copytree(base, self.prefix, symlinks=True)
            (self.prefix / _PREFIX_READY).unlink()
        elif created:
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.prefix.parent.mkdir(parents=True, exist_ok=True)
            with open(self.run_dir / "wineboot.log", "wb") as log:
                res = subprocess.run(["wineboot", "-i"], env=self.env, stdout=log, stderr=subprocess.STDOUT,
                                     timeout=600, start_new_session=True)
            # The registry reaches the disk when the wineserver exits.
            _run(["wineserver", "-w"], env=self.env, timeout=120, check=False)
            if res.returncode != 0 or not (self.prefix / "system.reg").exists():
                raise E2EError(f"wineboot failed ({res.returncode}); see {self.run_dir / 'wineboot.log'}")
        reg = self.run_dir / "prefix.reg"
        text = _PREFIX_REG
        if self.log_pixels is not None:
            text += ("[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
                     f'"LogPixels"=dword:{self.log_pixels:08x}\r\n\r\n')
        reg.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
        with open(self.run_dir / "regedit.log", "wb") as log:
            res = subprocess.run(["wine", "regedit", "/S", str(reg)], env=self.env, stdout=log,
                                 stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=120,
                                 start_new_session=True)
        if res.returncode != 0:
            raise E2EError(f"regedit failed ({res.returncode}); see {self.run_dir / 'regedit.log'}")
        _run(["wineserver", "-w"], env=self.env, timeout=120, check=False)
        marker.write_text(f"{wanted} created by tests/e2e/harness.py\n")
        return created

    # -- programs -------------------------------------------------------------------------------

    def run_exe(self, exe: Union[str, Path], args: Sequence = (), ini: Union[None, str, bytes] = None,
                workdir: Optional[Path] = None, name: Optional[str] = None,
                files: Optional[dict] = None) -> WinProcess:
        """Starts a Windows program under Wine, in a fresh working directory (or `workdir`).

        ini: content for tonalis.ini there (str is written as GBK, unchanged line ends; bytes as
        is). files: more {name: str|bytes} to put there. Its stdout/stderr go to <name>.out.
        """
        exe = Path(exe).resolve()
        if not exe.exists():
            raise E2EError(f"{exe} does not exist")
        name = name or f"{exe.stem}-{len(self._procs)}"
        workdir = Path(workdir) if workdir else self.run_dir / f"work-{name}"
        workdir.mkdir(parents=True, exist_ok=True)
        all_files = dict(files or {})
        if ini is not None:
            all_files["tonalis.ini"] = ini
        for fname, content in all_files.items():
            (workdir / fname).write_bytes(content.encode("gbk") if isinstance(content, str) else content)
        p = WinProcess(self, exe, args, workdir, name)
        self._procs.append(p)
        return p

    def run_tonalis(self, **kwargs) -> WinProcess:
        """run_exe(tonalis_exe(), **kwargs)"""
        kwargs.setdefault("name", "tonalis")
        return self.run_exe(tonalis_exe(), **kwargs)

    def winhelper(self, *args, timeout: float = 30.0) -> tuple:
        """Runs winhelper.exe with these arguments: (exit code, [parsed JSON lines], stderr)."""
        # Output through files, not pipes: a Wine process started along the way (explorer, a
        # service) would inherit a pipe and keep it open long after winhelper has finished.
        n = next(self._calls)
        out_path, err_path = self.run_dir / f"winhelper-{n}.out", self.run_dir / f"winhelper-{n}.err"
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            p = subprocess.Popen(["wine", str(helper_exe("winhelper")), *map(str, args)], env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=err, start_new_session=True)
        try:
            rc = p.wait(timeout)
        except subprocess.TimeoutExpired as e:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(p.pid, signal.SIGKILL)
            p.wait(5)
            raise Timeout(f"winhelper {' '.join(map(str, args))} did not finish within {timeout:g} s") from e
        stdout, stderr = out_path.read_bytes(), err_path.read_bytes()
        out_path.unlink()
        err_path.unlink()
        res = subprocess.CompletedProcess(p.args, rc, stdout, stderr)
        lines = []
        for line in res.stdout.decode(errors="replace").splitlines():
            line = line.strip()
            if line.startswith("{"):
                lines.append(json.loads(line))
        return res.returncode, lines, res.stderr.decode(errors="replace")

    @staticmethod
    def _select(title, cls, hwnd):
        if hwnd:
            return ["--hwnd", str(hwnd)]
        sel = ["--any-title"] if title is None else ["--title", title]
        sel += ["--any-class"] if cls is None else ["--class", cls]
        return sel

    def find_window(self, title: Optional[str] = "Tonalis", cls: Optional[str] = "#32770",
                    hwnd: Optional[str] = None) -> Optional[dict]:
        """The window's facts (see winhelper find), or None. title/cls None: any."""
        rc, lines, err = self.winhelper(*self._select(title, cls, hwnd), "find")
        if rc == 1:
            return None
        if rc != 0 or not lines:
            raise E2EError(f"winhelper find failed ({rc}): {err.strip()}")
        return lines[0]

    def wait_window(self, title: Optional[str] = "Tonalis", cls: Optional[str] = "#32770", timeout: float = 20.0,
                    hwnd: Optional[str] = None) -> dict:
        """Waits until the window exists and is visible; returns its facts."""
        rc, lines, err = self.winhelper(*self._select(title, cls, hwnd), "--timeout", int(timeout * 1000), "wait",
                                        timeout=timeout + 30)
        if rc != 0 or not lines:
            raise Timeout(f"window {title!r}/{cls!r} not visible within {timeout:g} s (winhelper {rc}: {err.strip()})")
        return lines[0]

    def wait_window_gone(self, title: Optional[str] = "Tonalis", cls: Optional[str] = "#32770",
                         timeout: float = 20.0, hwnd: Optional[str] = None) -> None:
        rc, _, err = self.winhelper(*self._select(title, cls, hwnd), "--timeout", int(timeout * 1000), "wait-gone",
                                    timeout=timeout + 30)
        if rc == 2:
            raise Timeout(f"window {title!r}/{cls!r} still there after {timeout:g} s")
        if rc != 0:
            raise E2EError(f"winhelper wait-gone failed ({rc}): {err.strip()}")

    def list_windows(self, all: bool = False) -> list:
        """Every visible (or every) top-level window, topmost first."""
        rc, lines, err = self.winhelper("list", *(["--all"] if all else []))
        if rc != 0:
            raise E2EError(f"winhelper list failed ({rc}): {err.strip()}")
        return lines

    def _post(self, args, title, cls, hwnd) -> dict:
        rc, lines, err = self.winhelper(*self._select(title, cls, hwnd), *args)
        if rc != 0:
            raise E2EError(f"winhelper {' '.join(map(str, args))} failed ({rc}): {err.strip()}")
        return lines[0] if lines else {}

    def post_close(self, title="Tonalis", cls="#32770", hwnd=None) -> dict:
        return self._post(["close"], title, cls, hwnd)

    def post_command(self, cmd_id: int, title="Tonalis", cls="#32770", hwnd=None) -> dict:
        return self._post(["command", cmd_id], title, cls, hwnd)

    def post_tray(self, mouse_msg: Union[int, str] = WM_RBUTTONUP, title="Tonalis", cls="#32770", hwnd=None) -> dict:
        return self._post(["tray", mouse_msg], title, cls, hwnd)

    def post_key(self, vk: Union[int, str], up: bool = False, title="Tonalis", cls="#32770", hwnd=None) -> dict:
        return self._post(["key", vk, *(["--up"] if up else [])], title, cls, hwnd)

    def post_message(self, msg: int, wparam: int = 0, lparam: int = 0, title="Tonalis", cls="#32770",
                     hwnd=None) -> dict:
        return self._post(["post", msg, wparam, lparam], title, cls, hwnd)

    def wait_menu(self, timeout: float = 10.0) -> dict:
        """The pop-up menu window (class #32768) once shown: its facts, with the screen rectangle."""
        return self.wait_window(None, "#32768", timeout)

    def menu_item_centre(self, menu: dict, layout: str, index: int, item_height: int = 20,
                         separator_height: int = 9, margin: int = 3) -> tuple:
        """Screen centre of item `index` (counting items, not separators) of a shown pop-up menu.

        menu: wait_menu()'s facts. layout: one letter per entry from the top, 'i' an item, '-' a
        separator. The heights are Wine 8's for this prefix's menu font (measured: 20 px items,
        9 px separators, 3 px margin); pass others if a menu uses a different font.
        """
        y = menu["top"] + margin
        seen = -1
        for kind in layout:
            if kind == "-":
                y += separator_height
                continue
            seen += 1
            if seen == index:
                return (menu["left"] + menu["right"]) // 2, y + item_height // 2
            y += item_height
        raise IndexError(f"menu layout {layout!r} has no item {index}")

    def click_menu_item(self, layout: str, index: int, timeout: float = 10.0, **heights) -> None:
        """Waits for the pop-up menu and clicks its item `index` (see menu_item_centre)."""
        x, y = self.menu_item_centre(self.wait_menu(timeout), layout, index, **heights)
        self.mouse_move(x, y)
        time.sleep(0.2)  # let the menu track the hover before the click
        self.click(x, y)

    # -- sound ----------------------------------------------------------------------------------

    def play_wav(self, path: Union[str, Path], wait: bool = False, timeout: float = 120.0, sink: str = SINK,
                 no_remix: bool = False) -> Proc:
        """Plays a WAV file into the null sink (the programs' default input hears it), or into
        `sink`; no_remix: its channels go to the sink's first ones as they are (no upmix)."""
        if not self.sound:
            raise E2EError("this Env has no sound server")
        p = self._spawn(["paplay", f"--device={sink}", *(["--no-remix"] if no_remix else []), str(path)],
                        f"paplay-{len(self._procs)}")
        if wait:
            rc = p.wait(timeout)
            if rc != 0:
                raise E2EError(f"paplay failed ({rc}): {p.output()[-400:]}")
        return p

    def play_samples(self, samples: Sequence[float], rate: int = 48000, wait: bool = False, name: str = "",
                     channels: int = 1, **play) -> Proc:
        """channels > 1: the same samples in every channel. play: play_wav's sink and no_remix."""
        path = write_wav(self.run_dir / f"{name or 'sound'}-{len(self._procs)}.wav", samples, rate, channels)
        return self.play_wav(path, wait=wait, **play)

    def play_tone(self, freq: float, seconds: float, amplitude: float = 0.5, rate: int = 48000,
                  wait: bool = False, **play) -> Proc:
        """play: play_samples' channels, sink and no_remix."""
        return self.play_samples(sine(freq, seconds, amplitude, rate), rate, wait, f"tone{int(freq)}", **play)

    # -- screen ---------------------------------------------------------------------------------

    def screenshot(self, name: Optional[str] = None) -> Image:
        """Saves the root window to out/e2e/<env name>-<n>[-name].png and returns its pixels."""
        n = next(self._shots)
        path = self.out_dir / f"{self.name}-{n:02d}{'-' + name if name else ''}.png"
        _run(["import", "-display", self.display, "-window", "root", str(path)], env=self.env, timeout=30)
        return read_image(path)

    def xdotool(self, *args, timeout: float = 15.0, check: bool = True) -> str:
        return _run(["xdotool", *map(str, args)], env=self.env, timeout=timeout, check=check).stdout.decode().strip()

    def x_windows(self, name: Optional[str] = None, cls: Optional[str] = None, visible: bool = True) -> list:
        """X window ids whose name (or class) matches the regex."""
        args = ["search"] + (["--onlyvisible"] if visible else [])
        args += ["--name", name] if name is not None else ["--class", cls or ""]
        out = self.xdotool(*args, check=False)
        return [int(w) for w in out.split()]

    def x_geometry(self, wid: int) -> tuple:
        """(left, top, width, height) of an X window in root coordinates (inside any frame)."""
        out = _run(["xwininfo", "-id", str(wid)], env=self.env, timeout=10).stdout.decode()

        def field(label):
            return int(re.search(rf"{label}:\s+(-?\d+)", out).group(1))

        return field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")

    def tray_windows(self) -> list:
        """The shown X windows Wine puts tray icons in when there is no desktop tray: Wine 8's
        "Wine System Tray"; Wine 10's is explorer's only shown window and has no X name."""
        if WINE >= 10:
            return self.x_windows(cls="^explorer\\.exe$")
        return self.x_windows(name="^Wine System Tray$")

    def tray_window(self, timeout: float = 20.0) -> int:
        return wait_until(self.tray_windows, timeout, 0.2, "Wine's tray window")[0]

    def let_balloon_clear_the_icon(self, balloon: dict) -> None:
        """Wine 10 shows a balloon over the tray icon, where a click only dismisses it: waits
        for such a balloon to time out before the menu is opened (Wine 8 puts it elsewhere)."""
        x, y = self.tray_icon_centres()[0]
        if balloon["left"] <= x < balloon["right"] and balloon["top"] <= y < balloon["bottom"]:
            wait_until(lambda: balloon["hwnd"] not in {w["hwnd"] for w in self.list_windows()}, 30, 0.5,
                       "the balloon over the tray icon to time out")

    def tray_icon_centres(self, timeout: float = 20.0) -> list:
        """Centres (x, y) of the tray icons, left to right; the icon cells are square, as tall as
        the tray window."""
        left, top, width, height = self.x_geometry(self.tray_window(timeout))
        cells = max(1, width // max(1, height))
        return [(left + i * height + height // 2, top + height // 2) for i in range(cells)]

    def click_tray_icon(self, index: int = 0, button: int = 3, timeout: float = 20.0) -> None:
        """Clicks tray icon `index` (right button by default: the menu)."""
        x, y = self.tray_icon_centres(timeout)[index]
        self.click(x, y, button)

    def mouse_position(self) -> tuple:
        out = self.xdotool("getmouselocation", "--shell")
        vals = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(vals["X"]), int(vals["Y"])

    def mouse_move(self, x: int, y: int) -> None:
        # `mousemove --sync` waits for motion, so it would hang when the pointer is already there.
        if self.mouse_position() != (x, y):
            self.xdotool("mousemove", "--sync", x, y)

    def click(self, x: int, y: int, button: int = 1) -> None:
        self.mouse_move(x, y)
        self.xdotool("click", button)

    def right_click(self, x: int, y: int) -> None:
        self.click(x, y, 3)

    def double_click(self, x: int, y: int, button: int = 1, delay_ms: int = 120) -> None:
        self.mouse_move(x, y)
        self.xdotool("click", "--repeat", 2, "--delay", delay_ms, button)

    def drag(self, x1: int, y1: int, x2: int, y2: int, steps: int = 10, button: int = 1,
             step_delay: float = 0.03) -> None:
        """Presses at (x1, y1), moves in `steps` steps to (x2, y2), releases."""
        self.mouse_move(x1, y1)
        self.xdotool("mousedown", button)
        time.sleep(0.15)
        for i in range(1, steps + 1):
            self.xdotool("mousemove", x1 + (x2 - x1) * i // steps, y1 + (y2 - y1) * i // steps)
            time.sleep(step_delay)
        time.sleep(0.1)
        self.xdotool("mouseup", button)

    def key(self, *keys: str) -> None:
        """X key names (Escape, Return, Down, ctrl+a, ...) to the focused window, in order."""
        self.xdotool("key", "--delay", 60, *keys)


def _reap_stale_run_dirs() -> None:
    """Removes run directories left by runs whose process is gone (logs of a killed run)."""
    if not E2E_DIR.exists():
        return
    for d in E2E_DIR.glob("run-*"):
        m = re.match(r"run-(\d+)-\d+$", d.name)
        if m and not _pid_alive(int(m.group(1))) and (time.time() - d.stat().st_mtime) > 3600:
            shutil.rmtree(d, ignore_errors=True)


def _stop_live_envs(*_args) -> None:
    for env in list(_live_envs):
        with contextlib.suppress(Exception):
            env.stop(failed=True)


import atexit  # noqa: E402  (kept next to its only use)

atexit.register(_stop_live_envs)
