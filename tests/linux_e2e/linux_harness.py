"""End-to-end harness for the native Linux program: the e2e harness's private X display (Xvfb with
openbox), optionally a compositing manager (xcompmgr), a private D-Bus session with a tray watcher
(status-notifier-watcher), and a PulseAudio null sink as the default input; no Wine.

`LinuxEnv` reuses `harness.Env` for the display, the sound server, screenshots and xdotool, and
adds the session bus and the tray: `tray_items()`, `tray_menu()` (the item's menu as a tree of
dicts read with com.canonical.dbusmenu.GetLayout) and `click_tray_item(label path)`.

Standard library only.
"""

from __future__ import annotations

import os
import re
import sys
import time
from pathlib import Path
from typing import Optional, Sequence

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))

import harness  # noqa: E402
from harness import E2EError, REPO, wait_until  # noqa: E402,F401

WATCHER = "org.kde.StatusNotifierWatcher"


def tonalis_binary() -> Path:
    """The program under test: build/native's, or the one TONALIS_LINUX_BINARY names (a
    sanitizer build, say)."""
    path = Path(os.environ.get("TONALIS_LINUX_BINARY") or
                REPO / "build" / "native" / "src" / "backend" / "linux" / "tonalis")
    if not path.exists():
        raise E2EError(f"{path} is missing: run scripts/build native first")
    return path


class LinuxEnv(harness.Env):
    """Xvfb + openbox (+ xcompmgr) + session bus with a tray watcher + PulseAudio. A context manager."""

    def __init__(self, composite: bool = True, tray: bool = True, notifications: bool = False, **kwargs):
        super().__init__(**kwargs)
        self.composite = composite
        self.tray = tray
        self.notifications = notifications

    def start(self) -> None:
        t0 = time.monotonic()
        self._begin(self.run_dir / "home", ("PULSE_", "WINE", "XDG_", "DBUS_", "WAYLAND_", "GDK_", "GTK_"), {
            "GDK_BACKEND": "x11",
            "NO_AT_BRIDGE": "1",
            "LANG": "C.UTF-8",
        })
        self._start_x()
        if self.composite:
            self._spawn(["xcompmgr"], "xcompmgr")
            wait_until(self._composited, 15, 0.1, "xcompmgr")
        self._start_bus()
        if self.sound:
            self._start_pulse()
        self.timings["start"] = time.monotonic() - t0

    def stop(self, failed: bool = False) -> None:
        if not self._started:
            return
        self._started = False
        with harness._alarm_paused():
            for p in reversed(self._procs):
                p.stop(grace=3.0)
            self._kill_tagged()
            if self in harness._live_envs:
                harness._live_envs.remove(self)
            if not failed and not self.keep_run_dir:
                import shutil
                shutil.rmtree(self.run_dir, ignore_errors=True)
            elif self.run_dir.exists():
                print(f"[e2e] logs kept in {self.run_dir}")

    def _composited(self) -> bool:
        """Whether a compositing manager owns the screen's _NET_WM_CM_S0 selection."""
        return selection_owner(self.display, "_NET_WM_CM_S0") != 0

    def _start_bus(self) -> None:
        r, w = os.pipe()
        bus = self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--print-address={w}"],
                          "dbus", pass_fds=(w,))
        os.close(w)
        address = b""
        end = time.monotonic() + 15
        while not address.endswith(b"\n"):
            if time.monotonic() > end or not bus.running:
                os.close(r)
                raise E2EError(f"dbus-daemon did not start: {bus.output()[-400:]}")
            chunk = os.read(r, 256)
            if not chunk:
                break
            address += chunk
        os.close(r)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address.decode().strip()
        if self.tray:
            self._spawn(["status-notifier-watcher"], "watcher")
            wait_until(lambda: self.name_has_owner(WATCHER), 15, 0.1, "the tray watcher")
        if self.notifications:
            self._spawn(["dunst"], "dunst")
            wait_until(lambda: self.name_has_owner("org.freedesktop.Notifications"), 15, 0.1,
                       "the notification service")

    # -- session bus ------------------------------------------------------------------------------

    def run_tool(self, cmd: Sequence[str], timeout: float = 10.0, check: bool = True) -> str:
        """Runs a client of the session's servers (gdbus, xdotool) and returns its output."""
        return harness._run(list(map(str, cmd)), env=self.env, timeout=timeout, check=check).stdout.decode().strip()

    def gdbus(self, *args, timeout: float = 10.0, check: bool = True) -> str:
        return self.run_tool(["gdbus", "call", "--session", *args], timeout, check)

    def name_has_owner(self, name: str) -> bool:
        out = self.gdbus("--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                         "--method", "org.freedesktop.DBus.NameHasOwner", name, check=False)
        return out.startswith("(true")

    def tray_items(self) -> list:
        """The registered tray items as (bus name, object path)."""
        out = self.gdbus("--dest", WATCHER, "--object-path", "/StatusNotifierWatcher", "--method",
                         "org.freedesktop.DBus.Properties.Get", WATCHER, "RegisteredStatusNotifierItems",
                         check=False)
        items = []
        for entry in re.findall(r"'([^']+)'", out):
            bus, _, path = entry.partition("/")
            items.append((bus, "/" + path if path else self._item_path(bus)))
        return items

    def _item_path(self, bus: str) -> str:
        """The object of `bus` that is a StatusNotifierItem (a watcher may list the bus name alone)."""
        out = self.run_tool(["gdbus", "introspect", "--session", "--dest", bus, "--object-path", "/", "--recurse"],
                            check=False)
        path = "/StatusNotifierItem"
        current = []
        for line in out.splitlines():
            m = re.match(r"^(\s*)node (\S+) \{", line)
            if m:
                depth = len(m.group(1)) // 2
                current = current[:depth] + [m.group(2)]
            elif "interface org.kde.StatusNotifierItem" in line and current:
                node = current[-1]
                path = node if node.startswith("/") else "/".join(current).replace("//", "/")
                break
        return path

    def tray_item(self, timeout: float = 20.0) -> tuple:
        return wait_until(lambda: (self.tray_items() or [None])[0], timeout, 0.2, "a tray item")

    def item_property(self, name: str, item: Optional[tuple] = None) -> str:
        bus, path = item or self.tray_item()
        return self.gdbus("--dest", bus, "--object-path", path, "--method", "org.freedesktop.DBus.Properties.Get",
                          "org.kde.StatusNotifierItem", name)

    def _menu_path(self, item: tuple) -> str:
        out = self.item_property("Menu", item)
        m = re.search(r"objectpath '([^']+)'", out)
        if not m:
            raise E2EError(f"the tray item has no menu: {out}")
        return m.group(1)

    def tray_menu(self, item: Optional[tuple] = None, about_to_show: bool = True) -> list:
        """The tray menu as the desktop reads it: a list of {id, label, enabled, toggle, state,
        children}, after telling the program the menu is about to show (as a desktop does)."""
        item = item or self.tray_item()
        path = self._menu_path(item)
        if about_to_show:
            self.gdbus("--dest", item[0], "--object-path", path, "--method", "com.canonical.dbusmenu.AboutToShow", 0)
        # "--" ends the options: the depth -1 would read as one.
        out = self.gdbus("--dest", item[0], "--object-path", path, "--method", "com.canonical.dbusmenu.GetLayout",
                         "--", 0, -1, "[]")
        return parse_layout(out)

    def click_tray_item(self, labels: Sequence[str], item: Optional[tuple] = None) -> None:
        """Chooses the item reached by following `labels` (submenu labels, then the item's)."""
        item = item or self.tray_item()
        entries = self.tray_menu(item)
        found = None
        for label in labels:
            found = next((e for e in entries if e["label"] == label), None)
            if found is None:
                raise E2EError(f"no menu item {label!r} among {[e['label'] for e in entries]}")
            entries = found["children"]
        self.gdbus("--dest", item[0], "--object-path", self._menu_path(item), "--method",
                   "com.canonical.dbusmenu.Event", found["id"], "clicked", "<0>", 0)

    def notifications_shown(self) -> list:
        """(summary, body) of every notification the service has shown, oldest first."""
        import json
        # What is still on screen reaches the history once closed.
        harness._run(["dunstctl", "close-all"], env=self.env, timeout=10, check=False)
        out = harness._run(["dunstctl", "history"], env=self.env, timeout=10, check=False).stdout.decode()
        try:
            shown = [(n["summary"]["data"], n["body"]["data"]) for n in json.loads(out)["data"][0]]
        except (ValueError, KeyError, IndexError):
            return []
        return list(reversed(shown))

    def secondary_activate(self, item: Optional[tuple] = None) -> None:
        bus, path = item or self.tray_item()
        self.gdbus("--dest", bus, "--object-path", path, "--method", "org.kde.StatusNotifierItem.SecondaryActivate",
                   0, 0)

    # -- the program ------------------------------------------------------------------------------

    def run_tonalis(self, args: Sequence[str] = (), workdir: Optional[Path] = None, name: str = "tonalis"):
        workdir = workdir or self.run_dir
        return self._spawn([str(tonalis_binary()), *args], name, cwd=workdir)

    def wm_state(self, wid: int) -> set:
        """The window manager's states of an X window (_NET_WM_STATE_ABOVE -> "ABOVE", ...)."""
        out = harness._run(["xprop", "-id", str(wid), "_NET_WM_STATE"], env=self.env, timeout=10,
                           check=False).stdout.decode()
        return set(re.findall(r"_NET_WM_STATE_(\w+)", out))

    def placed(self, wid: int, rect: tuple, what: str, timeout: float = 5.0) -> tuple:
        """Waits until the window's (left, top, width, height) is `rect`."""
        try:
            return wait_until(lambda: self.x_geometry(wid) == tuple(rect), timeout, 0.1, what)
        except harness.Timeout:
            raise AssertionError(f"{what}: the window is at {self.x_geometry(wid)}, want {tuple(rect)}")

    def window_under_pointer(self, x: int, y: int) -> int:
        """The top-level X window that takes the pointer at (x, y): input shapes count."""
        self.mouse_move(x, y)
        out = self.xdotool("getmouselocation", "--shell")
        return int(dict(line.split("=", 1) for line in out.splitlines() if "=" in line)["WINDOW"])

    def root_window(self) -> int:
        out = harness._run(["xwininfo", "-root"], env=self.env, timeout=10).stdout.decode()
        return int(re.search(r"Window id: (0x[0-9a-f]+)", out).group(1), 16)

    def mapped(self, wid: int) -> bool:
        out = harness._run(["xwininfo", "-id", str(wid)], env=self.env, timeout=10, check=False).stdout.decode()
        return "IsViewable" in out

    def main_window(self, timeout: float = 20.0) -> int:
        return wait_until(lambda: (self.x_windows(name="^Tonalis$") or [None])[0], timeout, 0.2,
                          "the main window")


def selection_owner(display: str, selection: str) -> int:
    """The X window owning `selection` on `display` (0: none), asked through libX11."""
    import ctypes
    import ctypes.util
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XGetSelectionOwner.restype = ctypes.c_ulong
    x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        return 0
    try:
        return int(x11.XGetSelectionOwner(dpy, x11.XInternAtom(dpy, selection.encode(), 0)))
    finally:
        x11.XCloseDisplay(dpy)


def parse_layout(text: str) -> list:
    """Parses gdbus's printing of a dbusmenu layout, (uint32 rev, (id, {props}, [children]))."""
    pos = 0

    def skip():
        nonlocal pos
        while pos < len(text) and text[pos] in " ,":
            pos += 1

    def node():
        # (id, {props}, [<(...)>, ...])
        nonlocal pos
        m = re.compile(r"\((?:int32 )?(-?\d+), ").match(text, pos)
        if not m:
            raise E2EError(f"unexpected layout text at {pos}: {text[pos:pos + 60]!r}")
        ident = int(m.group(1))
        pos = m.end()
        props_start = pos
        depth = 0
        in_str = False
        while True:  # the property dict, up to its closing brace
            c = text[pos]
            if in_str:
                if c == "\\":
                    pos += 1
                elif c == in_str:
                    in_str = False
            elif c in "'\"":
                in_str = c
            elif c == "{":
                depth += 1
            elif c == "}":
                depth -= 1
                if depth == 0:
                    pos += 1
                    break
            pos += 1
        props = text[props_start:pos]
        skip()
        if text.startswith("@av ", pos):  # an empty list carries its type
            pos += 4
        assert text[pos] == "[", text[pos:pos + 40]
        pos += 1
        children = []
        skip()
        while text[pos] != "]":
            assert text[pos] == "<", text[pos:pos + 40]
            pos += 1
            children.append(node())
            assert text[pos] == ">", text[pos:pos + 40]
            pos += 1
            skip()
        pos += 1  # ]
        assert text[pos] == ")", text[pos:pos + 40]
        pos += 1
        return {"id": ident, **_props(props), "children": children}

    start = text.index("(", 1)
    pos = start
    root = node()
    return root["children"]


def _props(text: str) -> dict:
    def value(key, pattern, default):
        m = re.search(r"'" + key + r"': <" + pattern + r">", text)
        return m.group(1) if m else default

    label = value("label", r"'((?:[^'\\]|\\.)*)'", "")
    return {
        "label": label.replace("_", "") if "__" not in label else label.replace("__", "_"),
        "enabled": value("enabled", r"(true|false)", "true") == "true",
        "visible": value("visible", r"(true|false)", "true") == "true",
        "type": value("type", r"'(\w+)'", "standard"),
        "toggle": value("toggle-type", r"'(\w+)'", ""),
        "state": int(value("toggle-state", r"(-?\d+)", "-1")),
        "submenu": "'children-display': <'submenu'>" in text,
    }
