"""End-to-end harness for the native Linux program on Wayland: a headless sway (software
rendering, no input devices, no XWayland) on one 1280 x 800 output over a solid colour, grim for
screenshots, swaymsg's cursor commands for the pointer (through a virtual pointer: a compositor
without input devices gives its clients no pointer), wtype for keys, and the Linux harness's
session bus with a tray watcher and PulseAudio null sink. Or a headless weston with XWayland: a
Wayland desktop without layer surfaces, as GNOME's is.

sway will not run as root, so everything the program talks to (sway, the bus, the sound server)
and the program itself run as an ordinary user made for the tests (`useradd` when missing),
in run folders owned by that user; the harness reads them as root.

Standard library only.
"""

from __future__ import annotations

import json
import os
import pwd
import re
import shutil
import time
from pathlib import Path
from typing import Optional, Sequence

import harness
from harness import E2EError, wait_until
from linux_harness import LinuxEnv

USER = "tonalis-e2e"
OUTPUT = "HEADLESS-1"
WIDTH, HEIGHT = 1280, 800
BACKGROUND = 0x336699  # the output's solid background
PROBE_COLOUR = 0xC03020  # the probe window's

# A plain GTK window filled with one colour: another program's window on the desktop.
PROBE_WINDOW = f"""
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
w = Gtk.Window(title="probe")
css = Gtk.CssProvider()
css.load_from_data(b"window {{ background: #{PROBE_COLOUR:06x}; }}")
w.get_style_context().add_provider(css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
w.set_default_size(400, 300)
w.connect("destroy", Gtk.main_quit)
w.show_all()
Gtk.main()
"""


def e2e_user() -> pwd.struct_passwd:
    """The ordinary user the compositor and the program run as, made when missing."""
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        pass
    if os.geteuid() != 0:
        raise E2EError(f"sway refuses root and the user {USER} is missing: run as root once to make it")
    harness._run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", USER], timeout=30)
    return pwd.getpwnam(USER)


def virtual_pointer() -> Path:
    """The virtual pointer helper, built from its source next to this file when missing or older."""
    source = Path(__file__).resolve().parent / "virtual_pointer.c"
    exe = harness.E2E_DIR / "virtual_pointer"
    if not exe.exists() or exe.stat().st_mtime < source.stat().st_mtime:
        harness.E2E_DIR.mkdir(parents=True, exist_ok=True)
        flags = harness._run(["pkg-config", "--cflags", "--libs", "wayland-client"], timeout=30).stdout.decode().split()
        harness._run(["cc", "-O1", "-o", str(exe), str(source), *flags], timeout=120)
        os.chmod(exe, 0o755)
    return exe


class WaylandEnv(LinuxEnv):
    """Headless sway + session bus with a tray watcher + PulseAudio, all as the test user.
    `probe_place`: where the probe window floats (left, top, width, height)."""

    def __init__(self, name: str = "wayland", probe_place: Sequence[int] = (100, 400, 400, 300),
                 compositor: str = "sway", scale: int = 1, **kwargs):
        super().__init__(composite=False, name=name, width=WIDTH, height=HEIGHT, **kwargs)
        self.probe_place = probe_place
        self.compositor = compositor
        self.scale = scale
        self.user = e2e_user()
        self.display = ""

    def start(self) -> None:
        t0 = time.monotonic()
        home = self.run_dir / "home"
        self._begin(home, ("PULSE_", "WINE", "XDG_", "DBUS_", "WAYLAND_", "GDK_", "GTK_", "SWAYSOCK", "I3SOCK"), {
            "NO_AT_BRIDGE": "1",
            "LANG": "C.UTF-8",
            "WLR_BACKENDS": "headless",
            "WLR_LIBINPUT_NO_DEVICES": "1",
            "WLR_RENDERER": "pixman",
        })
        self.env.pop("DISPLAY", None)
        # The user's: its runtime folder (0700, as sway wants), home, cache and sound server.
        os.chmod(self.run_dir, 0o711)
        for d in (home, self.run_dir / "xdg", self.run_dir / "pulse", self.run_dir / "cache"):
            os.chown(d, self.user.pw_uid, self.user.pw_gid)
        config = self.run_dir / "sway.conf"
        x, y, w, h = self.probe_place
        config.write_text(
            f"output {OUTPUT} mode {WIDTH * self.scale}x{HEIGHT * self.scale} scale {self.scale} position 0 0 "
            f"bg #{BACKGROUND:06x} solid_color\n"
            "xwayland disable\n"
            "default_border none\n"
            "focus_follows_mouse no\n"
            f'for_window [title="^probe$"] floating enable, resize set {w} {h}, move position {x} {y}\n')
        os.chmod(config, 0o644)
        if self.compositor == "weston":
            self._start_weston()
        else:
            self._start_sway(config)
        self._start_bus()
        if self.sound:
            self._start_pulse()
        self.timings["start"] = time.monotonic() - t0

    def _as_user(self) -> list:
        # setpriv keeps the environment as it is (runuser would reset HOME and the rest).
        return ["setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}", "--clear-groups", "--"]

    def _spawn(self, cmd, name, cwd=None, pass_fds=()):
        return super()._spawn(self._as_user() + list(map(str, cmd)), name, cwd=cwd, pass_fds=pass_fds)

    def _start_sway(self, config: Path) -> None:
        sway = self._spawn(["sway", "-c", config], "sway")
        xdg = self.run_dir / "xdg"

        def ready():
            if not sway.running:
                raise E2EError(f"sway ended: {sway.output()[-600:]}")
            sockets = [p for p in xdg.glob("wayland-*") if not p.name.endswith(".lock")]
            ipc = list(xdg.glob("sway-ipc.*.sock"))
            return (sockets[0], ipc[0]) if sockets and ipc else None

        socket, ipc = wait_until(ready, 20, 0.1, "sway")
        self.env["WAYLAND_DISPLAY"] = socket.name
        self.env["SWAYSOCK"] = str(ipc)
        self.display = socket.name  # a screen to take a picture of when a scenario fails
        wait_until(lambda: self.outputs(), 10, 0.1, "sway's output")
        pointer = self._spawn([virtual_pointer()], "virtual-pointer")
        wait_until(lambda: "ready" in pointer.output() or not pointer.running, 10, 0.1, "the virtual pointer")
        if not pointer.running:
            raise E2EError(f"no virtual pointer: {pointer.output()[-400:]}")

    def _start_weston(self) -> None:
        weston = self._spawn(["weston", "--backend=headless-backend.so", f"--width={WIDTH}", f"--height={HEIGHT}",
                              "--socket=wayland-1", "--xwayland", "--idle-time=0"], "weston")

        def ready():
            if not weston.running:
                raise E2EError(f"weston ended: {weston.output()[-600:]}")
            m = re.search(r"xserver listening on display (:\d+)", weston.output())
            return m and (self.run_dir / "xdg" / "wayland-1").exists() and m.group(1)

        self.env["WAYLAND_DISPLAY"] = "wayland-1"
        self.env["DISPLAY"] = wait_until(ready, 20, 0.1, "weston with XWayland")
        self.display = self.env["DISPLAY"]

    # -- the compositor ---------------------------------------------------------------------------

    def swaymsg(self, *args, check: bool = True) -> str:
        return harness._run(["swaymsg", *map(str, args)], env=self.env, timeout=10,
                            check=check).stdout.decode()

    def outputs(self) -> list:
        try:
            return json.loads(self.swaymsg("-t", "get_outputs", "-r", check=False) or "[]")
        except ValueError:
            return []

    def views(self) -> list:
        """The windows sway shows (not layer surfaces): dicts of name, app_id, rect."""
        found = []

        def walk(node):
            if node.get("type") in ("con", "floating_con") and node.get("pid"):
                found.append(node)
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)

        walk(json.loads(self.swaymsg("-t", "get_tree", "-r")))
        return found

    def add_output(self, left: int, top: int = 0) -> str:
        """A second headless output of the same size, at (left, top) of the layout: its name."""
        before = {o["name"] for o in self.outputs()}
        self.swaymsg("create_output")
        name = wait_until(lambda: ({o["name"] for o in self.outputs()} - before or {None}).pop(), 10, 0.1,
                          "the new output")
        self.swaymsg("output", name, "mode", f"{WIDTH}x{HEIGHT}", "position", left, top,
                     "bg", f"#{BACKGROUND:06x}", "solid_color")
        wait_until(lambda: [o for o in self.outputs() if o["name"] == name and o["rect"]["x"] == left], 10, 0.1,
                   "the new output in its place")
        return name

    def screenshot(self, name: Optional[str] = None, output: str = OUTPUT) -> harness.Image:
        n = next(self._shots)
        path = self.out_dir / f"{self.name}-{n:02d}{'-' + name if name else ''}.png"
        harness._run(["grim", "-o", output, str(path)], env=self.env, timeout=30)
        return harness.read_image(path)

    def click(self, x: int, y: int, double: bool = False) -> None:
        self.swaymsg("seat", "-", "cursor", "set", x, y)
        for _ in range(2 if double else 1):
            self.swaymsg("seat", "-", "cursor", "press", "button1")
            self.swaymsg("seat", "-", "cursor", "release", "button1")

    def key(self, name: str) -> None:
        """A key pressed and released on a virtual keyboard (to whatever has the keyboard)."""
        # The keyboard comes and goes with wtype: pauses let a client take its keymap before the
        # key, and the release before the keyboard is gone.
        harness._run(["wtype", "-s", "300", "-k", name, "-s", "300"], env=self.env, timeout=10)

    def run_probe_window(self):
        python = shutil.which("python3", path="/usr/bin:/bin") or "python3"
        probe = self._spawn([python, "-c", PROBE_WINDOW], "probe")
        wait_until(lambda: [v for v in self.views() if v.get("name") == "probe"], 15, 0.2, "the probe window")
        return probe

    # -- the servers are the user's, and so are their clients ------------------------------------

    def run_tool(self, cmd: Sequence[str], timeout: float = 10.0, check: bool = True) -> str:
        return harness._run(self._as_user() + list(map(str, cmd)), env=self.env, timeout=timeout,
                            check=check).stdout.decode().strip()

    def xdotool(self, *args, timeout: float = 15.0, check: bool = True) -> str:
        # XWayland lets in its own user only.
        return self.run_tool(["xdotool", *args], timeout, check)

    # -- the program -------------------------------------------------------------------------------

    def write_settings(self, ini: bytes) -> None:
        folder = self.run_dir / "home" / ".config" / "tonalis"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "tonalis.ini").write_bytes(ini)
        for p in (folder.parent, folder, folder / "tonalis.ini"):
            os.chown(p, self.user.pw_uid, self.user.pw_gid)

    def settings(self) -> bytes:
        return (self.run_dir / "home" / ".config" / "tonalis" / "tonalis.ini").read_bytes()

    def run_tonalis(self, args: Sequence[str] = (), workdir: Optional[Path] = None, name: str = "tonalis",
                    debug: bool = True):
        """The program with its Wayland requests and events logged (WAYLAND_DEBUG) to its log."""
        saved = dict(self.env)
        if debug:
            self.env["WAYLAND_DEBUG"] = "1"
        try:
            return super().run_tonalis(args, workdir, name)
        finally:
            self.env = saved


def requests(log: str, pattern: str) -> list:
    """The lines of a WAYLAND_DEBUG log that match the regex, in order."""
    rx = re.compile(pattern)
    return [line for line in log.splitlines() if rx.search(line)]
