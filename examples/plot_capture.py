#!/usr/bin/env python3
"""Captures from a Halvio scope through the wavecatch module and plots it.

    plot_capture.py 192.168.1.20:5025          # the profile the dialog stored last
    plot_capture.py 192.168.1.20:5025 --sources CHAN1,CHAN2,POD1 --points 2000
    plot_capture.py --demo --save demo.png     # against a simulator started here

Analog channels are drawn in volts over time, pods and pod bits below them
as logic traces. Without a display (or with --save) the plot goes to a PNG.
"""

import argparse
import os
import shutil
import subprocess
import sys

import wavecatch

DEMO_KEY = "Corvane\\Linkara\\WavecatchPlotDemo"


def start_simulator():
    """halvio-sim on a free port of 127.0.0.1; returns (process, address)."""
    exe = os.environ.get("HALVIO_SIM") or shutil.which("halvio-sim")
    if not exe:
        sys.exit("plot_capture: halvio-sim not found (install the package or set HALVIO_SIM)")
    proc = subprocess.Popen([exe, "--model", "MSOHX5104", "--port", "0"],
                            stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    prefix = "halvio-sim listening on "
    if not line.startswith(prefix):
        proc.kill()
        sys.exit("plot_capture: the simulator did not start (%r)" % line)
    return proc, line[len(prefix):].strip()


def plot(capture, save):
    import matplotlib
    if save or not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        matplotlib.use("Agg")
        save = save or "capture.png"
    import matplotlib.pyplot as plt

    analog = [d for d in capture.datasets if d.units[1] != "byte"]
    logic = [d for d in capture.datasets if d.units[1] == "byte"]
    rows = (1 if analog else 0) + (1 if logic else 0)
    if rows == 0:
        sys.exit("plot_capture: the capture holds no waveform data")
    fig, axes = plt.subplots(rows, 1, sharex=True, figsize=(10, 3.5 * rows), squeeze=False)
    axes = axes[:, 0]
    if analog:
        ax = axes[0]
        for d in analog:
            ax.plot(d.time * 1e3, d.values, label=d.source, linewidth=0.8)
        ax.set_ylabel(analog[0].units[1])
        ax.legend(loc="upper right")
        ax.grid(True, alpha=0.3)
    if logic:
        ax = axes[-1]
        # Pods are 8-bit values, single lines 0 or 1: stack each on its own lane.
        for lane, d in enumerate(logic):
            top = 255.0 if d.values.max() > 1 else 1.0
            ax.step(d.time * 1e3, lane + 0.8 * d.values / top, where="post", linewidth=0.8)
        ax.set_yticks([lane + 0.4 for lane in range(len(logic))])
        ax.set_yticklabels([d.source for d in logic])
    axes[-1].set_xlabel("time (ms)")
    fig.suptitle("%s: %s" % (capture.model, ", ".join(d.source for d in capture.datasets)))
    fig.tight_layout()
    if save:
        fig.savefig(save, dpi=100)
        print("plot saved to", save)
    else:
        plt.show()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("address", nargs="?", help="scope address, e.g. 192.168.1.20:5025")
    parser.add_argument("--demo", action="store_true", help="capture from a simulator started here")
    parser.add_argument("--sources", help="store this source list first, e.g. CHAN1,CHAN2,POD1")
    parser.add_argument("--points", help="number of points, or MAX")
    parser.add_argument("--dialog", action="store_true", help="show the add-in's capture dialog")
    parser.add_argument("--save", metavar="PNG", help="write the plot to this file")
    parser.add_argument("--module", help="the add-in module (default: registered or installed)")
    args = parser.parse_args()
    if args.demo == bool(args.address):
        parser.error("give an address or --demo")

    sim = None
    try:
        if args.demo:
            sim, address = start_simulator()
            session = wavecatch.Session(address=address, module=args.module,
                                        registry_key=DEMO_KEY)
            for name, value in (("ActiveChannels", args.sources or "CHAN1,CHAN2,POD1"),
                                ("Screen", "0"), ("Waveform", "1"),
                                ("MakeNewAcquisition", "0"), ("D0D7", "0"), ("D8D15", "0")):
                session.set_setting(name, value)
        else:
            session = wavecatch.Session(address=args.address, module=args.module)
            if args.sources:
                session.set_setting("ActiveChannels", args.sources)
        capture = session.capture(dialog=args.dialog, points=args.points or "1000")
    except wavecatch.Error as e:
        sys.exit("plot_capture: error %d: %s" % (e.number, e))
    finally:
        if sim:
            sim.terminate()
            sim.wait(timeout=10)

    for d in capture.datasets:
        print("%-6s %6d points  %s  %.4g .. %.4g %s" % (
            d.source, len(d.values), d.units[0], d.values.min(), d.values.max(), d.units[1]))
    if capture.warning:
        print("warning:", capture.warning)
    plot(capture, args.save)


if __name__ == "__main__":
    main()
