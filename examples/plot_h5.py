#!/usr/bin/env python3
"""Scales and plots a capture saved with `wavecatch capture --format h5`.

    plot_h5.py wavecatch-20260101-120000/capture.h5 [--save plot.png]

Each group holds one data set: "raw" as the scope delivered it and the
11-number "preamble" that scales it (value = (raw - p[9]) * p[7] + p[8],
time of point i = (i - p[6]) * p[4] + p[5]).
"""

import argparse

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

    fig, (analog, logic) = plt.subplots(2, 1, figsize=(10, 6), sharex=True,
                                        gridspec_kw={"height_ratios": [3, 1]})
    with h5py.File(args.file, "r") as f:
        for name, group in f.items():
            p = group.attrs["preamble"]
            raw = group["raw"][()]
            time = (np.arange(len(raw)) - p[6]) * p[4] + p[5]
            values = (raw.astype(np.float64) - p[9]) * p[7] + p[8]
            # Pods and bits hold states (units "byte"), channels volts.
            ax = logic if group.attrs["y_units"] == "byte" else analog
            ax.plot(time, values, label=name, linewidth=0.8, drawstyle="steps-post")
        analog.set_title(f.attrs["model"])
    analog.set_ylabel("volts")
    logic.set_ylabel("state")
    logic.set_xlabel("time (s)")
    for ax in (analog, logic):
        if ax.lines:
            ax.legend(loc="upper right")
    if args.save:
        fig.savefig(args.save, dpi=100)
    else:
        plt.show()


if __name__ == "__main__":
    main()
