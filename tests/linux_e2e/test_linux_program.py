"""The native Linux program on a virtual desktop: its window and frames, the tray icon's menu
over D-Bus, display modes and transparency through a compositing manager, the About box, a
second start and the exit."""

import signal
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))

from expect import RES, UNLIT, WINDOW_H, WINDOW_W, read_bmp  # noqa: E402
from harness import scenario, wait_until  # noqa: E402
from linux_harness import LinuxEnv  # noqa: E402

GREY = 0x808080  # the bare X root behind every window here (Xvfb's default is this grey)


def start(env):
    app = env.run_tonalis()
    wid = env.main_window()
    env.placed(wid, (50, 50, WINDOW_W, WINDOW_H), "the window at its default place")
    return app, wid


def wait_for_spectrum(env, timeout=15.0, at=(50, 50)):
    """Waits until the splash is over: the unlit cells of the grid of the window at `at` show."""
    grid = (at[0] + 10, at[1] + 10, at[0] + 430, at[1] + 110)
    return wait_until(lambda: (lambda img: img if img.count(grid, UNLIT) > 1000 else None)(
        env.screenshot()), timeout, 0.5, "the spectrum after the splash")


@scenario(timeout=120)
def test_splash_pixel_for_pixel_then_a_tone_lights_its_bars():
    with LinuxEnv(name="linux-frames") as env:
        app, wid = start(env)
        time.sleep(1.0)
        shot = env.screenshot("splash")
        w, h, splash = read_bmp(RES / "169_splash.bmp")
        bad = [(x, y) for y in range(h) for x in range(w)
               if shot.pixel_hex(50 + x, 50 + y) != splash[y * w + x]]
        assert not bad, f"{len(bad)} splash pixels differ, first at {bad[:5]}"
        wait_for_spectrum(env)
        env.play_tone(1000, 8)
        # The 1 kHz band is lit white from its floor up, a band far away is not.
        wait_until(lambda: env.screenshot().count((50 + 300, 60, 50 + 340, 160), 0xFFFFFF) > 300, 10, 0.3,
                   "the 1 kHz bars")
        # The tone's first frames hold the click of its onset, which lights every band a little:
        # the steady tone is judged once that has fallen away.
        time.sleep(1.0)
        img = env.screenshot()
        assert img.count((50 + 300, 60, 50 + 340, 160), 0xFFFFFF) > 300, "the 1 kHz bars went out"
        low = img.count((50 + 20, 60, 50 + 60, 160), 0xFFFFFF)
        assert low < 50, f"{low} white pixels in the low bands while only 1 kHz plays"
        env.screenshot("tone")
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0


@scenario(timeout=120)
def test_at_gdk_scale_2_the_window_is_its_frame_with_every_pixel_doubled():
    with LinuxEnv(name="linux-scale2") as env:
        env.env["GDK_SCALE"] = "2"
        app = env.run_tonalis()
        wid = env.main_window()
        env.placed(wid, (50, 50, 2 * WINDOW_W, 2 * WINDOW_H), "the window at twice its size")
        wait_until(lambda: env.screenshot().count((70, 70, 930, 310), UNLIT) > 4000, 15, 0.5, "the spectrum")
        env.play_tone(1000, 8)
        # The 1 kHz bands (16 to 18) lit at their doubled place, the low ones not.
        wait_until(lambda: env.screenshot().count((50 + 600, 120, 50 + 680, 320), 0xFFFFFF) > 1200, 10, 0.3,
                   "the 1 kHz bars at their doubled place")
        time.sleep(1.0)
        img = env.screenshot("tone")
        assert img.count((50 + 40, 120, 50 + 120, 320), 0xFFFFFF) < 200, "the low bands are lit"
        blended = [(x, y) for y in range(50, 50 + 2 * WINDOW_H, 2) for x in range(50, 50 + 2 * WINDOW_W, 2)
                   if len({img.pixel_hex(x + dx, y + dy) for dx in (0, 1) for dy in (0, 1)}) > 1]
        assert len(blended) < 20, f"{len(blended)} pixels are not 2 x 2 blocks, first at {blended[:5]}"

        # A double-click where only the doubled window reaches: full screen, and back.
        time.sleep(6.5)  # the tone is over
        env.double_click(50 + 2 * WINDOW_W - 30, 50 + WINDOW_H)
        env.placed(wid, (0, 0, env.width, env.height), "full screen after a double-click on the doubled window")
        env.key("Escape")
        env.placed(wid, (50, 50, 2 * WINDOW_W, 2 * WINDOW_H), "the doubled window back after Escape")

        # The About box (GTK's) at about twice the size it has at scale 1: texts, spacing and
        # picture doubled; the theme's own paddings (the button's) are not.
        doubled = about_box_size(env, wid)
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0
        env.env["GDK_SCALE"] = "1"
        app, wid = start(env)
        single = about_box_size(env, wid)
        assert all(abs(d - 2 * s) <= 0.1 * 2 * s for d, s in zip(doubled, single)), \
            f"the About box is {doubled} at scale 2 and {single} at scale 1"
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0


def about_box_size(env, wid):
    """Opens the About box from the tray, returns its (width, height) and closes it."""
    env.click_tray_item(["关于软件"])
    about = wait_until(lambda: [w for w in env.x_windows(name="^Tonalis$") if w != wid], 10, 0.2, "the About box")[0]
    size = wait_until(lambda: (g := env.x_geometry(about))[2] > 1 and g[2:], 5, 0.1, "the About box's size")
    env.screenshot("about")
    env.key("Escape")
    wait_until(lambda: not env.mapped(about), 5, 0.1, "the About box closed by Escape")
    return size


@scenario(timeout=150)
def test_tray_menu_reflects_and_drives_the_window():
    with LinuxEnv(name="linux-tray") as env:
        app, wid = start(env)
        assert "Tonalis" in env.item_property("Title")
        assert "没有合成器" not in env.item_property("Title"), "composited: no note in the tip"
        menu = env.tray_menu()
        labels = [e["label"] for e in menu if e["type"] != "separator"]
        assert labels[:2] == ["连接小板", "隐藏界面"] and labels[-2:] == ["关于软件", "退出"], labels
        mode = {e["label"]: e for e in menu}
        assert mode["窗口显示"]["state"] == 1 and mode["全屏显示"]["state"] != 1
        sources = [c["label"] for c in mode["声音来源"]["children"] if c["type"] != "separator"]
        assert sources[:2] == ["默认录音设备", "正在播放的声音"], sources

        env.click_tray_item(["隐藏界面"])
        wait_until(lambda: not env.mapped(wid), 5, 0.1, "the window hidden")
        assert [e["label"] for e in env.tray_menu()][1] == "显示界面"
        # The icon's activation (a middle click) toggles the window as a double-click does.
        env.secondary_activate()
        wait_until(lambda: env.mapped(wid), 5, 0.1, "the window shown again")
        env.placed(wid, (50, 50, WINDOW_W, WINDOW_H), "the window back where it was")

        env.click_tray_item(["界面置顶"])
        wait_until(lambda: "ABOVE" in env.wm_state(wid), 5, 0.1, "kept above")
        assert {e["label"]: e for e in env.tray_menu()}["界面置顶"]["state"] == 1
        env.click_tray_item(["界面置顶"])
        wait_until(lambda: "ABOVE" not in env.wm_state(wid), 5, 0.1, "no longer kept above")
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0


@scenario(timeout=150)
def test_modes_cover_the_screen_and_the_desktop_strip_lets_clicks_through():
    with LinuxEnv(name="linux-modes") as env:
        app, wid = start(env)
        wait_for_spectrum(env)
        env.double_click(50 + 200, 50 + 60)
        env.placed(wid, (0, 0, env.width, env.height), "full screen after a double-click")
        assert "ABOVE" in env.wm_state(wid)
        env.screenshot("fullscreen")
        env.key("Escape")
        env.placed(wid, (50, 50, WINDOW_W, WINDOW_H), "the window back after Escape")

        env.click_tray_item(["桌面显示"])
        env.placed(wid, (0, 315, env.width, 450), "the desktop strip")
        wait_until(lambda: "BELOW" in env.wm_state(wid), 5, 0.1, "the strip below the other windows")
        # Click-through: the pointer over the strip is the desktop's, not the program's.
        assert env.window_under_pointer(env.width // 2, 315 + 200) == env.root_window()
        img = env.screenshot("desktop")
        assert img.pixel_hex(5, 320) == GREY, "black keyed out: the desktop shows through the strip"
        menu = {e["label"]: e for e in env.tray_menu()}
        assert not menu["界面置顶"]["enabled"] and not menu["鼠标穿透"]["enabled"], "greyed outside Window mode"
        assert menu["桌面显示"]["enabled"] and menu["桌面显示"]["state"] == 1
        env.click_tray_item(["窗口显示"])
        env.placed(wid, (50, 50, WINDOW_W, WINDOW_H), "the window back from the desktop strip")
        assert not env.wm_state(wid) & {"ABOVE", "BELOW"}
        assert env.window_under_pointer(50 + 100, 50 + 40) != env.root_window(), "the window takes clicks again"

        # A drag moves the window; the next start finds it there.
        env.drag(50 + 100, 50 + 40, 50 + 300, 50 + 240)
        env.placed(wid, (250, 250, WINDOW_W, WINDOW_H), "the window dragged by 200, 200")
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0
        ini = (env.run_dir / "home" / ".config" / "tonalis" / "tonalis.ini").read_bytes()
        assert b"xpos 250\r\nypos 250\r\n" in ini, ini[:80]


@scenario(timeout=120)
def test_faded_window_blends_with_what_is_behind():
    with LinuxEnv(name="linux-alpha") as env:
        app, wid = start(env)
        wait_for_spectrum(env)
        env.click_tray_item(["透明设置", "40 %"])  # 140 of 255
        want = tuple((c * 140 + g * 115) // 255 for c, g in zip((0x1E,) * 3, (0x80,) * 3))
        probe = None

        def blended():
            nonlocal probe
            img = env.screenshot()
            hist = img.colors((60, 60, 480, 160))
            probe = max(hist, key=hist.get)  # the unlit cells' colour, most of the grid
            return all(abs(((probe >> s) & 0xFF) - w) <= 2 for s, w in zip((16, 8, 0), want))

        wait_until(blended, 5, 0.3, f"unlit cells blended to {want}")
        env.screenshot("alpha40")
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0


@scenario(timeout=120)
def test_without_a_compositor_every_mode_shows_opaque():
    with LinuxEnv(name="linux-nocomp", composite=False) as env:
        app, wid = start(env)
        wait_for_spectrum(env)
        env.click_tray_item(["透明设置", "去背景"])
        time.sleep(1.0)
        img = env.screenshot("nobackground-opaque")
        assert img.pixel_hex(52, 52) == 0x000000, "no compositor: black stays black instead of see-through"
        assert "没有合成器，透明不可用" in env.item_property("Title"), "the tip says why"
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0


@scenario(timeout=120)
def test_about_box_and_a_second_start():
    with LinuxEnv(name="linux-about") as env:
        app, wid = start(env)
        wait_for_spectrum(env)
        env.click_tray_item(["关于软件"])
        about = wait_until(lambda: [w for w in env.x_windows(name="^Tonalis$") if w != wid], 10, 0.2, "the About box")[0]
        env.screenshot("about")
        env.key("Escape")
        wait_until(lambda: not env.mapped(about), 5, 0.1, "the About box closed by Escape")

        env.click_tray_item(["隐藏界面"])
        wait_until(lambda: not env.mapped(wid), 5, 0.1, "the window hidden")
        second = env.run_tonalis(name="second")
        assert second.wait(10) == 0, second.output()
        wait_until(lambda: env.mapped(wid), 5, 0.1, "the first copy's window shown by the second start")

        # The end of the session (the session manager's SIGTERM) saves and ends at once.
        env.click_tray_item(["频谱颜色", "天空蓝"])
        time.sleep(0.3)
        app.popen.send_signal(signal.SIGTERM)
        started = time.monotonic()
        assert app.wait(10) == 0
        assert time.monotonic() - started < 1.0, "no exit pause at the end of the session"
        ini = (env.run_dir / "home" / ".config" / "tonalis" / "tonalis.ini").read_bytes()
        assert b"color 3\r\n" in ini, ini[:120]


@scenario(timeout=120)
def test_settings_that_cannot_be_saved_are_told_in_a_notification():
    with LinuxEnv(name="linux-notify", notifications=True) as env:
        # A file where the settings folder should be: nothing can be written there.
        config = env.run_dir / "home" / ".config"
        config.mkdir(parents=True, exist_ok=True)
        (config / "tonalis").write_text("not a folder\n")
        app, wid = start(env)
        wait_for_spectrum(env)
        env.click_tray_item(["频谱类型", "长条式"])
        shown = wait_until(lambda: env.notifications_shown(), 10, 0.5, "a notification")
        assert shown[0][0] == "设置未能保存" and "tonalis" in shown[0][1], shown
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0


@scenario(timeout=120)
def test_settings_that_cannot_be_read_are_told_and_never_replaced():
    with LinuxEnv(name="linux-unreadable", notifications=True) as env:
        # A link to itself: there, but no one (root included) can open it, while a save's
        # rename would replace it without a complaint.
        folder = env.run_dir / "home" / ".config" / "tonalis"
        folder.mkdir(parents=True, exist_ok=True)
        ini = folder / "tonalis.ini"
        ini.symlink_to("tonalis.ini")
        app, wid = start(env)
        wait_for_spectrum(env)
        env.click_tray_item(["频谱类型", "长条式"])
        time.sleep(2.5)  # past the save that follows a change by a second
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0
        shown = wait_until(lambda: env.notifications_shown(), 10, 0.5, "a notification")
        assert shown == [("设置未能读取，本次不保存", str(ini))], shown
        assert ini.is_symlink() and str(ini.readlink()) == "tonalis.ini", "tonalis.ini was replaced"
        assert not (folder / "tonalis.ini.tmp").exists()


@scenario(timeout=120)
def test_without_a_sound_server_it_says_so_in_a_message_box_and_ends():
    with LinuxEnv(name="linux-nosound", sound=False) as env:
        app = env.run_tonalis()

        def message_box():
            boxes = [w for w in env.x_windows(name="^Tonalis$") if env.x_geometry(w)[2:] != (WINDOW_W, WINDOW_H)]
            return boxes[0] if boxes else None

        box = wait_until(message_box, 30, 0.2, "the message box")
        assert not [w for w in env.x_windows(name="^Tonalis$") if env.x_geometry(w)[2:] == (WINDOW_W, WINDOW_H)], \
            "the main window shows behind the message"
        assert "DIALOG" in window_type(env, box)
        time.sleep(0.3)  # let the box paint
        env.screenshot("message")
        # Its OK (Return, the default button) ends the program.
        env.xdotool("windowactivate", "--sync", box, check=False)
        env.key("Return")
        assert app.wait(15) is not None
        assert not env.x_windows(name="^Tonalis$"), "a Tonalis window is left"


def window_type(env, wid: int) -> str:
    """The window's _NET_WM_WINDOW_TYPE as xprop prints it."""
    from harness import _run
    return _run(["xprop", "-id", str(wid), "_NET_WM_WINDOW_TYPE"], env=env.env, timeout=10,
                check=False).stdout.decode()


@scenario(timeout=180)
def test_a_chosen_device_that_goes_is_told_and_heard_again_when_it_returns():
    """A chosen source never moves to another device: unloaded, the tip says "（未连接）" while the
    default input stands in; loaded again, its tone is back."""
    load = ["load-module", "module-sine-source", "source_name=tone64", "frequency=64", "rate=48000",
            "source_properties=device.description=Tone64"]
    band1 = (50 + 7 + 18, 60, 50 + 7 + 18 + 16, 160)  # band 1's column, where 64 Hz lands

    def lit():
        return env.screenshot().count(band1, 0xFFFFFF) > 100

    with LinuxEnv(name="linux-device") as env:
        module = env.pactl(*load).stdout.decode().strip()
        app, wid = start(env)
        wait_for_spectrum(env)
        env.click_tray_item(["声音来源", "Tone64"])
        wait_until(lit, 10, 0.2, "the tone of the chosen source")

        start_time = time.monotonic()
        env.pactl("unload-module", module)
        wait_until(lambda: "（未连接）" in env.item_property("Title"), 10, 0.05, "（未连接） in the tip")
        told = time.monotonic() - start_time
        print(f"[device] （未连接） in the tip {told:.2f} s after the device was unloaded")
        wait_until(lambda: not lit(), 10, 0.2, "the bars to fall without the device")
        labels = {c["label"]: c for e in env.tray_menu() if e["label"] == "声音来源" for c in e["children"]}
        absent = [label for label in labels if label.endswith("（未连接）")]
        assert absent and labels[absent[0]]["enabled"] is False, f"the source menu: {sorted(labels)}"

        start_time = time.monotonic()
        env.pactl(*load)
        wait_until(lit, 10, 0.05, "the tone after the device came back")
        back = time.monotonic() - start_time
        print(f"[device] heard again {back:.2f} s after the device was loaded again")
        assert "（未连接）" not in env.item_property("Title")
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0


@scenario(timeout=180)
def test_on_two_monitors_the_strips_follow_the_window_and_leave_a_monitor_that_goes():
    second = (1920, 0) + LinuxEnv.SECOND_MONITOR
    with LinuxEnv(name="linux-two-monitors", monitors=2) as env:
        app, wid = start(env)
        wait_for_spectrum(env)
        # Dragged onto the second monitor, the window is found there at the next start.
        env.drag(50 + 100, 50 + 40, 2300 + 100, 300 + 40, steps=15)
        env.placed(wid, (2300, 300, WINDOW_W, WINDOW_H), "the window dragged onto the second monitor")
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0
        app = env.run_tonalis()
        wid = env.main_window()
        env.placed(wid, (2300, 300, WINDOW_W, WINDOW_H), "the window on the second monitor at the next start")

        # Full screen and the desktop strip cover the monitor the window is on.
        wait_for_spectrum(env, at=(2300, 300))
        env.double_click(2300 + 200, 300 + 60)
        env.placed(wid, second, "full screen on the second monitor")
        env.key("Escape")
        env.placed(wid, (2300, 300, WINDOW_W, WINDOW_H), "the window back after Escape")
        env.click_tray_item(["桌面显示"])
        wait_until(lambda: env.x_geometry(wid)[0::2] == (second[0], second[2]), 5, 0.1, "the desktop strip there")
        env.screenshot("desktop-second")

        # The second monitor goes: the strip moves to the primary one, and the window, when it
        # comes back, is put where it can be seen.
        env.second_monitor(False)
        env.placed(wid, (0, 315, env.width, 450), "the desktop strip on the primary after the monitor went")
        env.screenshot("desktop-primary")
        env.click_tray_item(["窗口显示"])
        x, y, w, h = wait_until(lambda: (g := env.x_geometry(wid))[2] == WINDOW_W and g, 5, 0.1, "the window")
        assert x + w <= env.width and y + h <= env.height, (x, y, w, h)
        env.click_tray_item(["退出"])
        assert app.wait(10) == 0
