"""The About picture's QR code is real: a decoder reads the program's address from it, the
address the About dialog's link opens."""

import re
import subprocess

from expect import RES
from harness import REPO, scenario


def about_address():
    """The link's two pieces as the About texts define them, joined."""
    text = (REPO / "src" / "about" / "about_info.h").read_text(encoding="utf-8")
    pieces = [re.search(rf'{name}\s*=\s*"([^"]*)"', text) for name in ("linkBase", "linkRest")]
    assert all(pieces), "the link's pieces are not in src/about/about_info.h"
    return "".join(p.group(1) for p in pieces)


@scenario(timeout=60)
def test_about_picture_qr_code_decodes_to_the_link():
    out = subprocess.run(["zbarimg", "--quiet", "--raw", str(RES / "188_about.bmp")],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30).stdout.decode()
    assert out.strip() == about_address(), out
