#!/usr/bin/python3
"""Peak memory of a 4 x 8M-point capture in Python, before and after the
scaled values are read.

The raw payload is 4 x 8M words = 64 MB. The target: until `values` is
read, the process's peak resident memory stays within 2x the payload above
what the same session used before the transfer. Run from the build tree:

    PYTHONPATH=build/python HALVIO_SIM=build/apps/halvio-sim/halvio-sim \
        /usr/bin/python3 bench/capture/python_memory.py [--points N]
"""

import argparse
import os
import subprocess
import sys
import tempfile

ROOT = tempfile.mkdtemp(prefix="wavecatch-pymem-")
for name, sub in (("HOME", ""), ("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                  ("TMPDIR", "tmp"), ("XDG_RUNTIME_DIR", "run")):
    os.environ[name] = os.path.join(ROOT, sub)
    os.makedirs(os.environ[name], mode=0o700, exist_ok=True)

import wavecatch  # noqa: E402


def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(field)


def reset_peak():
    # Writing 5 to clear_refs resets VmHWM to the current resident size.
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=8_000_000)
    args = parser.parse_args()
    sim = subprocess.Popen([os.environ.get("HALVIO_SIM", "halvio-sim"), "--model", "MSOHX5104",
                            "--port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        address = sim.stdout.readline().split()[-1]
        s = wavecatch.Session(address=address, registry_key="Corvane\\Linkara\\PyMemBench")
        for name, value in (("ActiveChannels", "CHAN1,CHAN2,CHAN3,CHAN4"), ("Screen", "0"),
                            ("Waveform", "1"), ("MakeNewAcquisition", "0"), ("D0D7", "0"),
                            ("D8D15", "0")):
            s.set_setting(name, value)
        s.capture(points=1000)  # connects, loads everything once
        s.write(":CHAN1:DISP ON;:CHAN2:DISP ON;:CHAN3:DISP ON;:CHAN4:DISP ON;"
                ":WAVeform:POINts:MODE " + ("MAXimum" if args.points > 1_000_000 else "NORMal") +
                ";:WAVeform:POINts %d" % args.points)
        reset_peak()
        base = status("VmRSS")
        c = s.capture(points=args.points)
        raw = sum(d.raw.nbytes for d in c.datasets)
        held = status("VmHWM") - base
        for d in c.datasets:
            d.values
        after_values = status("VmHWM") - base
        mib = 1 << 20
        print(f"data sets {len(c.datasets)} x {args.points} points, raw payload {raw / mib:.1f} MiB")
        print(f"peak above baseline until values are read: {held / mib:.1f} MiB = {held / raw:.2f}x"
              f" the payload (target <= 2x)")
        print(f"peak above baseline after reading values:  {after_values / mib:.1f} MiB ="
              f" {after_values / raw:.2f}x")
        return 0 if held <= 2 * raw else 1
    finally:
        sim.terminate()
        sim.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
