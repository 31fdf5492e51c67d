// The USBTMC and serial paths of io_transfer, reported after the socket
// figures.
#pragma once

namespace iotransfer {

// Prints what the transport benchmarks measured; `socketRate` is the
// IoSession socket figure in bytes per second (0 when it did not run).
void PrintTransportFigures(double socketRate);

}  // namespace iotransfer
