"""The developer tools as a user runs them: tonalis-render's CSV and PNG forms and its errors,
and the board monitor reading reports."""

import csv
import io
import math
import struct
import subprocess
import tempfile
import wave
import zlib
from pathlib import Path

from expect import UNLIT, WHITE, WINDOW_H, WINDOW_W, cell_centre
from harness import REPO, read_image, scenario, sine, write_wav

TOOLS = REPO / "build" / "native" / "tools"
RENDER = TOOLS / "tonalis_render" / "tonalis-render"
MONITOR = TOOLS / "board_monitor" / "tonalis-board-monitor"


def run(*args, input=None):
    return subprocess.run([str(a) for a in args], input=input, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)


@scenario(timeout=120)
def test_render_csv_of_a_tone_and_clear_errors():
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        # Full scale at 8000 Hz: band 22 reads about 1769 (bin 250, divisor 10).
        wav = write_wav(tmp / "tone.wav", sine(8000, 0.5, amplitude=32767 / 32768, rate=65536), rate=65536)
        res = run(RENDER, wav)
        assert res.returncode == 0, res.stderr.decode()
        rows = list(csv.reader(io.StringIO(res.stdout.decode())))
        assert rows[0] == ["end"] + [f"b{i}" for i in range(24)]
        # 32768 samples, hop 1835: frame k ends at ceil(k*1835/256)*256 while <= 32768.
        ends = [int(r[0]) for r in rows[1:]]
        assert ends[:2] == [2048, 3840] and ends[-1] <= 32768 and len(ends) == 17, ends
        last = [float(v) for v in rows[-1][1:]]
        assert abs(last[22] - 1769) < 20 and max(last[:22] + last[23:]) < 1.0, last

        line = run(RENDER, "--line", wav)
        assert len(next(csv.reader(io.StringIO(line.stdout.decode())))) == 1 + 24 + 429

        # The same tone at half scale as a 48 kHz stereo 24-bit recording: converted to the
        # same rate, it reads half the level.
        other = tmp / "48k-stereo-24.wav"
        with wave.open(str(other), "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(3)
            w.setframerate(48000)
            frames = bytearray()
            for i in range(24000):
                v = round(0.5 * 8388607 * math.sin(2 * math.pi * 8000 * i / 48000))
                frames += (v & 0xFFFFFF).to_bytes(3, "little") * 2
            w.writeframes(bytes(frames))
        res = run(RENDER, other)
        assert res.returncode == 0, res.stderr.decode()
        rows = list(csv.reader(io.StringIO(res.stdout.decode())))
        last = [float(v) for v in rows[-1][1:]]
        assert abs(last[22] - 1769 / 2) < 10 and max(last[:22] + last[23:]) < 1.0, last

        # An unsupported sample size, a truncated file and a missing one: a message and a
        # non-zero exit.
        with wave.open(str(tmp / "8bit.wav"), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(1)
            w.setframerate(8000)
            w.writeframes(bytes(800))
        (tmp / "cut.wav").write_bytes(wav.read_bytes()[:30])
        for bad in (tmp / "8bit.wav", tmp / "cut.wav", tmp / "missing.wav"):
            res = run(RENDER, bad)
            assert res.returncode != 0 and res.stderr.strip() and not res.stdout, (bad, res)


def strip_geometry(width, height):
    """(band_x(b), row_y(r), strip_top, strip_height) of the full-screen strip at the Center
    position on a screen tall enough for it: the 443-pixel window design scaled to the width."""
    margin, gap, band_w = 4 * width // 443, 3 * width // 443, 15 * width // 443
    cell_gap, cell_h = 2 * band_w // 15, 4 * band_w // 15
    strip_h = 18 * (cell_gap + cell_h)
    top = (height - strip_h) // 2
    return (lambda b: margin + (b + 1) * gap + b * band_w + band_w // 2,
            lambda r: cell_gap + r * (cell_gap + cell_h) + cell_h // 2, top, strip_h)


@scenario(timeout=180)
def test_render_png_frames_for_each_mode_and_screen():
    """The last frame of a steady 64 Hz tone in each form: the frame has the size of the window,
    the screen or the strip, the tone's band (1) stands full, a band the tone does not reach (12)
    shows unlit cells, and the floor row is drawn under every band."""
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        wav = write_wav(tmp / "tone.wav", sine(64, 0.2, amplitude=0.9, rate=65536), rate=65536)
        cases = [
            ("window", [], (WINDOW_W, WINDOW_H)),
            ("window at 2", ["--scale", "2"], (2 * WINDOW_W, 2 * WINDOW_H)),
            ("window at 1.5", ["--scale", "1.5"], (665, 218)),
            ("fullscreen 1920x1080", ["--mode", "fullscreen", "--screen", "1920x1080"], (1920, 1080)),
            ("fullscreen 1280x1024", ["--mode", "fullscreen", "--screen", "1280x1024"], (1280, 1024)),
            ("desktop 1920x1080", ["--mode", "desktop", "--screen", "1920x1080"], (1920, 450)),
            ("desktop 1280x1024", ["--mode", "desktop", "--screen", "1280x1024"], (1280, 288)),
        ]
        for name, extra, size in cases:
            out = tmp / name.replace(" ", "_")
            out.mkdir()
            res = run(RENDER, "--png", out, *extra, wav)
            assert res.returncode == 0, (name, res.stderr.decode())
            frames = sorted(out.glob("frame_*.png"))
            assert len(frames) == 7, (name, frames)  # 13107 samples: frames end at 2048, 3840, ... 12800
            img = read_image(frames[-1])
            assert (img.width, img.height) == size, f"{name}: frame is {img.width}x{img.height}, want {size}"
            if name == "window":
                probes = [(cell_centre(1, r), WHITE) for r in (8, 16)]
                probes += [(cell_centre(12, r), UNLIT) for r in (0, 8, 16)]
                plain = img
            elif name == "window at 2":
                # The window's frame with every pixel a 2 x 2 block.
                bad = [(x, y) for y in range(WINDOW_H) for x in range(WINDOW_W)
                       if {img.pixel_hex(2 * x + dx, 2 * y + dy) for dx in (0, 1) for dy in (0, 1)}
                       != {plain.pixel_hex(x, y)}]
                assert not bad, f"{name}: {len(bad)} pixels are not the window's, first at {bad[:5]}"
                probes = []
            elif name == "window at 1.5":
                # Nothing blended: no colour the window's frame lacks.
                colours = lambda i: {i.pixel_hex(x, y) for y in range(i.height) for x in range(i.width)}
                assert colours(img) <= colours(plain), f"{name}: new colours {colours(img) - colours(plain)}"
                probes = []
            else:
                band_x, row_y, top, strip_h = strip_geometry(*(int(v) for v in extra[3].split("x")))
                full = extra[1] == "fullscreen"
                base = top if full else 0
                assert full or strip_h == size[1], (name, strip_h)
                unlit = UNLIT if full else 0x000000  # the desktop strip keys out black
                probes = [((band_x(1), base + row_y(r)), WHITE) for r in (8, 16)]
                probes += [((band_x(12), base + row_y(r)), unlit) for r in (0, 8, 16)]
                probes += [((band_x(b), base + row_y(17)), WHITE) for b in (0, 12, 23)]
                if full:  # black above and below the strip
                    probes += [((size[0] // 2, top // 2), 0), ((size[0] // 2, top + strip_h + 10), 0)]
            bad = img.mismatches(probes)
            assert not bad, f"{name}, {frames[-1].name}: " + "; ".join(bad)


def read_png(path: Path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG, any filter."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), (depth, colour)
            bpp = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * bpp, [], bytearray(width * bpp)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride if f else 0):  # filter 0 leaves the bytes as they are
            a, b = line[i - bpp] if i >= bpp else 0, prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            pred = {0: 0, 1: a, 2: b, 3: (a + b) // 2,
                    4: min((a, b, c), key=lambda v: abs(a + b - c - v))}[f]
            line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line if bpp == 3 else b"".join(line[i:i + 3] for i in range(0, stride, 4))))
        prev = line
    return width, height, rows


@scenario(timeout=180)
def test_render_a_short_wide_screen_shows_every_row():
    # 5120 x 1080: the width asks for a strip 1242 rows tall; it must fit the screen instead.
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        wav = write_wav(tmp / "silence.wav", [0.0] * 4096, rate=65536)
        res = run(RENDER, "--png", tmp, "--mode", "fullscreen", "--screen", "5120x1080", wav)
        assert res.returncode == 0, res.stderr.decode()
        frames = sorted(tmp.glob("frame_*.png"))
        assert frames, "no frame written"
        width, height, rows = read_png(frames[-1])
        assert (width, height) == (5120, 1080), (width, height)
        # Band 0 spans x 80..252; rows of 40 after gaps of 20, the floor row (bar colour in
        # silence) on the last 40 lines, unlit cells above it.
        px = lambda x, y: rows[y][3 * x:3 * x + 3]
        assert px(166, 1079) == px(166, 1040) == b"\xff\xff\xff", "the floor row is not on the frame"
        assert px(166, 1039) == b"\x00\x00\x00" and px(166, 1000) == b"\x1e\x1e\x1e", (px(166, 1039), px(166, 1000))
        assert px(166, 20) == b"\x1e\x1e\x1e" and px(166, 19) == b"\x00\x00\x00", "row 0 is not at y 20"


@scenario(timeout=60)
def test_board_monitor_shows_levels_and_clock():
    levels = bytes([0, 0xA3, 0x3A, 0xB4, 0x4B, 0x55, 1] + list(range(17, -1, -1))[:24] + [0] * 6 + [0] * 34)
    clock = bytes([0, 0xA3, 0x3A, 0xB4, 0x4B, 0x55, 2, 9, 5] + [0] * 56)
    assert len(levels) == len(clock) == 65
    with tempfile.NamedTemporaryFile(suffix=".bin") as f:
        f.write(levels + clock)
        f.flush()
        res = run(MONITOR, f.name)
    text = res.stdout.decode()
    assert res.returncode == 0, res.stderr.decode()
    assert "levels 17 16 15 14" in text and "09:05" in text, text
