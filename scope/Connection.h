// The add-in's shared connection to the oscilloscope. Identification,
// waveform transfer, measurements and settings files all go over gSession;
// isConnected opens it (or reuses it for the same address), checks that a
// supported model answers and remembers the address for the next run.
#pragma once

#include <string>

#include "io/IoSession.h"

namespace cvn {

extern io::IoSessionPtr gSession;
extern std::shared_ptr<io::IoManager> gIoManager;

// gSession for address, reused when io::Reusable, else opened anew. A
// failed open throws and keeps the previous session and manager as they
// were. A new link to the same address keeps the time-out the caller gave
// the old one; a new address starts with the I/O library's default.
io::IoSession& SharedSession(const std::string& address);

// True when a supported scope answered at address. Shows "No connection."
// only when showMessages is set; "Incorrect model." always. Never throws.
bool isConnected(const std::string& address, bool showMessages, std::string& model,
                 bool& connected);

// Stops a running scope at the start of a reading (startOfReading true) and
// starts it again afterwards, on gSession. Never throws.
void SetRunStopMode(bool startOfReading);

}  // namespace cvn
