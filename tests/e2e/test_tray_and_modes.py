"""The tray icon and its menu driven by real clicks, and the three display modes on screen.

The menu is opened with a real right-click on the icon in Wine's system tray and its items,
sub-menu items included, are chosen with real clicks; what a choice changes is read back from
the next frames' pixels and from the window's facts (winhelper).
"""

from __future__ import annotations

import subprocess
import time

from expect import UNLIT, WHITE, WINDOW_H, WINDOW_W, asset, cell_centre
from harness import VK_ESCAPE, WM_RBUTTONUP, Env, Image, Timeout, helper_exe, scenario, wait_until

# Top level of the tray menu, one letter per entry: i an item, - a separator.
TOP_LAYOUT = "ii-iiii-ii-iiiii-ii-i"
(BOARD, VISIBILITY, WINDOW_MODE, DESKTOP_MODE, FULL_SCREEN, POSITION_MENU, TOP_MOST, CLICK_THROUGH,
 TRANSPARENCY_MENU, STYLE_MENU, THEME_MENU, SOURCE_MENU, DELAY_MENU, START_WITH_SESSION, ABOUT,
 EXIT) = range(16)
SUB_LAYOUTS = {POSITION_MENU: "iiii", TRANSPARENCY_MENU: "iiiii-ii", STYLE_MENU: "iiiiii", THEME_MENU: "iiiii",
               DELAY_MENU: "iiiiii"}
# Sub-menu entries, by index among the items of their sub-menu.
UPPER, CENTER, LOWER, STRETCH = range(4)
OPAQUE, ALPHA20, ALPHA40, ALPHA60, ALPHA80, NO_BACKGROUND, MINIMAL = range(7)
BLOCK, TOP_BLOCK, BAR, FLOATING, DOTS, WAVEFORM = range(6)
THEME_WHITE, THEME_GREEN, THEME_SKY, THEME_PURPLE, THEME_AUTUMN = range(5)

# Menu metrics of this prefix's menu font (the harness's measured defaults).
ITEM_H, SEPARATOR_H, MARGIN = 20, 9, 3

# Theme colours, 0xRRGGBB.
GREEN_BAR, ORANGE = 0x66CC33, 0xFF6600
SKY_PEAK = 0xF709F7
AUTUMN_BAR = 0xFFFF00

# Style icons: (x, y) in the window, normal and highlighted bitmap ids.
STYLE_ICONS = {BLOCK: ((190, 128), 177, 168), TOP_BLOCK: ((280, 128), 175, 178), BAR: ((250, 128), 176, 137),
               FLOATING: ((220, 128), 171, 139), DOTS: ((310, 128), 183, 182), WAVEFORM: ((340, 128), 185, 184)}
TITLE_LABEL = ((7, 128), 141)
ROOT_COLOUR = 0x2050A0  # the X root behind every window, so colour-keyed pixels show as this

TONE_HZ = 64  # lights band 1 (and its neighbours a little)


# ----------------------------------------------------------------------------------------------
# Reading the screen


def bitmap_probes(origin, resource_id, window=(50, 50), step=3, scale=None):
    """((x, y), colour) probes of an asset bitmap drawn with its top-left at `origin` in the
    window at `window`; scale(colour) maps the expected colour (e.g. a blend)."""
    w, h, px = asset(resource_id)
    out = []
    for y in range(0, h, step):
        for x in range(0, w, step):
            c = px[y * w + x]
            out.append(((window[0] + origin[0] + x, window[1] + origin[1] + y), scale(c) if scale else c))
    return out


def icon_probes(style, lit, window=(50, 50), keyed=False):
    """Probes of a style icon; keyed: black is the colour key, so the root shows there."""
    origin, normal, highlighted = STYLE_ICONS[style]
    return bitmap_probes(origin, highlighted if lit else normal, window,
                         scale=(lambda c: c or ROOT_COLOUR) if keyed else None)


def shows(env, probes, tol=8, timeout=6.0, name=None) -> Image:
    """Waits until a screenshot matches every probe; returns it, or fails with the differences
    of the last one."""
    end = time.monotonic() + timeout
    while True:
        shot = env.screenshot(name)
        bad = shot.mismatches(probes, tol)
        if not bad:
            return shot
        if time.monotonic() >= end:
            raise AssertionError(f"{shot.path.name}: {len(bad)} of {len(probes)} probes differ: " + "; ".join(bad[:6]))
        time.sleep(0.3)


def window_cell(band, row, window=(50, 50)):
    x, y = cell_centre(band, row)
    return window[0] + x, window[1] + y


def unlit_cell_probes(colour, window=(50, 50), bands=(5, 12, 20), rows=(0, 8, 16)):
    return [(window_cell(b, r, window), colour) for b in bands for r in rows]


def wait_for_frames(env, window=(50, 50), timeout=15.0) -> Image:
    """Waits until the splash has given way to spectrum frames (the title label is drawn)."""
    return shows(env, bitmap_probes(*TITLE_LABEL, window=window), timeout=timeout, name="frames")


def set_root_colour(env, colour=ROOT_COLOUR) -> None:
    """Paints the X root (what shows where no window is, or through keyed-out pixels)."""
    subprocess.run(["xsetroot", "-solid", f"#{colour:06x}"], env=env.env, timeout=10, check=True)


def tonalis(env) -> dict:
    facts = env.find_window()
    assert facts is not None, "the Tonalis window is gone"
    return facts


def start(env, **kwargs):
    """Starts the program and waits for its first spectrum frame at (50, 50) unless told otherwise."""
    window = kwargs.pop("window", (50, 50))
    app = env.run_tonalis(**kwargs)
    env.wait_window(timeout=30)
    wait_for_frames(env, window)
    return app


# ----------------------------------------------------------------------------------------------
# The tray menu


def menu_windows(env) -> list:
    return [w for w in env.list_windows() if w["class"] == "#32768"]


def item_rect(menu: dict, layout: str, index: int) -> tuple:
    """(left, top, right, bottom) of item `index` of a shown pop-up menu, screen pixels."""
    x, y = env_free_centre(menu, layout, index)
    return menu["left"] + MARGIN, y - ITEM_H // 2, menu["right"] - MARGIN, y + ITEM_H // 2


def env_free_centre(menu, layout, index):
    y = menu["top"] + MARGIN
    seen = -1
    for kind in layout:
        if kind == "-":
            y += SEPARATOR_H
            continue
        seen += 1
        if seen == index:
            return (menu["left"] + menu["right"]) // 2, y + ITEM_H // 2
        y += ITEM_H
    raise IndexError(f"menu layout {layout!r} has no item {index}")


def open_menu(env, posted=False) -> dict:
    """Right-clicks the tray icon (posted: sends the icon's right-button-up notification
    instead, for when a full-screen window covers the tray); returns the shown menu's facts."""
    assert not menu_windows(env), "a menu is already open"
    if posted:
        env.post_tray(WM_RBUTTONUP)
    else:
        env.click_tray_icon()
    menu = env.wait_menu()
    assert menu["height"] == MARGIN * 2 + ITEM_H * TOP_LAYOUT.count("i") + SEPARATOR_H * TOP_LAYOUT.count("-"), (
        f"the menu is {menu['height']} px tall: not the expected items and separators")
    return menu


def open_submenu(env, menu: dict, index: int) -> dict:
    """Hovers a sub-menu item of the open top menu; returns the sub-menu's facts."""
    x, y = env_free_centre(menu, TOP_LAYOUT, index)
    env.mouse_move(x, y)

    def shown():
        subs = [w for w in menu_windows(env) if w["hwnd"] != menu["hwnd"]]
        return subs[0] if subs else None

    try:
        return wait_until(shown, 5, 0.2, "the sub-menu")
    except Timeout:
        env.click(x, y)  # a click opens it too
        return wait_until(shown, 5, 0.2, "the sub-menu after a click")


def click_item(env, menu: dict, layout: str, index: int) -> None:
    x, y = env_free_centre(menu, layout, index)
    env.mouse_move(x, y)
    time.sleep(0.2)  # let the menu track the hover before the click
    env.click(x, y)
    wait_until(lambda: not menu_windows(env), 5, 0.2, "the menu to close after the click")


def choose(env, index: int, sub_index=None) -> None:
    """Opens the tray menu and clicks a top-level item, or an item of the sub-menu at `index`."""
    menu = open_menu(env)
    if sub_index is None:
        click_item(env, menu, TOP_LAYOUT, index)
    else:
        click_item(env, open_submenu(env, menu, index), SUB_LAYOUTS[index], sub_index)


def close_menus(env, by_key=False) -> None:
    """Dismisses open menus with a click on the empty root, far from every window, or (by_key)
    with an Escape key-down posted to the program's queue, which the menu's loop takes."""
    if menu_windows(env):
        if by_key:
            env.post_key(VK_ESCAPE)
        else:
            env.click(env.width - 5, env.height - 5)
        wait_until(lambda: not menu_windows(env), 5, 0.2, "the menu to close")


def ink(rgb) -> bool:
    """A pixel of (anti-aliased) text or mark on the menu's light background."""
    return max(rgb) < 200


def dark_pixels(shot: Image, rect) -> int:
    return sum(n for c, n in shot.colors(rect).items() if ink(((c >> 16), (c >> 8) & 0xFF, c & 0xFF)))


def checked(shot: Image, menu: dict, layout: str, index: int) -> bool:
    """Whether the check-mark column of a (not highlighted) item shows a mark."""
    left, top, _, bottom = item_rect(menu, layout, index)
    return dark_pixels(shot, (left, top + 2, left + 16, bottom - 2)) > 6


def label(shot: Image, menu: dict, layout: str, index: int) -> bytes:
    """The label area's pixels as dark/light bits: equal for equal texts."""
    left, top, right, bottom = item_rect(menu, layout, index)
    bits = bytearray()
    for y in range(top + 1, bottom - 1):
        for x in range(left + 18, right - 12):
            bits.append(1 if ink(shot.pixel(x, y)) else 0)
    return bytes(bits)


def greyed_items(shot, menu, layout) -> list:
    """Items whose label has no black pixel: drawn in the disabled grey."""
    out = []
    for i in range(layout.count("i")):
        left, top, right, bottom = item_rect(menu, layout, i)
        darkest = min(max(shot.pixel(x, y)) for y in range(top, bottom) for x in range(left + 18, right - 12))
        if darkest >= 100:
            out.append(i)
    return out


def checked_items(shot, menu, layout) -> list:
    return [i for i in range(layout.count("i")) if checked(shot, menu, layout, i)]


# ----------------------------------------------------------------------------------------------
# Scenarios


@scenario(timeout=240)
def test_menu_labels_marks_and_choices_change_the_frame():
    with Env(name="traymenu") as env:
        set_root_colour(env)
        app = start(env)
        shows(env, icon_probes(BLOCK, True) + icon_probes(BAR, False) + unlit_cell_probes(UNLIT))

        # The menu: Chinese labels drawn as real glyphs (four-character labels differ pixel by
        # pixel; missing glyphs would all be the same boxes), "窗口显示" alone checked.
        menu = open_menu(env)
        shot = env.screenshot("menu")
        labels = [label(shot, menu, TOP_LAYOUT, i) for i in (BOARD, VISIBILITY, WINDOW_MODE, DESKTOP_MODE)]
        assert all(sum(b) > 40 for b in labels), f"{shot.path.name}: a label is (nearly) empty"
        assert len(set(labels)) == len(labels), f"{shot.path.name}: labels render alike (missing CJK glyphs?)"
        assert checked_items(shot, menu, TOP_LAYOUT) == [WINDOW_MODE], (
            f"{shot.path.name}: checked {checked_items(shot, menu, TOP_LAYOUT)}, want only 窗口显示")
        assert greyed_items(shot, menu, TOP_LAYOUT) == [], f"{shot.path.name}: greyed {greyed_items(shot, menu, TOP_LAYOUT)}"

        # The sub-menus mark the current style (方块式), theme (经典白), transparency and position.
        for sub, want in ((STYLE_MENU, [BLOCK]), (THEME_MENU, [THEME_WHITE]), (TRANSPARENCY_MENU, [OPAQUE]),
                          (POSITION_MENU, [CENTER])):
            sm = open_submenu(env, menu, sub)
            time.sleep(0.3)
            shot = env.screenshot(f"submenu{sub}")
            got = checked_items(shot, sm, SUB_LAYOUTS[sub])
            assert got == want, f"{shot.path.name}: sub-menu {sub} checks {got}, want {want}"
        close_menus(env)

        # 长条式 (Bar): no unlit cells (black), the Bar icon highlighted, Block's back to normal.
        choose(env, STYLE_MENU, BAR)
        shows(env, icon_probes(BAR, True) + icon_probes(BLOCK, False) + unlit_cell_probes(0x000000), name="bar")

        # 清新绿 (Green) with a tone lighting band 1: its bar in the green, its peak rows orange.
        choose(env, THEME_MENU, THEME_GREEN)
        tone = env.play_tone(TONE_HZ, 20.0, amplitude=0.7)
        shows(env, [(window_cell(1, r), GREEN_BAR) for r in (16, 10, 2)] + [(window_cell(1, r), ORANGE) for r in (0, 1)],
              name="green", timeout=10)
        tone.stop()

        # 去背景 (NoBackground): black is the colour key, so the root shows through the panel.
        choose(env, TRANSPARENCY_MENU, NO_BACKGROUND)
        shows(env, unlit_cell_probes(ROOT_COLOUR) + icon_probes(BAR, True, keyed=True), name="keyed")

        # And the menu now marks the new choices.
        menu = open_menu(env)
        for sub, want in ((STYLE_MENU, [BAR]), (THEME_MENU, [THEME_GREEN]), (TRANSPARENCY_MENU, [NO_BACKGROUND])):
            sm = open_submenu(env, menu, sub)
            time.sleep(0.3)
            shot = env.screenshot(f"marks{sub}")
            got = checked_items(shot, sm, SUB_LAYOUTS[sub])
            assert got == want, f"{shot.path.name}: sub-menu {sub} checks {got}, want {want}"
        close_menus(env)

        choose(env, EXIT)
        assert app.wait(15) == 0




@scenario(timeout=180)
def test_double_click_on_the_icon_hides_and_shows_the_window():
    with Env(name="traydbl") as env:
        app = start(env)
        x, y = env.tray_icon_centres()[0]
        for want in (False, True, False, True):
            env.double_click(x, y)
            wait_until(lambda: tonalis(env)["visible"] == want, 5, 0.2,
                       f"the window {'shown' if want else 'hidden'} after a double-click on the icon")
        facts = tonalis(env)
        assert (facts["left"], facts["top"], facts["width"], facts["height"]) == (50, 50, WINDOW_W, WINDOW_H), facts
        shows(env, bitmap_probes(*TITLE_LABEL) + icon_probes(BLOCK, True), name="shown-again")
        choose(env, EXIT)
        assert app.wait(15) == 0


# 1920 x 1080, Center: the strip's bands start at x 30 and step 78; rows start at y 323 and
# step 25, each 17 high; row 17 (y 748..764) is the floor row.
def strip_band_x(band):
    return 17 + (band + 1) * 13 + band * 65 + 32


def strip_row_y(row, base=315):
    return base + 8 + row * 25 + 8


def placed(env, rect, what):
    """Waits until the window's (left, top, width, height) is `rect`; returns its facts."""
    def check():
        f = tonalis(env)
        return f if (f["left"], f["top"], f["width"], f["height"]) == rect else None

    try:
        return wait_until(check, 5, 0.2, what)
    except Timeout:
        f = tonalis(env)
        raise AssertionError(f"{what}: window at {(f['left'], f['top'], f['width'], f['height'])}, want {rect}")


PROBE_COLOUR = 0x30C060  # the probe window's colour (both halves)
PROBE_LOWER = 1004        # the probe's command: go to the bottom of the stacking order
PROBE_EXIT = 1003
CMD_EXIT = 32782          # the program's 退出


@scenario(timeout=240)
def test_a_click_on_the_desktop_strip_reaches_the_window_below():
    """In Desktop mode the strip lies over the desktop's windows but takes no clicks: a real click
    on a pixel the strip draws (its white floor row) reaches the window under it."""
    with Env(name="desktop-click") as env:
        set_root_colour(env)
        app = start(env)
        choose(env, DESKTOP_MODE)
        placed(env, (0, 315, 1920, 450), "桌面显示")

        # A plain window across the strip's floor row, then sent under everything: under the strip.
        colour = f"{PROBE_COLOUR:06x}"
        probe = env.run_exe(helper_exe("e2e_probe_window"),
                            ["--x", 600, "--y", 700, "--w", 300, "--h", 100, "--normal", "--no-record",
                             "--color", colour, "--color2", colour], name="probe")
        probe.wait_output(r"^window ", 60)
        sel = dict(title="E2E Probe", cls="TonalisE2EProbe")
        env.wait_window(**sel)
        env.post_command(PROBE_LOWER, **sel)
        probe.wait_output(r"^lowered$", 10)
        # Wine keeps a stacking order of its own beside the X server's, where the probe, started
        # last, stays on top: raise the strip over it there too (xdotool has no "lower").
        for wid in env.x_windows(name="^Tonalis$"):
            env.xdotool("windowraise", wid)

        def stacked_under():
            strip, below = tonalis(env), env.find_window(**sel)
            return below if below and below["z"] > strip["z"] else None
        wait_until(stacked_under, 10, 0.2, "the probe window under the strip")

        # What the screen shows there: the strip's floor row drawn over the probe, and the probe
        # through the keyed-out gap above the floor row.
        floor = (strip_band_x(8), strip_row_y(17))
        gap = (strip_band_x(8), strip_row_y(17) - 12)
        shot = shows(env, [(floor, WHITE), (gap, PROBE_COLOUR)], name="desktop-over-probe")

        mark = len(probe.output())
        env.click(*floor)
        try:
            got = probe.wait_output(r"^lbuttondown (\d+) (\d+)$", 10, after=mark)
        except Timeout:
            raise AssertionError(f"a click on the strip's floor row at {floor} did not reach the window "
                                 f"below (see {shot.path.name})") from None
        assert (int(got.group(1)), int(got.group(2))) == floor, f"the window below was clicked at {got.group(0)}"
        assert app.running
        env.post_command(PROBE_EXIT, **sel)
        env.post_command(CMD_EXIT)
        assert app.wait(15) == 0


@scenario(timeout=240)
def test_desktop_full_screen_and_escape():
    with Env(name="modes") as env:
        set_root_colour(env)
        app = start(env)
        floor = [((strip_band_x(b), strip_row_y(17)), WHITE) for b in (0, 11, 23)]

        # 桌面显示: the strip alone at stripTop, click-through, black keyed out so what lies
        # behind (the root here) shows between the cells and around them.
        choose(env, DESKTOP_MODE)
        facts = placed(env, (0, 315, 1920, 450), "桌面显示")
        assert facts["transparent"] and facts["layered"] and not facts["topmost"], facts
        keyed = [((strip_band_x(b), strip_row_y(r)), ROOT_COLOUR) for b in (0, 11, 23) for r in (0, 8, 16)]
        keyed += [((5, 500), ROOT_COLOUR), ((960, 318), ROOT_COLOUR), ((960, 100), ROOT_COLOUR)]
        shows(env, floor + keyed, name="desktop")

        # 窗口显示 restores the window where it was, clickable again.
        choose(env, WINDOW_MODE)
        facts = placed(env, (50, 50, WINDOW_W, WINDOW_H), "窗口显示 after 桌面显示")
        assert not facts["transparent"], facts
        shows(env, bitmap_probes(*TITLE_LABEL) + unlit_cell_probes(UNLIT), name="window")

        # 全屏显示: a topmost, screen-sized window; the strip centred, black around it.
        choose(env, FULL_SCREEN)
        facts = placed(env, (0, 0, 1920, 1080), "全屏显示")
        assert facts["topmost"] and not facts["transparent"], facts
        unlit = [((strip_band_x(b), strip_row_y(r)), UNLIT) for b in (0, 11, 23) for r in (0, 8, 16)]
        black = [((960, 100), 0), ((5, 500), 0), ((960, 1000), 0), ((1915, 500), 0), ((strip_band_x(0), 318), 0)]
        shows(env, floor + unlit + black, name="fullscreen")

        # Escape (a real key press to the focused window) goes back to the window where it was.
        env.key("Escape")
        facts = placed(env, (50, 50, WINDOW_W, WINDOW_H), "Escape in full screen")
        assert not facts["topmost"], facts
        shows(env, bitmap_probes(*TITLE_LABEL) + unlit_cell_probes(UNLIT), name="window-again")

        # Full screen again, and the menu there: 全屏显示 checked. The full-screen window covers
        # the tray (as it covers a taskbar), so this menu opens through the icon's notification
        # message. Last in the scenario: once full screen has had the foreground, Wine confines
        # the pointer with a screen-sized input window that outlives the full-screen mode and
        # can swallow later clicks on the tray.
        choose(env, FULL_SCREEN)
        placed(env, (0, 0, 1920, 1080), "全屏显示 again")
        menu = open_menu(env, posted=True)
        shot = env.screenshot("fullscreen-menu")
        assert checked_items(shot, menu, TOP_LAYOUT) == [FULL_SCREEN], (
            f"{shot.path.name}: checked {checked_items(shot, menu, TOP_LAYOUT)}, want only 全屏显示")
        # Outside Window mode 界面置顶, 鼠标穿透 and the transparencies up to 去背景 are greyed;
        # 精简化 is not.
        assert greyed_items(shot, menu, TOP_LAYOUT) == [TOP_MOST, CLICK_THROUGH], (
            f"{shot.path.name}: greyed {greyed_items(shot, menu, TOP_LAYOUT)}, want 界面置顶 and 鼠标穿透")
        sub = open_submenu(env, menu, TRANSPARENCY_MENU)
        time.sleep(0.3)
        shot = env.screenshot("fullscreen-transparency")
        got = greyed_items(shot, sub, SUB_LAYOUTS[TRANSPARENCY_MENU])
        assert got == [OPAQUE, ALPHA20, ALPHA40, ALPHA60, ALPHA80, NO_BACKGROUND], f"{shot.path.name}: greyed {got}"
        click_item(env, menu, TOP_LAYOUT, EXIT)
        assert app.wait(15) == 0
