#!/usr/bin/python3
"""Scales and plots a capture saved with `wavecatch capture --format h5`.

    plot_h5.py wavecatch-20260101-120000/capture.h5 [--save plot.png]

Each group holds one data set: "raw" as the scope delivered it and the
11-number "preamble" that scales it (value = (raw - p[9]) * p[7] + p[8],
time of point i = (i - p[6]) * p[4] + p[5]). The group "extras", when the
capture kept it, gives the title (the scope's identification and the start
time), the scope's own measurements beside the traces and its screen image.
Needs python3-h5py and python3-matplotlib (Debian).
"""

import argparse
import io

import h5py
import numpy as np


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("file")
    ap.add_argument("--save", help="write a PNG instead of showing a window")
    args = ap.parse_args()

    import matplotlib
    if args.save:
        matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    with h5py.File(args.file, "r") as f:
        extras = f.get("extras")
        screen = extras is not None and "screen_bmp" in extras
        fig = plt.figure(figsize=(14 if screen else 10, 6))
        grid = fig.add_gridspec(2, 2 if screen else 1, height_ratios=[3, 1])
        analog = fig.add_subplot(grid[0, 0])
        logic = fig.add_subplot(grid[1, 0], sharex=analog)
        for name, group in f.items():
            if name == "extras":
                continue
            p = group.attrs["preamble"]
            raw = group["raw"][()]
            time = (np.arange(len(raw)) - p[6]) * p[4] + p[5]
            values = (raw.astype(np.float64) - p[9]) * p[7] + p[8]
            # Pods and bits hold states (units "byte"), channels volts.
            ax = logic if group.attrs["y_units"] == "byte" else analog
            ax.plot(time, values, label=name, linewidth=0.8, drawstyle="steps-post")
        title = f.attrs["model"]
        if extras is not None:
            title = f"{extras.attrs.get('identification', title)}  {extras.attrs['start_time']}"
            if "measurements" in extras:
                m = extras["measurements"]
                wanted = {"Freqeuncy", "Peak-Peak", "RMS", "Average"}
                lines = [f"{n.decode()}: {t.decode()}" for n, t in zip(m["name"], m["text"])
                         if n.decode() in wanted]
                analog.text(0.01, 0.98, f"{m.attrs['source1']}\n" + "\n".join(lines),
                            transform=analog.transAxes, va="top", fontsize=8, family="monospace",
                            bbox={"facecolor": "white", "alpha": 0.8})
            if screen:
                shot = fig.add_subplot(grid[:, 1])
                shot.imshow(plt.imread(io.BytesIO(extras["screen_bmp"][()].tobytes()), "bmp"))
                shot.set_axis_off()
                shot.set_title("the scope's screen")
        analog.set_title(title)
    analog.set_ylabel("volts")
    logic.set_ylabel("state")
    logic.set_xlabel("time (s)")
    for ax in (analog, logic):
        if ax.lines:
            ax.legend(loc="upper right")
    fig.tight_layout()
    if args.save:
        fig.savefig(args.save, dpi=100)
    else:
        plt.show()


if __name__ == "__main__":
    main()
