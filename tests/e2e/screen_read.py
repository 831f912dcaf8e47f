"""Reading what Tonalis shows from a screenshot: the status row against its bitmaps, the
frame-time digits, and short Chinese texts (message box, menu items) by matching their glyphs
against the same text rendered here with the CJK font that the Wine prefix links in.

Coordinates given as "window" coordinates are relative to the main window's top-left corner;
`origin` is that corner on the screen.
"""

from __future__ import annotations

import functools
import subprocess
from pathlib import Path
from typing import Optional, Sequence

from expect import asset
from harness import Image, _parse_ppm

# Digit d is drawn from resource DIGIT_IDS[d] (the ids are not in digit order).
DIGIT_IDS = (156, 158, 159, 160, 161, 162, 165, 163, 164, 157)
DIGIT_POSITIONS = ((387, 131), (393, 131), (399, 131))
READOUT_ID, READOUT_POS = 155, (384, 128)
ACTIVITY_IDS, ACTIVITY_POS = (150, 143, 144, 145, 146, 147, 148), (370, 128)

# Fixed parts of the status row in the default settings (Block style, no board, click-through
# and keep-on-top off): (resource id, window position).
STATUS_FIXED = (
    (180, (6, 114)),    # frequency scale
    (141, (7, 128)),    # title label
    (140, (409, 128)),  # caption label
    (187, (106, 128)),  # board off
    (151, (134, 128)),  # click-through off
    (149, (162, 128)),  # keep-on-top off
    (171, (220, 128)),  # Floating icon
    (176, (250, 128)),  # Bar icon
    (168, (190, 128)),  # Block icon, highlighted (the current style)
    (175, (280, 128)),  # TopBlock icon
    (183, (310, 128)),  # Dots icon
    (185, (340, 128)),  # Waveform icon
)

CJK_FONT = "Noto-Sans-CJK-SC"  # the font the prefix links behind the UI fonts for Chinese


def bitmap_mismatches(img: Image, origin: tuple, resource_id: int, pos: tuple, tol: int = 2,
                      skip: Optional[Sequence[int]] = None) -> int:
    """Pixels of bitmap `resource_id` drawn at window position `pos` that differ on the screen.
    skip: a window-coordinate rectangle (left, top, right, bottom) not compared."""
    w, h, px = asset(resource_id)
    ox, oy = origin[0] + pos[0], origin[1] + pos[1]
    bad = 0
    for y in range(h):
        for x in range(w):
            if skip and skip[0] <= pos[0] + x < skip[2] and skip[1] <= pos[1] + y < skip[3]:
                continue
            if not img.matches(ox + x, oy + y, px[y * w + x], tol):
                bad += 1
    return bad


def status_row_problems(img: Image, origin: tuple) -> list:
    """Descriptions of the status images that are not drawn as their bitmaps (empty: all fine).
    The readout frame is compared around its digits; the digits must be digit bitmaps; the
    activity indicator must be one of its seven images."""
    problems = []
    for rid, pos in STATUS_FIXED:
        bad = bitmap_mismatches(img, origin, rid, pos)
        if bad:
            problems.append(f"bitmap {rid} at {pos}: {bad} pixels differ")
    digits_area = (387, 131, 404, 138)
    bad = bitmap_mismatches(img, origin, READOUT_ID, READOUT_POS, skip=digits_area)
    if bad:
        problems.append(f"readout frame {READOUT_ID} at {READOUT_POS}: {bad} pixels differ")
    if read_readout(img, origin) is None:
        problems.append("the readout digits are not digit bitmaps")
    if activity_image(img, origin) is None:
        problems.append(f"the activity indicator at {ACTIVITY_POS} is none of its images")
    return problems


def read_digit(img: Image, origin: tuple, pos: tuple) -> Optional[int]:
    for d, rid in enumerate(DIGIT_IDS):
        if bitmap_mismatches(img, origin, rid, pos) == 0:
            return d
    return None


def read_readout(img: Image, origin: tuple) -> Optional[int]:
    """The frame-time readout as a number, or None when a digit is not one of the digit images."""
    digits = [read_digit(img, origin, pos) for pos in DIGIT_POSITIONS]
    if None in digits:
        return None
    return digits[0] * 100 + digits[1] * 10 + digits[2]


def activity_image(img: Image, origin: tuple) -> Optional[int]:
    """Resource id of the activity image shown, or None."""
    for rid in ACTIVITY_IDS:
        if bitmap_mismatches(img, origin, rid, ACTIVITY_POS) == 0:
            return rid
    return None


# ----------------------------------------------------------------------------------------------
# Text by glyph matching


def _darkness(img: Image, x: int, y: int, bg: tuple) -> float:
    """How much darker than the background a pixel is, 0..1."""
    lum = sum(img.pixel(x, y)) / 3
    return max(0.0, (sum(bg) / 3 - lum) / max(1.0, sum(bg) / 3))


def _trim(m: list, threshold: float = 0.25) -> list:
    rows = [i for i, row in enumerate(m) if row and max(row) > threshold]
    if not rows:
        return []
    cols = [j for j in range(len(m[0])) if max(row[j] for row in m) > threshold]
    return [row[cols[0]:cols[-1] + 1] for row in m[rows[0]:rows[-1] + 1]]


def ink(img: Image, rect: Sequence[int], bg: Optional[tuple] = None) -> list:
    """Darkness matrix of the dark marks in rect (screen coordinates), trimmed to their bounds.
    bg: the background colour (default: the rectangle's most common colour)."""
    left, top, right, bottom = rect
    if bg is None:
        hist = img.colors(rect)
        c = max(hist, key=hist.get)
        bg = ((c >> 16) & 255, (c >> 8) & 255, c & 255)
    return _trim([[_darkness(img, x, y, bg) for x in range(left, right)] for y in range(top, bottom)])


@functools.lru_cache(maxsize=256)
def rendered(text: str, size: int) -> tuple:
    """`text` drawn black on white at `size` pixels in the CJK font, as a trimmed darkness matrix."""
    ppm = subprocess.run(["convert", "-background", "white", "-fill", "black", "-font", CJK_FONT,
                          "-pointsize", str(size), "label:" + text, "-depth", "8", "ppm:-"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True, timeout=60).stdout
    im = _parse_ppm(ppm, Path(f"<{text}>"))
    return tuple(tuple(r) for r in ink(im, (0, 0, im.width, im.height), bg=(255, 255, 255)))


def _correlation(a: Sequence[Sequence[float]], b: Sequence[Sequence[float]]) -> float:
    """Best normalised correlation of b over a, for shifts of up to one pixel (b outside is 0)."""
    if not a or not b:
        return 0.0
    xs = [v for row in a for v in row]
    n = len(xs)
    mx = sum(xs) / n
    vx = sum((v - mx) ** 2 for v in xs)
    best = -1.0
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            ys = []
            for y in range(len(a)):
                yy = y + dy
                row = b[yy] if 0 <= yy < len(b) else ()
                for x in range(len(a[0])):
                    xx = x + dx
                    ys.append(row[xx] if 0 <= xx < len(row) else 0.0)
            my = sum(ys) / n
            vy = sum((v - my) ** 2 for v in ys)
            if vx and vy:
                cov = sum((p - mx) * (q - my) for p, q in zip(xs, ys))
                best = max(best, cov / (vx * vy) ** 0.5)
    return best


def text_scores(marks: list, candidates: Sequence[str], sizes: Sequence[int] = (10, 11, 12, 13, 14)) -> dict:
    """{candidate: best correlation of its rendering (over sizes) with the marks}."""
    return {text: max(_correlation(marks, rendered(text, size)) for size in sizes) for text in candidates}


def assert_text(marks: list, expected: str, others: Sequence[str], where: str, minimum: float = 0.8,
                margin: float = 0.2) -> dict:
    """Asserts the marks read as `expected`: its rendering matches well and clearly better than
    every other candidate's. Returns the scores."""
    assert marks, f"{where}: no text found"
    scores = text_scores(marks, [expected, *others])
    rival = max((s for t, s in scores.items() if t != expected), default=0.0)
    assert scores[expected] >= minimum and scores[expected] >= rival + margin, \
        f"{where} does not read {expected!r}: scores {({t: round(s, 2) for t, s in scores.items()})}"
    return scores


def first_text_line(img: Image, rect: Sequence[int], bg: tuple, dark: float = 0.25) -> Optional[tuple]:
    """Screen rectangle of the first line of dark marks in rect, counting only rows where most of
    the width shows the background (so title bars and filled areas are passed over)."""
    left, top, right, bottom = rect
    width = right - left
    start = None
    for y in range(top, bottom):
        row_bg = sum(1 for x in range(left, right) if img.matches(x, y, bg, 6))
        marked = sum(1 for x in range(left, right) if _darkness(img, x, y, bg) > dark)
        is_text = row_bg >= width // 2 and marked > 0
        if is_text and start is None:
            start = y
        elif not is_text and start is not None:
            return left, start, right, y
    return None
