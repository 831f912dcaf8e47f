"""The program on a scaled desktop (Wine's LogPixels at 120, 144 and 192 dpi): the window at the
scaled size, a tone lighting the right cells at their scaled places, the status row's art
scaled by nearest neighbour, a double-click on the scaled window, the tray icon's size and the
About box whole. At 192 dpi the window is the 100 % picture with every pixel doubled."""

import time

from expect import RED, UNLIT, WHITE, WINDOW_H, WINDOW_W, asset
from harness import Env, scenario, sine, wait_until
from test_tray_and_modes import placed, tonalis

ROWS, BANDS = 17, 24
LOUD = 0.9
BLOCK_LIT_ICON = 168  # the current style's highlighted icon, at (190, 128) at 100 %


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
