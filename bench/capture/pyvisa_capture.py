#!/usr/bin/python3
"""The four channel transfers of a capture made through Debian's pyvisa-py,
as a host-side script would make them: for each channel the source and the
word format, the preamble, and ":WAVeform:DATA?" read with
query_binary_values into a NumPy array of big-endian 16-bit values.

Prints one line:

    channels=4 points=<per channel> seconds=<transfers only> total=<with connect>

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
    args = parser.parse_args()

    begin = time.perf_counter()
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(
        f"TCPIP::127.0.0.1::{args.port}::SOCKET",
        read_termination="\n",
        write_termination="\n",
    )
    inst.timeout = 120000
    start = time.perf_counter()
    for channel in range(1, 5):
        inst.write(":WAVEFORM:BYTEORDER MSBFIRST;:WAVeform:FORMat WORD;:WAVeform:SOURce CHAN%d"
                   % channel)
        inst.query(":WAVeform:PREamble?")
        values = inst.query_binary_values(":WAVeform:DATA?", datatype="h", is_big_endian=True,
                                          container=numpy.array)
        if len(values) != args.points:
            print("pyvisa_capture: CHAN%d: expected %d points, got %d"
                  % (channel, args.points, len(values)), file=sys.stderr)
            return 1
    end = time.perf_counter()
    inst.close()
    rm.close()
    print("channels=4 points=%d seconds=%.6f total=%.6f"
          % (args.points, end - start, end - begin))
    return 0


if __name__ == "__main__":
    sys.exit(main())
