"""The tray menu with no board attached, and the About dialog, driven with real clicks.

Without a board the indicator shows board-off and the menu offers "连接小板"; choosing it
searches, stays disconnected and does not hold up the frames. "关于软件" opens the About dialog
over a spectrum that keeps animating; OK closes it and the settings written at exit are those of
a run that never opened it. The main window's system menu has an About item too; Escape closes
the box it opens.
"""

import time

from expect import UNLIT, asset, cell_rect
from harness import VK_ESCAPE, Env, scenario, wait_until
from screen_read import (activity_image, assert_text, bitmap_mismatches, ink, read_readout,
                         status_row_problems)

# The tray menu from the top: 'i' an item, '-' a separator.
LAYOUT = "ii-iiii-ii-iiiii-ii-i"
CONNECT_ITEM, ABOUT_ITEM = 0, 14
CMD_EXIT = 32782
BOARD_OFF_ID, BOARD_POS = 187, (106, 128)
ABOUT_PICTURE_ID = 188
MAIN_SIZE = (443, 145)
WM_SYSCOMMAND, SYSCOMMAND_ABOUT = 0x0112, 0x10


def start_past_splash(env, name):
    """Starts the program and waits until the spectrum panel replaced the splash; returns the
    process, the main window's facts and its screen origin."""
    app = env.run_tonalis(name=name)
    facts = env.wait_window(timeout=30)
    origin = (facts["left"], facts["top"])
    time.sleep(3.0)  # most of the splash's 4 s
    wait_until(lambda: not status_row_problems(env.screenshot(f"{name}-start"), origin), 15, 0.2,
               "the spectrum panel after the splash")
    return app, facts, origin


def open_tray_menu(env):
    env.click_tray_icon()
    menu = env.wait_menu()
    time.sleep(0.3)  # let it paint
    return menu


def item_rect(env, menu, index):
    """Screen rectangle of a menu item's row, inside the menu's border."""
    _, cy = env.menu_item_centre(menu, LAYOUT, index)
    return menu["left"] + 3, cy - 9, menu["right"] - 3, cy + 9


def close_menu(env):
    env.key("Escape")
    try:
        env.wait_window_gone(None, "#32768", timeout=3)
    except Exception:
        env.click(env.width - 20, env.height - 20)  # a click outside also ends menu tracking
        env.wait_window_gone(None, "#32768", timeout=5)


@scenario(timeout=180)
def test_without_a_board_connect_searches_and_stays_off():
    with Env(name="noboard") as env:
        app, _, origin = start_past_splash(env, "noboard")
        shot = env.screenshot("board-off")
        assert bitmap_mismatches(shot, origin, BOARD_OFF_ID, BOARD_POS) == 0, \
            f"board-off indicator not shown at {BOARD_POS} in {shot.path.name}"

        menu = open_tray_menu(env)
        shot = env.screenshot("menu")
        first = ink(shot, item_rect(env, menu, CONNECT_ITEM))
        assert_text(first, "连接小板", ("断开小板", "隐藏界面", "显示界面"), f"first menu item in {shot.path.name}")

        # Choose it: the search finds nothing, the indicator stays off, the frames keep coming
        # at their pace (the readout is the mean of the last 20 frame intervals).
        env.click_menu_item(LAYOUT, CONNECT_ITEM)
        env.wait_window_gone(None, "#32768", timeout=5)
        readings, activity = [], set()
        end = time.monotonic() + 3.0
        while time.monotonic() < end:
            shot = env.screenshot("after-connect")
            readings.append(read_readout(shot, origin))
            activity.add(activity_image(shot, origin))
            assert bitmap_mismatches(shot, origin, BOARD_OFF_ID, BOARD_POS) == 0, \
                f"board indicator changed after the search in {shot.path.name}"
        assert None not in readings and all(20 <= r <= 45 for r in readings), \
            f"frame-time readout after the search: {readings} ms"
        assert len(activity) > 1, f"the activity indicator stood still: {activity}"

        menu = open_tray_menu(env)
        shot = env.screenshot("menu-again")
        first = ink(shot, item_rect(env, menu, CONNECT_ITEM))
        assert_text(first, "连接小板", ("断开小板", "隐藏界面", "显示界面"), f"first menu item in {shot.path.name}")
        close_menu(env)

        assert app.running
        env.post_command(CMD_EXIT)
        assert app.wait(10) == 0


# ----------------------------------------------------------------------------------------------
# About


def find_bitmap(img, rect, resource_id):
    """Screen position where the bitmap appears 1:1 inside rect, or None."""
    w, h, px = asset(resource_id)
    left, top, right, bottom = rect
    # Probe a few scattered pixels first, then compare every pixel.
    probes = [(x, y) for x, y in ((0, 0), (w - 1, 0), (w // 2, h // 2), (w - 1, h - 1), (w // 3, 2 * h // 3))]
    for y0 in range(top, bottom - h + 1):
        for x0 in range(left, right - w + 1):
            if all(img.matches(x0 + x, y0 + y, px[y * w + x], 2) for x, y in probes):
                if all(img.matches(x0 + x, y0 + y, px[y * w + x], 2) for y in range(h) for x in range(w)):
                    return x0, y0
    return None


def is_blue(rgb):
    r, g, b = rgb
    return b - max(r, g) > 60


def line_groups(rows):
    """Consecutive runs in a sorted list of row numbers, as (first, last) pairs."""
    groups = []
    for y in rows:
        if groups and y <= groups[-1][1] + 2:
            groups[-1][1] = y
        else:
            groups.append([y, y])
    return [tuple(g) for g in groups]


def value_row_problems(img, dlg, bg):
    """The seven value rows (program, author, version, two dates, e-mail, messenger number): each
    must start with the full-width colon, a two-dot mark set off from the control's left edge by
    about half an em, and show the value after it."""
    sx, sy = (dlg["width"] - 2) / 119, (dlg["height"] - 2) / 181
    names = ("program", "author", "version", "created", "modified", "e-mail", "messenger")
    widths = (73, 71, 47, 51, 51, 74, 66)
    problems = []
    for i, (name, width) in enumerate(zip(names, widths)):
        left = dlg["left"] + 1 + round(36 * sx)
        top = dlg["top"] + 1 + round((5 + 10 * i) * sy)
        rect = (left, top, left + round(width * sx), top + round(11 * sy))
        cols = []
        for x in range(rect[0], rect[2]):
            dots = [y for y in range(rect[1], rect[3]) if sum(img.pixel(x, y)) < sum(bg) - 150]
            cols.append(dots)
        inked = [i for i, d in enumerate(cols) if d]
        if not inked:
            problems.append(f"{name} row is empty")
            continue
        # The colon: the first run of marked columns.
        start = inked[0]
        end = start
        while end + 1 < len(cols) and cols[end + 1]:
            end += 1
        colon_rows = sorted({y for d in cols[start:end + 1] for y in d})
        if not (start >= 2 and end - start <= 4 and len(line_groups(colon_rows)) == 2):
            problems.append(f"{name} row does not start with a full-width colon")
        else:
            # The value: marks on the colon's own line, clearly more than a stray dot.
            lo, hi = colon_rows[0] - 3, colon_rows[-1] + 3
            value = [i for i in inked if i > end + 3 and any(lo <= y <= hi for y in cols[i])]
            if len(value) < 5:
                problems.append(f"{name} row shows no value after the colon")
    return problems


def mul_div(a, b, c):
    """Windows' MulDiv for non-negative values: a * b / c rounded half up."""
    return (a * b * 2 + c) // (2 * c)


def text_fit_problems(env, dlg):
    """Every text of the dialog measured in its template font ("MS Shell Dlg", 9 pt) as this
    prefix makes it: the texts that need more room than their control has. The first check
    proves the measuring font is the dialog's: its base units give the dialog's own size."""
    rc, lines, err = env.winhelper("--hwnd", dlg["hwnd"], "text-fit", 9, "MS Shell Dlg")
    assert rc == 0 and lines, f"winhelper text-fit failed ({rc}): {err}"
    font, controls = lines[0], lines[1:]
    size = (mul_div(119, font["base_x"], 4), mul_div(181, font["base_y"], 8))
    assert size == (font["client_width"], font["client_height"]), \
        f"the dialog is not laid out in the measured font {font}: 119 x 181 units make {size}"
    problems = [f"{c['text']!r} needs {c['need_width']}x{c['need_height']}, has {c['width']}x{c['height']}"
                for c in controls if c["need_width"] > c["width"] or c["need_height"] > c["height"]]
    return font, controls, problems


def find_about_window(env, main):
    """The program's dialog window other than its main window, or None."""
    found = [w for w in env.list_windows() if w["class"] == "#32770" and w["hwnd"] != main["hwnd"]
             and w["pid"] == main["pid"]]
    return found[0] if found else None


@scenario(timeout=240)
def test_about_opens_over_a_live_spectrum_and_changes_nothing():
    with Env(name="about") as env:
        # Reference: the settings a run writes when the About box is never opened.
        plain, _, _ = start_past_splash(env, "plain")
        env.post_command(CMD_EXIT)
        assert plain.wait(10) == 0
        reference = plain.file("tonalis.ini")
        assert reference, "the plain run wrote no tonalis.ini"

        app, main, origin = start_past_splash(env, "about")
        open_tray_menu(env)
        env.click_menu_item(LAYOUT, ABOUT_ITEM)

        def about_window():
            return find_about_window(env, main)

        dlg = wait_until(about_window, 10, 0.2, "the About dialog")
        assert (dlg["width"], dlg["height"]) != MAIN_SIZE, dlg
        assert int(dlg["style"], 16) & 0x00C00000 == 0x00800000, f"About has a caption bar: {dlg}"
        time.sleep(0.5)
        shot = env.screenshot("about")
        rect = (dlg["left"], dlg["top"], dlg["right"], dlg["bottom"])
        font, controls, fit_problems = text_fit_problems(env, dlg)
        print("About texts:", font, *controls, sep="\n  ")

        # The picture, 1:1.
        at = find_bitmap(shot, rect, ABOUT_PICTURE_ID)
        assert at, f"the About picture is not shown 1:1 in {shot.path.name}"
        pw, ph, _ = asset(ABOUT_PICTURE_ID)
        picture = (at[0], at[1], at[0] + pw, at[1] + ph)

        # The link: blue, on two lines between the picture and the OK button, the first indented;
        # nothing else in the dialog is blue but the button's focus frame.
        sx, sy = (dlg["width"] - 2) / 119, (dlg["height"] - 2) / 181
        ok_top = dlg["top"] + 1 + round(163 * sy)
        blue = [(x, y) for y in range(rect[1], ok_top - 2) for x in range(rect[0], rect[2])
                if not (picture[0] <= x < picture[2] and picture[1] <= y < picture[3]) and is_blue(shot.pixel(x, y))]
        lines = line_groups(sorted({y for _, y in blue}))
        assert len(lines) == 2 and lines[0][0] >= picture[3], \
            f"the link should be two blue lines below the picture; blue rows {lines} in {shot.path.name}"
        starts = [min(x for x, y in blue if a <= y <= b) for a, b in lines]
        assert starts[0] > starts[1] + 4, f"the link's first line is not indented: line starts {starts}"

        # The spectrum behind keeps animating: a tone in a band the dialog does not cover lights it.
        band = 15  # 832 Hz, bin 26
        l, t, r, b = cell_rect(band, 16)
        bottom_cell = (origin[0] + l, origin[1] + t, origin[0] + r, origin[1] + b)
        assert bottom_cell[0] > dlg["right"], f"band {band} is hidden by the dialog {dlg}"
        assert shot.count(bottom_cell, UNLIT) == 60, f"band {band} lit before the tone in {shot.path.name}"
        env.play_tone(832, 4.0, amplitude=0.3)
        wait_until(lambda: env.screenshot("about-tone").count(bottom_cell, 0xFFFFFF) == 60, 10, 0.1,
                   f"band {band} lit behind the About dialog")
        assert about_window(), "the About dialog closed by itself"

        # OK closes it.
        ok = (dlg["left"] + 1 + round((42 + 13.5) * sx), dlg["top"] + 1 + round((163 + 7) * sy))
        env.click(*ok)
        env.wait_window_gone(hwnd=dlg["hwnd"], timeout=5)
        assert env.find_window(hwnd=main["hwnd"])["visible"], "the main window went away with the dialog"

        env.post_command(CMD_EXIT)
        assert app.wait(10) == 0
        written = app.file("tonalis.ini")
        assert written == reference, f"settings differ after About:\n{written!r}\nvs\n{reference!r}"

        # Last, because they report content problems rather than behaviour: every value row
        # shows its colon and its value, and no text is cut or wrapped out of sight.
        bg = shot.pixel(dlg["left"] + 4, dlg["top"] + 4)
        problems = value_row_problems(shot, dlg, bg)
        assert not problems, f"About value rows in {shot.path.name}: " + "; ".join(problems)
        assert not fit_problems, f"About texts cut in {shot.path.name} ({font['face']}, " \
            f"{font['pixels']} px, base units {font['base_x']} x {font['base_y']}): " + "; ".join(fit_problems)


@scenario(timeout=120)
def test_the_system_menus_about_item_opens_the_box_and_escape_closes_it():
    with Env(name="sysmenu-about") as env:
        app, main, _ = start_past_splash(env, "sysmenu")
        # The item's own command (the low four bits are the system's, and ignored).
        env.post_message(WM_SYSCOMMAND, SYSCOMMAND_ABOUT | 0x3, 0, hwnd=main["hwnd"])
        dlg = wait_until(lambda: find_about_window(env, main), 10, 0.2, "the About dialog from the system menu")
        assert int(dlg["style"], 16) & 0x00C00000 == 0x00800000, f"About has a caption bar: {dlg}"
        env.screenshot("sysmenu-about")
        env.post_key(VK_ESCAPE, hwnd=dlg["hwnd"])
        env.wait_window_gone(hwnd=dlg["hwnd"], timeout=5)
        assert env.find_window(hwnd=main["hwnd"])["visible"], "the main window went away with the dialog"
        env.post_command(CMD_EXIT)
        assert app.wait(10) == 0
