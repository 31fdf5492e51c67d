"""Session.record against the simulator: captures one per acquisition, the
same file as 'wavecatch record', retention, and Ctrl-C ending the loop.

Shares the private home and the simulator launcher of test_wavecatch.
"""

import os
import signal
import threading
import unittest

from test_wavecatch import ROOT, Simulator, tearDownModule  # noqa: F401 (private home)

import h5py  # noqa: E402
import numpy as np  # noqa: E402
import wavecatch  # noqa: E402


class RecordTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("--model", "MSOHX5104", "--acquire-ms", "20",
                            "--acquire-phase-step", "10", "--status-form", "signed")
        cls.s = wavecatch.Session(address=cls.sim.address)

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def test_captures_are_the_groups_written(self):
        out = os.path.join(ROOT, "py-record.h5")
        caps = list(self.s.record(count=4, out=out, keep=3, sources=["CHAN1", "POD1"]))
        self.assertEqual(len(caps), 4)
        self.assertEqual([d.source for d in caps[0].datasets], ["CHAN1", "POD1"])
        with h5py.File(out, "r") as f:
            self.assertEqual(sorted(f), ["acq-000002", "acq-000003", "acq-000004"])
            for cap, name in zip(caps[1:], sorted(f)):
                np.testing.assert_array_equal(f[name]["CH1/raw"][:], cap.datasets[0].raw)
        self.assertFalse(np.array_equal(caps[0].datasets[0].raw, caps[1].datasets[0].raw))

    def test_bad_arguments_raise_before_anything_is_asked(self):
        for kwargs in ({"count": 0}, {"keep": 2}, {"max_size": "lots", "out": "x.h5"},
                       {"format": "csv"}, {"sources": ["CHAN9"]}):
            with self.subTest(kwargs=kwargs), self.assertRaises(wavecatch.Error):
                next(iter(self.s.record(**kwargs)))

    def test_ctrl_c_ends_the_loop_after_the_current_acquisition(self):
        out = os.path.join(ROOT, "py-interrupted.h5")
        rec = self.s.record(out=out, sources=["CHAN1"])
        taken = 0
        for _ in rec:
            taken += 1
            if taken == 2:
                threading.Timer(0.005, os.kill, (os.getpid(), signal.SIGINT)).start()
            self.assertLess(taken, 200)
        with h5py.File(out, "r") as f:
            self.assertEqual(len(f), taken)
        self.assertGreaterEqual(taken, 2)


if __name__ == "__main__":
    unittest.main()
