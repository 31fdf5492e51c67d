"""What a notebook shows of the module's results against the simulator:
a capture's plot and its table of sources, and the scope's screen image.

Shares the private home and the simulator launcher of test_wavecatch;
WAVECATCH_CLI is the wavecatch program, whose files these must equal.
"""

import os
import struct
import subprocess
import unittest
import zlib

from test_wavecatch import ROOT, Simulator, session, tearDownModule  # noqa: F401 (private home)

import wavecatch  # noqa: E402

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
HOSTILE = "MSOHX5104<b>&\"x"


def png_size(data):
    """Width and height of a PNG whose pixel rows all decode."""
    if data[:8] != PNG_SIGNATURE:
        raise AssertionError("not a PNG: %r" % data[:8])
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    row = 1 + (width * channels * depth + 7) // 8
    if len(zlib.decompress(idat)) != height * row:
        raise AssertionError("pixel data is not %d rows" % height)
    return width, height


def cli(*args):
    return subprocess.run([os.environ["WAVECATCH_CLI"], *args], capture_output=True, check=True)


class NotebookTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("--model", "MSOHX5104", "--idn", "CORVANE,%s,CVN1,H3" % HOSTILE,
                            "--chan1", "sine:4kHz:1Vpp", "--chan2", "dc:offset=-0.2")
        cls.s = session(cls.sim.address, "CHAN1,CHAN2,POD1")
        cls.c = cls.s.capture(points=1000, extras=False)

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def test_capture_shows_the_commands_plot(self):
        folder = os.path.join(ROOT, "nb-capture")
        cli("capture", "--address", self.sim.address, "--registry-key", self.s.registry_key,
            "--points", "1000", "--no-extras", "--out", folder, "--format", "csv",
            "--module", os.environ["WAVECATCH_TEST_MODULE"])
        with open(os.path.join(folder, "plot.png"), "rb") as f:
            self.assertEqual(png_size(self.c._repr_png_()), png_size(f.read()))

    def test_capture_table_holds_each_source_escaped(self):
        html = self.c._repr_html_()
        for d in self.c.datasets:
            self.assertIn("<td>%s</td>" % d.source, html)
            self.assertIn("<td>%d</td>" % len(d), html)
        self.assertIn("MSOHX5104&lt;b&gt;&amp;&quot;x", html)
        self.assertNotIn("<b>", html)

    def test_screen_without_a_path_is_the_image_as_sent(self):
        out = os.path.join(ROOT, "nb-screen.bmp")
        cli("screen", "--address", self.sim.address, "--out", out)
        with open(out, "rb") as f:
            sent = f.read()
        image = self.s.screen()
        self.assertEqual((image.data, image.format, bytes(image)), (sent, "bmp", sent))
        width, height = struct.unpack("<ii", sent[18:26])
        self.assertEqual(png_size(image._repr_png_()), (width, abs(height)))
        for name, signature in (("nb-saved.bmp", sent), ("nb-saved.png", PNG_SIGNATURE)):
            with open(image.save(os.path.join(ROOT, name)), "rb") as f:
                self.assertTrue(f.read().startswith(signature), name)
        self.assertIsInstance(self.s.screen(os.path.join(ROOT, "nb-path.bmp")), str)


if __name__ == "__main__":
    unittest.main()
