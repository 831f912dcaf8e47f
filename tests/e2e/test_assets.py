"""The About picture's QR code is real: a decoder reads the program's address from it."""

import subprocess

from expect import RES
from harness import scenario


@scenario(timeout=60)
def test_about_picture_qr_code_decodes_to_the_link():
    out = subprocess.run(["zbarimg", "--quiet", "--raw", str(RES / "188_about.bmp")],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30).stdout.decode()
    assert out.strip() == "https://tonalis.example.org/about/", out
