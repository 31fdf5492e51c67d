#!/usr/bin/python3
"""Reads a capture folder's h5, sr and vcd files back with tools that are
not ours (h5py, sigrok-cli, zipfile) and compares them with raw.json: the
same raw samples, the same scaling, rate and channel names, and the session
archive laid out as sigrok's reader needs it. Exits 1 with the differences
listed."""
import json
import subprocess
import sys
import zipfile

import h5py
import numpy as np

folder = sys.argv[1]
problems = []


def check(ok, what):
    if not ok:
        problems.append(what)


raw = json.load(open(f"{folder}/raw.json"))
sets = raw["sets"]


def scaled(s):
    p = s["preamble"]
    return (np.array(s["raw"], dtype=float) - p[9]) * p[7] + p[8]


def logic_lines(s):
    """(name, samples) of each logic line a pod or bit carries."""
    code, values = s["code"], np.array(s["raw"], dtype=np.int64)
    if code in (8, 16):
        first = 8 if code == 16 else 0
        return [(f"D{first + b}", (values >> b) & 1) for b in range(8)]
    if 100 <= code <= 107 or 200 <= code <= 207:
        return [(s["source"], values & 1)]
    return []


logic = [line for s in sets for line in logic_lines(s)]
analog = [s for s in sets if not logic_lines(s)]

# HDF5: groups by source, raw data as received, preamble and codes.
with h5py.File(f"{folder}/capture.h5", "r") as f:
    check(f.attrs["model"] == raw["model"], "h5 model")
    check(int(f.attrs["dataType"]) == raw["dataType"], "h5 dataType")
    check(int(f.attrs["actionType"]) == raw["actionType"], "h5 actionType")
    groups = sorted(k for k in f.keys() if k != "extras")
    check(groups == sorted(s["source"] for s in sets), f"h5 groups {list(f.keys())}")
    for s in sets:
        g = f[s["source"]]
        check(np.array_equal(g["raw"][()], np.array(s["raw"])), f"h5 {s['source']} raw")
        check(np.array_equal(g.attrs["preamble"], np.array(s["preamble"])),
              f"h5 {s['source']} preamble")
        check(int(g.attrs["source_code"]) == s["code"], f"h5 {s['source']} code")
        check(g.attrs["y_units"] in ("Volt", "byte"), f"h5 {s['source']} units")


def sigrok(*args, check=True):
    return subprocess.run(["sigrok-cli", *args], capture_output=True, text=True,
                          check=check).stdout


def csv_rows(text):
    """Analog values by channel and logic rows from sigrok-cli's CSV."""
    values, rows = {}, []
    for line in text.splitlines():
        if not line or line.startswith(";") or line.startswith("logic"):
            continue
        if ":" in line:
            name, rest = line.split(":", 1)
            values.setdefault(name, []).append(float(rest.split()[0]))
        else:
            # Logic lines come first; the analog columns sigrok-cli appends
            # are not aligned with the samples in 0.5.2 and are skipped.
            rows.append([int(v) for v in line.split(",")[:len(logic)]])
    return values, np.array(rows, dtype=np.int64).reshape(len(rows), len(logic))


rate = round(1 / sets[0]["preamble"][4])
points = sets[0]["points"]

# sigrok session: rate, channel names, samples.
show = sigrok("-i", f"{folder}/capture.sr", "--show")
check(f"Samplerate: {rate}" in show, f"sr rate {rate}: {show}")
for name, _ in logic:
    check(f"- {name}: logic" in show, f"sr logic channel {name}")
for s in analog:
    check(f"- {s['source']}: analog" in show, f"sr analog channel {s['source']}")
# sigrok-cli 0.5.2's analog output ends with status 1 after printing every
# sample when the file also holds logic lines; the samples are counted below.
values, _ = csv_rows(sigrok("-i", f"{folder}/capture.sr", "-O", "analog", check=False))
_, rows = csv_rows(sigrok("-i", f"{folder}/capture.sr", "-O", "csv"))
for s in analog:
    got = np.array(values.get(s["source"], []))
    want = scaled(s)
    check(len(got) == len(want), f"sr {s['source']} count {len(got)}")
    # sigrok-cli prints volts with two decimals.
    check(len(got) == len(want) and np.max(np.abs(got - want)) <= 0.0051,
          f"sr {s['source']} values")
check(not logic or len(rows) == points, f"sr logic rows {len(rows)}")
for i, (name, samples) in enumerate(logic):
    check(len(rows) == points and np.array_equal(rows[:, i], samples), f"sr logic {name}")
# Chunked entries, analog numbered after the logic lines; floats of real
# signals barely compress and are stored, logic lines are deflated.
with zipfile.ZipFile(f"{folder}/capture.sr") as z:
    methods = {i.filename: i.compress_type for i in z.infolist()}
    check(z.read("version") == b"2", "sr version")
entries = ["version", "metadata"] + (["logic-1-1"] if logic else [])
entries += [f"analog-1-{len(logic) + k + 1}-1" for k in range(len(analog))]
check(list(methods) == entries, f"sr entries {list(methods)}")
check(all(methods.get(n) == (zipfile.ZIP_DEFLATED if n.startswith("logic") else zipfile.ZIP_STORED)
          for n in entries[2:]), f"sr compression {methods}")

# Value change dump of the logic lines: the same samples up to the last change.
if logic:
    text = sigrok("-i", f"{folder}/capture.vcd", "-O", "csv")
    _, rows = csv_rows(text)
    check(len(rows) >= points - 64, f"vcd rows {len(rows)}")
    for i, (name, samples) in enumerate(logic):
        check(np.array_equal(rows[:points, i], samples[:len(rows)]), f"vcd {name}")

for p in problems:
    print("mismatch:", p)
sys.exit(1 if problems else 0)
