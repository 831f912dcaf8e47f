"""The program on a scaled desktop (Wine's LogPixels at 120, 144 and 192 dpi): the window at the
scaled size, at rest exactly the window tonalis-render draws at that scale, a tone lighting the
right cells at their scaled places, the status row's art scaled by nearest neighbour, a
double-click on the scaled window, the tray icon's size and the About box whole (larger by the
scale, laid out in the scaled font, nothing of it cut). At 192 dpi the window is the 100 %
picture with every pixel doubled."""

import subprocess
import tempfile
import time
from pathlib import Path

from expect import RED, UNLIT, WHITE, WINDOW_H, WINDOW_W, asset
from harness import REPO, VK_ESCAPE, Env, read_image, scenario, silence, sine, wait_until, write_wav
from test_board_and_about import (ABOUT_PICTURE_ID, SYSCOMMAND_ABOUT, WM_SYSCOMMAND, find_about_window,
                                  find_bitmap, is_blue, mul_div, text_fit_problems, value_row_problems)
from test_tray_and_modes import placed, tonalis

ROWS, BANDS = 17, 24
LOUD = 0.9
BLOCK_LIT_ICON = 168  # the current style's highlighted icon, at (190, 128) at 100 %
RENDER = REPO / "build" / "native" / "tools" / "tonalis_render" / "tonalis-render"
# The status row's parts that live on their own even in silence, at 100 %: the activity
# indicator and the frame-time readout's digits.
LIVE_PARTS = ((370, 128, 382, 141), (387, 131, 404, 138))
ABOUT_AT_96 = (210, 387)  # the About box's window at 96 dpi (119 x 181 dialog units in a 12 px font)


def geometry(dpi):
    """The scaled window's cell geometry, as the program lays it out (see render/window_scale)."""
    p = dpi * 100 // 96

    def half_up(n):
        return (n * p + 50) // 100

    def half_down(n):
        return (n * p + 49) // 100

    w, h = half_up(WINDOW_W), half_up(WINDOW_H)
    bw = half_up(15)
    bp = max(half_down(18), bw + 1)
    x0 = (w - (23 * bp + bw)) // 2
    rh = half_up(4)
    rp = max(half_down(6), rh + 1)
    y0 = (116 * p - 100 * (16 * rp + rh) + 100) // 200
    return dict(w=w, h=h, bw=bw, bp=bp, x0=x0, rh=rh, rp=rp, y0=y0, p=p)


def scaled_cell(g, band, row):
    x = g["x0"] + band * g["bp"]
    y = g["y0"] + row * g["rp"]
    return x, y, x + g["bw"], y + g["rh"]


def cell_colour(img, origin, g, band, row):
    l, t, r, b = scaled_cell(g, band, row)
    hist = img.colors((origin[0] + l, origin[1] + t, origin[0] + r, origin[1] + b))
    colour = max(hist, key=hist.get)
    return colour if hist[colour] == (r - l) * (b - t) else None


def lit_rows(img, origin, g, band):
    n = 0
    for row in reversed(range(ROWS)):
        c = cell_colour(img, origin, g, band, row)
        if c in (UNLIT, None):
            break
        assert c == (RED if row <= 1 else WHITE), f"band {band} row {row}: {c}"
        n += 1
    return n


def icon_problems(img, origin, g, resource_id, at):
    """Differences between the shown icon and its art scaled uniformly by nearest neighbour."""
    w, h, px = asset(resource_id)
    p = g["p"]
    sx, sy = (at[0] * p + 50) // 100, (at[1] * p + 50) // 100
    problems = []
    for y in range(sy, (at[1] + h) * p // 100):
        for x in range(sx, (at[0] + w) * p // 100):
            src_x = ((2 * x + 1) * WINDOW_W) // (2 * g["w"])
            src_y = 128 + ((2 * (y - (128 * p + 50) // 100) + 1) * (WINDOW_H - 128)) // (2 * (g["h"] - (128 * p + 50) // 100))
            want = px[(src_y - at[1]) * w + (src_x - at[0])]
            got = img.pixel_hex(origin[0] + x, origin[1] + y)
            if got != want:
                problems.append(f"({x}, {y}) {got:06x} want {want:06x}")
    return problems


def tray_icon_extent(env):
    """The size of the drawn part of the first tray icon's cell (what differs from its corner)."""
    x, y = env.tray_icon_centres()[0]
    left, top, width, height = env.x_geometry(env.tray_window())
    img = env.screenshot("tray")
    cell = (x - height // 2, top, x + height // 2, top + height)
    bg = img.pixel_hex(cell[0], cell[1])
    xs = [px for px in range(cell[0], cell[2]) for py in range(cell[1], cell[3]) if img.pixel_hex(px, py) != bg]
    ys = [py for px in range(cell[0], cell[2]) for py in range(cell[1], cell[3]) if img.pixel_hex(px, py) != bg]
    return (max(xs) - min(xs) + 1, max(ys) - min(ys) + 1) if xs else (0, 0)


def rendered_at_rest(dpi):
    """tonalis-render's window after two seconds of silence, at this dpi's scale."""
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        wav = write_wav(tmp / "silence.wav", silence(2.0, rate=65536), rate=65536)
        res = subprocess.run([str(RENDER), "--png", str(tmp), "--scale", f"{dpi / 96:g}", str(wav)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        assert res.returncode == 0, res.stderr.decode()
        return read_image(sorted(tmp.glob("frame_*.png"))[-1])


def differences_at_rest(img, origin, want, g):
    """Pixels of the shown window that differ from the rendered one, outside the live parts
    (their scaled rectangles, a pixel wider each way for the rounding of fractional scales)."""
    p = g["p"]
    live = [(l * p // 100 - 1, t * p // 100 - 1, (r * p + 99) // 100 + 1, (b * p + 99) // 100 + 1)
            for l, t, r, b in LIVE_PARTS]
    bad = []
    row = want.width * 3
    for y in range(want.height):
        start = ((origin[1] + y) * img.width + origin[0]) * 3
        if img.rgb[start:start + row] == want.rgb[y * row:(y + 1) * row]:
            continue
        for x in range(want.width):
            if any(l <= x < r and t <= y < b for l, t, r, b in live):
                continue
            got = img.pixel(origin[0] + x, origin[1] + y)
            if got != want.pixel(x, y):
                bad.append(f"({x}, {y}) {bytes(got).hex()} want {bytes(want.pixel(x, y)).hex()}")
    return bad


def about_problems(env, main, dpi):
    """Opens the About box from the system menu and lists what is not whole in it at this dpi:
    its size against the 96 dpi box, its layout font, texts cut, the picture not shown 1:1 at
    its place, the link and the OK button not wholly inside."""
    env.post_message(WM_SYSCOMMAND, SYSCOMMAND_ABOUT, 0, hwnd=main["hwnd"])
    dlg = wait_until(lambda: find_about_window(env, main), 10, 0.2, "the About dialog")
    time.sleep(0.5)  # let it paint
    shot = env.screenshot("about")
    problems = []

    # The whole window on the screen, larger than at 96 dpi by about the scale.
    scale = dpi / 96
    size = (dlg["width"], dlg["height"])
    if any(abs(got - want * scale) > 0.1 * want * scale for got, want in zip(size, ABOUT_AT_96)):
        problems.append(f"window {size}, want about {ABOUT_AT_96} x {scale}")
    if dlg["left"] < 0 or dlg["top"] < 0 or dlg["right"] > env.width or dlg["bottom"] > env.height:
        problems.append(f"window {dlg} off the {env.width} x {env.height} screen")

    # Laid out in the template's font made at this dpi, and every text fits its control.
    font, _, fit = text_fit_problems(env, dlg)
    if font["pixels"] != mul_div(9, dpi, 72):
        problems.append(f"layout font {font} is not 9 pt at {dpi} dpi")
    problems += fit
    bg = shot.pixel(dlg["left"] + 4, dlg["top"] + 4)
    problems += value_row_problems(shot, dlg, bg)

    # Dialog units to the client area's pixels, and the client area on the screen.
    bx, by = font["base_x"], font["base_y"]
    cx, cy = dlg["left"] + 1, dlg["top"] + 1  # inside the one-pixel border
    client = (cx, cy, cx + font["client_width"], cy + font["client_height"])

    def unit_rect(x, y, w, h):
        left, top = cx + mul_div(x, bx, 4), cy + mul_div(y, by, 8)
        return left, top, left + mul_div(w, bx, 4), top + mul_div(h, by, 8)

    # The picture 1:1 at its control's top-left corner, wholly inside the client area.
    pic = unit_rect(1, 80, 114, 57)
    pw, ph, _ = asset(ABOUT_PICTURE_ID)
    at = find_bitmap(shot, (pic[0] - 2, pic[1] - 2, pic[0] + pw + 2, pic[1] + ph + 2), ABOUT_PICTURE_ID)
    if not at:
        problems.append(f"the picture is not shown 1:1 at {pic[:2]} in {shot.path.name}")
    elif not (client[0] <= at[0] and at[0] + pw <= client[2] and client[1] <= at[1] and at[1] + ph <= client[3]):
        problems.append(f"the picture at {at} reaches out of the client area {client}")

    # The link: blue text inside its control, between the picture and the OK button (whose
    # focus frame is blue too).
    link = unit_rect(10, 139, 96, 18)
    ok = unit_rect(42, 163, 27, 14)
    blue_rows = sorted({y for y in range(pic[3], ok[1] - 2) for x in range(client[0], client[2])
                        if is_blue(shot.pixel(x, y))})
    if not blue_rows or blue_rows[0] < link[1] or blue_rows[-1] >= link[3]:
        problems.append(f"the link's blue rows {blue_rows[:1]}..{blue_rows[-1:]} are not inside {link}")

    # The OK button drawn whole: its frame's bottom and right edges marked across most of it,
    # and the client area's last row and column plain background.
    if ok[2] > client[2] or ok[3] > client[3]:
        problems.append(f"the OK button {ok} reaches out of the client area {client}")
    else:
        def marked(pixels):
            return sum(shot.pixel(x, y) != bg for x, y in pixels) / len(pixels)
        bottom = max(marked([(x, y) for x in range(ok[0] + 3, ok[2] - 3)]) for y in range(ok[3] - 3, ok[3]))
        right = max(marked([(x, y) for y in range(ok[1] + 3, ok[3] - 3)]) for x in range(ok[2] - 3, ok[2]))
        if bottom < 0.9 or right < 0.9:
            problems.append(f"the OK button's frame is cut (bottom edge {bottom:.0%}, right edge {right:.0%} marked)")
    edge = [(x, client[3] - 1) for x in range(client[0], client[2])] + \
           [(client[2] - 1, y) for y in range(client[1], client[3])]
    stray = [p for p in edge if shot.pixel(*p) != bg]
    if stray:
        problems.append(f"{len(stray)} pixels on the client area's last row and column are not background: {stray[:3]}")
    if problems:
        problems.append(f"(in {shot.path.name})")

    env.post_key(VK_ESCAPE, hwnd=dlg["hwnd"])
    env.wait_window_gone(hwnd=dlg["hwnd"], timeout=5)
    return problems


def run_scaled(dpi):
    g = geometry(dpi)
    with Env(name=f"hidpi{dpi}", log_pixels=dpi) as env:
        app = env.run_tonalis()
        facts = env.wait_window(timeout=30)
        assert (facts["width"], facts["height"]) == (g["w"], g["h"]), (facts, g)
        origin = (facts["left"], facts["top"])

        # After the splash: every cell unlit, one colour over its whole scaled rectangle.
        def all_unlit():
            img = env.screenshot("silent")
            ok = all(cell_colour(img, origin, g, b, r) == UNLIT for b in (0, 11, 23) for r in (0, 8, 16))
            return img if ok else None
        silent = wait_until(all_unlit, 20, 0.5, "unlit scaled cells after the splash")
        problems = icon_problems(silent, origin, g, BLOCK_LIT_ICON, (190, 128))
        assert not problems, f"the lit Block icon in {silent.path.name}: {problems[:4]}"

        # At rest the window is exactly what tonalis-render draws at this scale, but for the
        # parts that live in silence too.
        want = rendered_at_rest(dpi)
        assert (want.width, want.height) == (g["w"], g["h"]), (want.width, want.height, g)
        end = time.monotonic() + 5.0
        while True:
            img = env.screenshot("rest")
            bad = differences_at_rest(img, origin, want, g)
            if not bad:
                break
            assert time.monotonic() < end, \
                f"{len(bad)} pixels differ from tonalis-render's window in {img.path.name}: {bad[:4]}"
            time.sleep(0.5)

        # A loud 64 Hz tone lights band 0 (and its neighbour a little), nothing high up.
        env.play_samples(sine(64.0, 4.0, LOUD), name="tone64")
        def lit():
            img = env.screenshot("tone")
            return img if lit_rows(img, origin, g, 0) >= 12 else None
        wait_until(lit, 10, 0.3, "band 0 lit by the tone at its scaled place")
        # Judged a second in, after the onset's click (which lights every band for a frame).
        time.sleep(1.0)
        img = env.screenshot("tone-settled")
        assert lit_rows(img, origin, g, 0) >= 12, f"band 0 fell in {img.path.name}"
        high = {b: lit_rows(img, origin, g, b) for b in range(6, BANDS)}
        assert not any(high.values()), f"high bands lit in {img.path.name}: {high}"

        # Pixel-exact at whole scales: the window is its own picture doubled (checked against the
        # shown pixels at half resolution, so no second renderer is needed).
        if g["p"] % 100 == 0:
            s = g["p"] // 100
            wrong = [(x, y) for y in range(0, g["h"], 1) for x in range(0, g["w"], 1)
                     if img.pixel_hex(origin[0] + x, origin[1] + y) !=
                     img.pixel_hex(origin[0] + x // s * s, origin[1] + y // s * s)]
            assert not wrong, f"{len(wrong)} pixels are not {s} x {s} blocks in {img.path.name}: {wrong[:4]}"

        # The tray icon at the small-icon size of this dpi (16 px at 96).
        size = tray_icon_extent(env)
        want = 16 * dpi // 96
        assert want - 3 <= max(size) <= want, f"tray icon drawn {size}, want about {want}"

        # A double-click in the scaled window: full screen, then back at the scaled size.
        time.sleep(3.0)  # the tone is over
        env.double_click(origin[0] + g["w"] - 30, origin[1] + g["h"] // 2)
        placed(env, (0, 0, env.width, env.height), "full screen after a double-click")
        time.sleep(0.5)
        env.double_click(env.width // 2, env.height // 2)
        placed(env, (origin[0], origin[1], g["w"], g["h"]), "the scaled window back in its place")

        problems = about_problems(env, facts, dpi)
        assert not problems, "the About box at {} dpi: {}".format(dpi, "; ".join(problems))
        env.post_close()
        assert app.wait(15) == 0


@scenario(timeout=240)
def test_window_at_120_dpi():
    run_scaled(120)


@scenario(timeout=240)
def test_window_at_144_dpi():
    run_scaled(144)


@scenario(timeout=240)
def test_window_at_192_dpi():
    run_scaled(192)
