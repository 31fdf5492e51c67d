// The scope's part of a capture's extras, read after the retrieval has
// returned: the scope is stopped then, so its identification, setup and
// quick measurements describe the acquisition just captured. The same
// routines as the setup and measure commands, on the shared session.
#pragma once

#include <string>
#include <vector>

#include "host/Capture.h"

namespace cvn::host {

// Fills result.extras from `extras` (StartExtras: time and profile) and the
// scope at extras.address: the screen image the capture received, the
// *IDN? reply, the setup file "setup save" would write and the 24
// measurements of the current acquisition. Never throws for the scope's
// sake: what cannot be read is left empty and named in extras.missing (also
// the returned lines). A scope that answers as another model than the one
// captured gives none of its items: they would not be the capture's.
// Leaves the shared session open (CloseScope).
std::vector<std::string> ReadCaptureExtras(CaptureResult& result, CaptureExtras extras);

// Sends a setup file's bytes (as a capture's extras keep them) to the open
// scope through RestoreSetup, with every check a .scp file gets; `origin`
// names where they came from in the messages.
void RestoreSetupBytes(const std::string& setupFile, const std::string& origin);

}  // namespace cvn::host
