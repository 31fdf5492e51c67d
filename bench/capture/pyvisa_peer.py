#!/usr/bin/python3
"""The same capture as `wavecatch capture` makes it, written the way a user
writes it with Debian's pyvisa-py and NumPy: stop the scope, read the four
channels' preambles and words with query_binary_values, scale them with the
preamble, save each as a CSV with numpy.savetxt (time with 12 digits, the
value), and save the screen image.

Prints one line:

    channels=4 points=<per channel> seconds=<whole job after connect> total=<with imports>

The simulator is addressed on the loopback interface only.
"""
import time

BEGIN = time.perf_counter()

import argparse  # noqa: E402
import os  # noqa: E402
import sys  # noqa: E402

import numpy as np  # noqa: E402
import pyvisa  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--points", type=int, required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    rm = pyvisa.ResourceManager("@py")
    scope = rm.open_resource(f"TCPIP::127.0.0.1::{args.port}::SOCKET",
                             read_termination="\n", write_termination="\n")
    scope.timeout = 120000
    start = time.perf_counter()
    scope.write(":STOP")
    for channel in range(1, 5):
        scope.write(":WAVEFORM:BYTEORDER MSBFIRST;:WAVeform:FORMat WORD;"
                    ":WAVeform:SOURce CHAN%d" % channel)
        pre = [float(v) for v in scope.query(":WAVeform:PREamble?").split(",")]
        raw = scope.query_binary_values(":WAVeform:DATA?", datatype="h", is_big_endian=True,
                                        container=np.array)
        if len(raw) != args.points:
            print("pyvisa_peer: CHAN%d: expected %d points, got %d"
                  % (channel, args.points, len(raw)), file=sys.stderr)
            return 1
        t = (np.arange(len(raw)) - pre[6]) * pre[4] + pre[5]
        volts = (raw - pre[9]) * pre[7] + pre[8]
        np.savetxt(os.path.join(args.out, "ch%d.csv" % channel), np.column_stack((t, volts)),
                   fmt=("%.12g", "%.17g"), delimiter=",", header="time_s,volts", comments="")
    image = scope.query_binary_values(":DISPlay:DATA? BMP, SCReen", datatype="B",
                                      container=bytes)
    with open(os.path.join(args.out, "screen.bmp"), "wb") as f:
        f.write(image)
    end = time.perf_counter()
    scope.close()
    rm.close()
    print("channels=4 points=%d seconds=%.6f total=%.6f"
          % (args.points, end - start, end - BEGIN))
    return 0


if __name__ == "__main__":
    sys.exit(main())
