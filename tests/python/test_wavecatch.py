"""The wavecatch Python module against the simulator: scaled data sets,
units, the screen image, and failures raised as wavecatch.Error.

Needs PYTHONPATH at the built module and HALVIO_SIM at the simulator (CTest
sets both). Every test runs in a private home, so no user's settings or
registration are read or written.
"""

import gc
import glob
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import unittest

ROOT = tempfile.mkdtemp(prefix="wavecatch-pytest-")
for name, sub in (("HOME", ""), ("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                  ("TMPDIR", "tmp"), ("XDG_RUNTIME_DIR", "run")):
    os.environ[name] = os.path.join(ROOT, sub)
    os.makedirs(os.environ[name], mode=0o700, exist_ok=True)

import numpy as np  # noqa: E402
import wavecatch  # noqa: E402

KEY = "Corvane\\Linkara\\WavecatchPyTest"


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


class Simulator:
    """halvio-sim on a free port of 127.0.0.1, stopped on exit."""

    def __init__(self, *args):
        exe = os.environ.get("HALVIO_SIM", "halvio-sim")
        self.proc = subprocess.Popen([exe, *args, "--port", "0"], stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("halvio-sim listening on "):
            self.stop()
            raise RuntimeError("simulator did not start: %r" % line)
        self.address = line.split()[-1]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def session(address, sources, screen=False, split_pod1=False, module=None):
    s = wavecatch.Session(address=address, registry_key=KEY, module=module)
    for name, value in (("ActiveChannels", sources), ("Screen", "1" if screen else "0"),
                        ("Waveform", "1"), ("MakeNewAcquisition", "0"),
                        ("D0D7", "1" if split_pod1 else "0"), ("D8D15", "0")):
        s.set_setting(name, value)
    return s


class HoldingProxy:
    """Passes a simulator's link through, but of the first waveform data
    reply only `first` bytes, then calls on_first(), then `then` bytes more,
    and holds the rest back until closed (at the latest for `hold` s;
    timed_out tells that the hold ran out)."""

    def __init__(self, target, first, then, on_first, hold=20):
        host, port = target.rsplit(":", 1)
        self.target = (host, int(port))
        self.limits, self.on_first, self.hold = (first, first + then), on_first, hold
        self.release = threading.Event()
        self.timed_out = False
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.address = "127.0.0.1:%d" % self.listener.getsockname()[1]
        self.links = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            upstream = socket.create_connection(self.target)
            self.links += [client, upstream]
            asked = threading.Event()  # this link asked for waveform data
            for src, dst, down in ((client, upstream, False), (upstream, client, True)):
                threading.Thread(target=self._pump, args=(src, dst, asked, down),
                                 daemon=True).start()

    def _pump(self, src, dst, asked, down):
        sent = 0
        try:
            while (data := src.recv(65536)):
                if not down and b"WAVEFORM:DATA?" in data.upper():
                    asked.set()
                if down and asked.is_set() and not self.release.is_set():
                    for limit, last in zip(self.limits, (False, True)):
                        if sent < limit <= sent + len(data):
                            dst.sendall(data[:limit - sent])
                            data, sent = data[limit - sent:], limit
                            if not last:
                                self.on_first()
                                threading.Event().wait(0.2)
                            else:
                                self.timed_out = not self.release.wait(self.hold)
                                self.release.set()
                    sent += len(data)
                dst.sendall(data)
        except OSError:
            pass

    def close(self):
        self.release.set()
        self.listener.close()
        for s in self.links:
            s.close()


class CaptureTest(unittest.TestCase):
    def test_channels_and_pod_are_scaled_with_their_preambles(self):
        with Simulator("--model", "MSOHX5104") as sim:
            c = session(sim.address, "CHAN1,CHAN2,POD1").capture(points=1000)
        self.assertEqual((c.cancelled, c.model, c.data_type, c.action_type, c.image_path, c.warning),
                         (False, "MSOHX5104", 64, 4, None, ""))
        self.assertEqual([d.source for d in c.datasets], ["CHAN1", "CHAN2", "POD1"])
        self.assertEqual([d.code for d in c.datasets], [1, 2, 8])
        self.assertEqual([d.units for d in c.datasets],
                         [("sec", "Volt"), ("sec", "Volt"), ("sec", "byte")])
        # Each set scaled by its own preamble, from the add-in's array, once.
        for d in c.datasets:
            p = d.preamble
            self.assertEqual(len(d), int(p[2]), d.source)
            self.assertEqual(d.values.dtype, np.float64)
            np.testing.assert_array_equal(d.values, (d.raw.astype(float) - p[9]) * p[7] + p[8])
            np.testing.assert_array_equal(d.time, (np.arange(len(d)) - p[6]) * p[4] + p[5])
        # The simulator's inputs at power-on: channel 1 a 1.2 V sine, channel 2 a 0.8 V one.
        for d, peak in zip(c.datasets, (1.2, 0.8)):
            self.assertAlmostEqual(d.values.max(), peak, delta=0.1 * peak)
        pod = c.datasets[2].values
        self.assertTrue(np.all((pod >= 0) & (pod <= 255)))

    def test_split_pod_and_screen_image(self):
        with Simulator("--model", "MSOHX5104") as sim:
            c = session(sim.address, "CHAN1", screen=True, split_pod1=True).capture(points=1000)
        self.assertEqual((c.data_type, c.action_type), (64 + 32, 5))
        self.assertEqual([d.source for d in c.datasets], ["CHAN1"] + ["D%d" % i for i in range(8)])
        for d in c.datasets[1:]:
            self.assertEqual(d.units, ("sec", "byte"))
            self.assertTrue(set(np.unique(d.values)) <= {0.0, 1.0}, d.source)
        with open(c.image_path, "rb") as f:
            self.assertEqual(f.read(2), b"BM")

    def test_raw_is_a_view_and_save_writes_the_formats(self):
        with Simulator("--model", "MSOHX5104") as sim:
            c = session(sim.address, "CHAN1,POD1").capture(points=1000)
        ch1, pod = c.datasets
        # The add-in's array itself: no copy, read-only, in the type delivered.
        self.assertFalse(ch1.raw.flags.owndata or ch1.raw.flags.writeable)
        self.assertTrue(np.shares_memory(ch1.raw, c.datasets[0].raw))
        self.assertEqual(ch1.raw.dtype, np.int16)
        with self.assertRaises(ValueError):
            ch1.raw[0] = 1
        self.assertIs(ch1.values, c.datasets[0].values)  # computed once

        folder = os.path.join(ROOT, "saved")
        files = c.save(folder, format="csv,h5,vcd")
        self.assertEqual(sorted(os.path.basename(f) for f in files),
                         ["capture.h5", "capture.vcd", "ch1.csv", "pod1.csv"])
        import h5py
        with h5py.File(os.path.join(folder, "capture.h5"), "r") as f:
            np.testing.assert_array_equal(f["CH1/raw"][()], ch1.raw)
            np.testing.assert_array_equal(f["POD1"].attrs["preamble"], pod.preamble)
        with self.assertRaises(wavecatch.Error):
            c.save(folder, format="xls")

    def test_save_refuses_a_sigrok_rate_below_one_hertz(self):
        with Simulator("--model", "MSOHX5104") as sim:
            host, port = sim.address.rsplit(":", 1)
            with socket.create_connection((host, int(port))) as scpi:
                scpi.sendall(b":TIMebase:SCALe 50;:WAVeform:POINts 100\n")
            c = session(sim.address, "CHAN1").capture(points=100)
        folder = os.path.join(ROOT, "slow")
        with self.assertRaisesRegex(wavecatch.Error, "capture.sr not written: .* below 1 Hz"):
            c.save(folder, format="csv,sr")
        self.assertEqual(os.listdir(folder), ["ch1.csv"])

    def test_progress_reports_each_source_in_order(self):
        seen = []
        with Simulator("--model", "MSOHX5104") as sim:
            # The record the simulator offers: the add-in asks for at most that.
            host, port = sim.address.rsplit(":", 1)
            with socket.create_connection((host, int(port))) as scpi:
                scpi.sendall(b":WAVeform:POINts 1000000\n")
            s = session(sim.address, "CHAN1,POD1")
            c = s.capture(points=1000000, progress=lambda *a: seen.append(a))
            self.assertEqual([len(d) for d in c.datasets], [1000000, 1000000])
            by_source = {}
            for source, received, total in seen:
                by_source.setdefault(total, []).append((source, received))
            self.assertEqual(sorted(by_source), [1000000, 2000000])  # bytes and words
            for total, reports in by_source.items():
                received = [r for _, r in reports]
                self.assertEqual(received, sorted(set(received)))
                self.assertEqual(received[-1], total)
                self.assertEqual(len({src for src, _ in reports}), 1)

            # A callback that raises ends the reports; the error comes out.
            def fail(*a):
                raise KeyError("stop")
            with self.assertRaises(KeyError):
                s.capture(points=1000000, progress=fail)


class FailedSourceTest(unittest.TestCase):
    def test_a_failed_source_is_marked_and_hands_out_no_data(self):
        # Channel 2's preamble read fails: the add-in appends channel 1's
        # block and data again under channel 2's code.
        with Simulator("--model", "MSOHX5104", "--garbage-preamble",
                       "--fault-source", "CHAN2") as sim:
            c = session(sim.address, "CHAN1,CHAN2,POD1").capture(points=1000)
        self.assertEqual([d.source for d in c.datasets], ["CHAN1", "CHAN2", "POD1"])
        self.assertEqual([d.ok for d in c.datasets], [True, False, True])
        ch2 = c.datasets[1]
        self.assertEqual([d.source for d in c.failed], ["CHAN2"])
        self.assertIs(c.failed[0], ch2)
        self.assertTrue(c.cancelled)
        self.assertIn("transfer failed (Error retreiving scope data.)", ch2.error)
        for name in ("values", "raw", "time", "preamble"):
            with self.assertRaises(wavecatch.Error, msg=name):
                getattr(ch2, name)
        self.assertEqual(len(c.datasets[0].values), 1000)

        folder = os.path.join(ROOT, "failed")
        self.assertEqual(sorted(os.path.basename(f) for f in c.save(folder)),
                         ["ch1.csv", "pod1.csv", "raw.json"])
        # An earlier capture's file that this one does not write: refused,
        # or kept as it is with force.
        earlier = os.path.join(folder, "ch2.csv")
        with open(earlier, "w") as f:
            f.write("time_s,volts\n0,1\n")
        with self.assertRaises(wavecatch.Error) as caught:
            c.save(folder)
        self.assertIn("ch2.csv", str(caught.exception))
        c.save(folder, force=True)
        with open(earlier) as f:
            self.assertEqual(f.read(), "time_s,volts\n0,1\n")


class TemporaryImageTest(unittest.TestCase):
    def images(self):
        return glob.glob(os.path.join(os.environ["TMPDIR"], "*.bmp"))

    def test_the_image_goes_with_its_capture(self):
        with Simulator("--model", "MSOHX5104") as sim:
            c = session(sim.address, "CHAN1", screen=True).capture(points=1000)
            path = c.image_path
            self.assertEqual(self.images(), [path])
            del c
            gc.collect()
            self.assertEqual(self.images(), [])
        # A transfer that fails after the image came: nothing is delivered,
        # nothing is left.
        with Simulator("--model", "MSOHX5104", "--cut-data") as sim:
            try:
                session(sim.address, "CHAN1", screen=True).capture(points=1000)
            except wavecatch.Error:
                pass
            gc.collect()
            self.assertEqual(self.images(), [])


class InterruptTest(unittest.TestCase):
    def test_ctrl_c_stops_a_transfer_at_its_next_step(self):
        with Simulator("--model", "MSOHX5104") as sim:
            host, port = sim.address.rsplit(":", 1)
            with socket.create_connection((host, int(port))) as scpi:
                scpi.sendall(b":WAVeform:POINts 1000000\n")
            # 2 MB of words: Ctrl-C comes within the first MiB, the step
            # at 1 MiB passes, and the rest is held back.
            proxy = HoldingProxy(sim.address, 512 * 1024, 640 * 1024,
                                 lambda: os.kill(os.getpid(), signal.SIGINT))
            try:
                s = session(proxy.address, "CHAN1")
                with self.assertRaises(KeyboardInterrupt):
                    s.capture(points=1000000)
                self.assertFalse(proxy.timed_out, "the capture waited for the held data")
            finally:
                proxy.close()


class ErrorTest(unittest.TestCase):
    def test_failures_raise_wavecatch_error(self):
        # A simulator that has stopped leaves a port where nobody answers:
        # the add-in's retry prompts are answered Cancel without a display.
        sim = Simulator()
        address = sim.address
        sim.stop()
        s = session(address, "CHAN1")
        with self.assertRaises(wavecatch.Error) as caught:
            s.capture()
        self.assertEqual(caught.exception.number, wavecatch.CANCELLED)
        self.assertIn("No data", str(caught.exception))
        self.assertIn(address, str(caught.exception))
        self.assertIsInstance(caught.exception, RuntimeError)

        with self.assertRaises(wavecatch.Error) as caught:
            wavecatch.Session(module=os.path.join(ROOT, "missing.so"))
        self.assertEqual(caught.exception.number, 429)
        self.assertIn("missing.so", caught.exception.description)

    def test_points_the_add_in_would_store_as_unknown_are_refused(self):
        s = session("127.0.0.1:1", "CHAN1")
        stored = s.setting("Number Points")
        for points in (-1, "abc", "1e300", 1e300, 2.0, True, "", 0):
            with self.assertRaises(wavecatch.Error, msg=repr(points)) as caught:
                s.capture(points=points)
            self.assertIn("whole number", str(caught.exception))
            self.assertEqual(s.setting("Number Points"), stored, repr(points))

    def test_the_error_log_named_is_there(self):
        # A module of its own, so that its log is this test's alone.
        folder = os.path.join(ROOT, "addin")
        os.makedirs(folder, exist_ok=True)
        module = shutil.copy(os.environ["WAVECATCH_TEST_MODULE"], folder)
        log = os.path.join(folder, "Error%s.txt" % os.path.basename(module).split(".so")[0])
        sim = Simulator()
        address = sim.address
        sim.stop()
        for written in (False, True):
            if written:
                open(log, "a").close()
            with self.assertRaises(wavecatch.Error) as caught:
                session(address, "CHAN1", module=module).capture()
            self.assertEqual(log in str(caught.exception), os.path.exists(log), written)
            self.assertIn("messages above", str(caught.exception))

    def test_module_facts(self):
        models = wavecatch.supported_instruments()
        self.assertIn("MSOHX5104", models)
        self.assertTrue(all(m and m == m.strip() for m in models))
        version = wavecatch.version(os.environ.get("WAVECATCH_TEST_MODULE"))
        self.assertEqual(version, wavecatch.version())
        self.assertRegex(version, r"^\d+\.\d+\.\d+$")
        self.assertTrue(os.path.isabs(wavecatch.Session(address="127.0.0.1:1").module_path))


if __name__ == "__main__":
    unittest.main()
