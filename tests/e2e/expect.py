"""What Tonalis must show, for the scenarios: its bitmaps as pixels and its cell geometry."""

from __future__ import annotations

import struct
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
RES = REPO / "res"

WINDOW_W, WINDOW_H = 443, 145
UNLIT = 0x1E1E1E          # cells above the level (Opaque and the alpha modes)
WHITE, RED = 0xFFFFFF, 0xFF0000   # White theme: bars, peak rows 0 and 1


def read_bmp(path: Path) -> tuple[int, int, list[int]]:
    """(width, height, 0xRRGGBB pixels top-down) of an uncompressed .bmp (1/4/8/24/32-bit)."""
    data = path.read_bytes()
    offset = struct.unpack_from("<I", data, 10)[0]
    hsize, w, h, _planes, bpp, comp = struct.unpack_from("<IiiHHI", data, 14)
    assert comp in (0, 3), f"{path}: compressed"
    colours = struct.unpack_from("<I", data, 46)[0] or (1 << bpp if bpp <= 8 else 0)
    palette = [struct.unpack_from("<I", data, 14 + hsize + 4 * i)[0] & 0xFFFFFF for i in range(colours)]
    stride = ((w * bpp + 31) // 32) * 4
    rows = []
    for r in range(abs(h)):
        row = data[offset + r * stride: offset + (r + 1) * stride]
        px = []
        for x in range(w):
            if bpp <= 8:
                bit = x * bpp
                v = (row[bit // 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1)
                px.append(palette[v])
            else:
                b = x * (bpp // 8)
                px.append(row[b] | row[b + 1] << 8 | row[b + 2] << 16)
        rows.append(px)
    if h > 0:
        rows.reverse()
    return w, abs(h), [p for row in rows for p in row]


def asset(resource_id: int) -> tuple[int, int, list[int]]:
    matches = sorted(RES.glob(f"{resource_id}_*.bmp"))
    assert matches, f"no bitmap {resource_id} in res/"
    return read_bmp(matches[0])


def cell_rect(band: int, row: int) -> tuple[int, int, int, int]:
    """Window-mode cell of a band (0..23) and row (0 top .. 16 bottom), window coordinates."""
    x = 7 + 18 * band
    y = 8 + 6 * row
    return x, y, x + 15, y + 4


def cell_centre(band: int, row: int) -> tuple[int, int]:
    l, t, r, b = cell_rect(band, row)
    return (l + r) // 2, (t + b) // 2
