// The HDF5 file of a capture: one group per data set, named by its source,
// holding the raw values exactly as the add-in delivered them ("raw") and,
// as attributes, the 11-number preamble, the source code, the axis units and
// descriptions; the capture's model and result codes on the file. The
// format for records of millions of points: nothing is formatted, the raw
// arrays are written as they are.
//
// A capture with extras adds the group "extras": attributes start_time
// (UTC, ISO 8601), points, registry_key, address (the capture profile),
// cancel, dataType, actionType (the result codes), identification (the
// *IDN? reply) and missing (what could not be read, when anything); the
// datasets screen_bmp and setup_scp (unsigned bytes: the screen image as the
// scope sent it, the .scp file "setup save" writes), and the group
// measurements (attributes source1, source2; datasets name, text, unit
// (strings) and value (double, NaN: none), one element per row).
#pragma once

#include <string>

#include "host/Capture.h"

namespace cvn::host {

inline constexpr const char* kExtrasGroup = "extras";

// Writes the file at path (atomically); throws cvn::Error when that fails.
void WriteHdf5(const CaptureResult& result, const std::string& path);
// Writes what WriteHdf5 puts in the file (attributes, data set groups,
// extras) into `loc`, an open HDF5 file or group; path names it in errors.
// fixedStrings stores text attributes at their own length instead of as
// variable-length strings, whose heap space HDF5 never gives back when
// the group holding them is deleted.
void WriteHdf5Capture(int64_t loc, const CaptureResult& result, const std::string& path,
                      bool fixedStrings = false);

}  // namespace cvn::host
