#!/usr/bin/python3
"""Reads a capture.h5's extras back with h5py and compares them with what
the bench commands give for the same stopped acquisition:

    check_extras.py capture.h5 setup.scp measure.json screen.bmp

the setup file byte for byte, the 24 measurements (name, text, value,
unit), the screen image byte for byte. Exits 1 with the differences."""
import datetime
import json
import math
import sys

import h5py

h5, scp, measure, bmp = sys.argv[1:5]
problems = []


def check(ok, what):
    if not ok:
        problems.append(what)


with h5py.File(h5, "r") as f:
    e = f["extras"]
    check(e["setup_scp"][()].tobytes() == open(scp, "rb").read(), "setup_scp != setup save's file")
    check(e["screen_bmp"][()].tobytes() == open(bmp, "rb").read(), "screen_bmp != screen's BMP")
    check(e.attrs["identification"].startswith("CORVANE,MSOHX5104,"), "identification")
    start = datetime.datetime.fromisoformat(e.attrs["start_time"].replace("Z", "+00:00"))
    age = datetime.datetime.now(datetime.timezone.utc) - start
    check(datetime.timedelta(0) <= age < datetime.timedelta(minutes=5), f"start_time {start}")
    check(e.attrs["points"] == "1000" and e.attrs["address"].startswith("127.0.0.1:"), "profile")
    check(int(e.attrs["cancel"]) == 0 and int(e.attrs["actionType"]) == 5, "result codes")
    check("missing" not in e.attrs, "missing " + str(e.attrs.get("missing")))
    m = e["measurements"]
    rows = list(zip(*(m[k][()] for k in ("name", "text", "value", "unit"))))
    want = json.load(open(measure))["measurements"]
    check(len(rows) == 24 == len(want), f"{len(rows)} rows, measure gave {len(want)}")
    for (name, text, value, unit), w in zip(rows, want):
        got = (name.decode(), text.decode(), None if math.isnan(value) else value, unit.decode())
        check(got == (w["name"], w["text"], w["value"], w["unit"]), f"{got} != {w}")

if problems:
    print("\n".join(problems))
    sys.exit(1)
