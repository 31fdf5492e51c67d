// The HDF5 file of a capture: one group per data set, named by its source,
// holding the raw values exactly as the add-in delivered them ("raw") and,
// as attributes, the 11-number preamble, the source code, the axis units and
// descriptions; the capture's model and result codes on the file. The
// format for records of millions of points: nothing is formatted, the raw
// arrays are written as they are.
#pragma once

#include <string>

#include "host/Capture.h"

namespace cvn::host {

// Writes the file at path (atomically); throws cvn::Error when that fails.
void WriteHdf5(const CaptureResult& result, const std::string& path);

}  // namespace cvn::host
