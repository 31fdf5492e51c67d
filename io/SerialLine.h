// The serial line settings the scope's RS-232 port uses: raw bytes, 8 data
// bits, no parity, 1 stop bit, no flow control. Shared by the serial
// transport and by the simulator's pseudo-terminal, so both ends of a line
// are set up alike.
#pragma once

#include <termios.h>

namespace cvn::io {

// The termios speed for `baud`, or B0 for a rate the line does not have.
speed_t LineSpeed(int baud);

// Puts raw 8N1 without flow control at `speed` into `tio`; applying it
// (tcsetattr) is the caller's. Reads' VMIN/VTIME are left as cfmakeraw sets
// them.
void MakeRawLine(termios& tio, speed_t speed);

}  // namespace cvn::io
