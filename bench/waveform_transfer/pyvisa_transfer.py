#!/usr/bin/python3
"""Waveform transfer through Debian's pyvisa-py, the reference a host-side
script would use: the same ":WAVeform:DATA?" query against the same
simulator, timed here and printed as one line

    points=<n> format=<word|byte> bytes=<payload> seconds=<best> MBps=<rate>

The simulator is addressed on the loopback interface only.
"""
import argparse
import sys
import time

import numpy
import pyvisa


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--points", type=int, required=True)
    parser.add_argument("--format", choices=("word", "byte"), required=True)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(
        f"TCPIP::127.0.0.1::{args.port}::SOCKET",
        read_termination="\n",
        write_termination="\n",
    )
    inst.timeout = 120000
    word = args.format == "word"
    source = "CHAN1" if word else "POD1"
    inst.write(":WAVeform:POINts:MODE RAW;:WAVeform:POINts %d" % args.points)
    inst.write(":WAVEFORM:BYTEORDER MSBFIRST;:WAVeform:FORMat %s;:WAVeform:SOURce %s"
               % ("WORD" if word else "BYTE", source))
    inst.query("*OPC?")

    best = None
    values = None
    for _ in range(max(1, args.repeat)):
        start = time.perf_counter()
        if word:
            values = inst.query_binary_values(":WAVeform:DATA?", datatype="h",
                                              is_big_endian=True, container=numpy.array)
        else:
            values = inst.query_binary_values(":WAVeform:DATA?", datatype="B",
                                              container=numpy.array)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    inst.close()
    rm.close()

    if len(values) != args.points:
        print("pyvisa_transfer: expected %d points, got %d" % (args.points, len(values)),
              file=sys.stderr)
        return 1
    payload = args.points * (2 if word else 1)
    print("points=%d format=%s bytes=%d seconds=%.6f MBps=%.3f"
          % (args.points, args.format, payload, best, payload / best / 1e6))
    return 0


if __name__ == "__main__":
    sys.exit(main())
