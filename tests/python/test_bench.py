"""The bench half of the wavecatch module against the simulator:
measurements, setup files, the screen image, raw SCPI and find.

Shares the private home and the simulator launcher of test_wavecatch.
"""

import os
import unittest

from test_wavecatch import ROOT, Simulator, session, tearDownModule  # noqa: F401 (private home)

import numpy as np  # noqa: E402
import wavecatch  # noqa: E402


def path(name):
    return os.path.join(ROOT, name)


class BenchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("--model", "MSOHX5104", "--chan1", "sine:4kHz:1Vpp",
                            "--chan2", "dc:offset=-0.2")
        cls.s = wavecatch.Session(address=cls.sim.address)

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def test_measurements_agree_with_the_signals(self):
        rows = self.s.measure(source="CHAN1", only=["frequency", "Peak-Peak"])
        self.assertEqual([r.name for r in rows] + [rows[0].unit], ["Freqeuncy", "Peak-Peak", "Hz"])
        self.assertTrue(rows[0].text.endswith("kHz"), rows[0].text)
        self.assertAlmostEqual(rows[0].value, 4000.0, delta=40.0)
        self.assertAlmostEqual(rows[1].value, 1.0, delta=0.01)
        flat = self.s.measure(source="CHAN2", only="Freq")[0]
        self.assertEqual(flat.text, "No edges")
        self.assertIsNone(flat.value)
        self.assertEqual(len(self.s.measure(source="CHAN1", new=True)), 24)
        with self.assertRaises(wavecatch.Error):
            self.s.measure(only=["Loudness"])
        for source in ("CHAN9", "DIG16"):  # not sources the lists offer
            with self.assertRaises(wavecatch.Error, msg=source):
                self.s.measure(source=source, only="Freq")

    def test_setup_round_trip_and_refusal(self):
        self.s.write(":TIMebase:SCALe 0.004")
        saved = self.s.save_setup(path("py.scp"))
        self.assertEqual(saved, path("py.scp"))
        self.s.write(":TIMebase:SCALe 0.1")
        self.s.restore_setup(saved)
        self.assertAlmostEqual(float(self.s.query(":TIMebase:SCALe?")), 0.004)

        with open(path("junk.scp"), "wb") as f:
            f.write(b"12|xyz|1|")
        self.s.write(":SIMulator:LOG:CLEar")
        with self.assertRaises(wavecatch.Error) as cm:
            self.s.restore_setup(path("junk.scp"))
        self.assertIn("Not a compatible file", str(cm.exception))
        log = self.s.query_block(":SIMulator:LOG?")
        self.assertNotIn(b"Syst:Set", log)

    def test_capture_h5_keeps_the_setup_and_sends_it_back(self):
        import h5py
        s = session(self.sim.address, "CHAN1")
        s.write(":TIMebase:SCALe 0.004")
        for extras in (True, False):
            folder = path(f"h5-{extras}")
            s.capture(points=1000, extras=extras).save(folder, format="h5")
            with h5py.File(os.path.join(folder, "capture.h5"), "r") as f:
                self.assertEqual("extras" in f, extras)
        s.write(":TIMebase:SCALe 0.1")
        s.restore_setup(path("h5-True/capture.h5"))
        self.assertAlmostEqual(float(s.query(":TIMebase:SCALe?")), 0.004)
        with self.assertRaises(wavecatch.Error) as cm:
            s.restore_setup(path("h5-False/capture.h5"))
        self.assertIn("holds no setup", str(cm.exception))

    def test_screen_and_blocks(self):
        png = self.s.screen(path("s.png"))
        with open(png, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        bmp = self.s.screen(path("s.bmp"), invert=True)
        with open(bmp, "rb") as f:
            data = f.read()
        block = self.s.query_block(":DISPlay:DATA? BMP, SCReen, ON, Inv")
        self.assertIsInstance(block, bytes)
        self.assertEqual(block, data)
        words = self.s.query_block(":DISPlay:DATA? BMP, SCReen", dtype="u1")
        self.assertIsInstance(words, np.ndarray)
        self.assertEqual(words[:2].tobytes(), b"BM")
        self.assertEqual(self.s.query("*IDN?"), "CORVANE,MSOHX5104,CVN40517263,H3.07.0142")
        with self.assertRaises(wavecatch.Error):
            self.s.query(":DISPlay:DATA? BMP, SCReen")
        with self.assertRaises(wavecatch.Error):
            self.s.query_block("*IDN?")

    def test_find_lists_the_simulator(self):
        found = wavecatch.find(usb=False, hosts=[self.sim.address])
        self.assertEqual([(f.address, f.supported, f.model) for f in found],
                         [(self.sim.address, True, "MSOHX5104")])


class IdentificationTest(unittest.TestCase):
    def test_one_reply_gets_the_answer_capture_gives(self):
        for reply, supported in (("CORVANE,MSOHX5104X,CVN1,H3", True),
                                 ("CORVANE,HALVIO", False), ("ACME,ACME1000,1,1", False)):
            with self.subTest(reply=reply), Simulator("--model", "MSOHX5104", "--idn", reply) as sim:
                found = wavecatch.find(usb=False, hosts=[sim.address])
                self.assertEqual(found[0].supported, supported)
                s = session(sim.address, "CHAN1")
                if supported:
                    self.assertEqual(len(s.capture(points=1000).datasets), 1)
                else:
                    with self.assertRaises(wavecatch.Error):
                        s.capture(points=1000)

    def test_bytes_that_are_not_utf8_come_back_as_str(self):
        idn = os.fsdecode(b"CORVANE,MSOHX5104\xb5,CVN\x1b[2J,H3")
        with Simulator("--model", "MSOHX5104", "--idn", idn) as sim:
            s = wavecatch.Session(address=sim.address)
            self.assertEqual(s.query("*IDN?"), "CORVANE,MSOHX5104\u00b5,CVN\x1b[2J,H3")
            found = wavecatch.find(usb=False, hosts=[sim.address])[0]
            self.assertEqual((found.model, found.serial_number), ("MSOHX5104\u00b5", "CVN\x1b[2J"))
            self.assertIn("\u00b5", repr(found))
            c = session(sim.address, "CHAN1").capture(points=1000)
            self.assertEqual(c.model, "MSOHX5104\u00b5")


if __name__ == "__main__":
    unittest.main()
