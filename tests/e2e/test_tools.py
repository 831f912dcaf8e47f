"""The developer tools as a user runs them: tonalis-render's CSV and PNG forms and its errors,
and the board monitor reading reports."""

import csv
import io
import math
import subprocess
import tempfile
import wave
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
