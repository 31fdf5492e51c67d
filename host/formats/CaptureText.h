// The text outputs of a data set: its CSV file (time and scaled value per
// line) and its raw values as a JSON array. Both are formatted a chunk at a
// time on several cores and streamed into the file's writer; the text is
// the same byte for byte whatever the number of threads.
#pragma once

#include "host/Scaling.h"
#include "support/AtomicFile.h"

namespace cvn::host {

// "time_s,volts" (or "time_s,state" for logic) and one line per point:
// the time with 12 significant digits, the value in its shortest form.
void WriteCsv(AtomicFileWriter& file, const DataSet& set, unsigned threads);
// A time as the CSV writes it, exactly as printf's "%.12g" (at least 32
// bytes at `at`); returns the end.
char* AppendTime(char* at, double t);
// "[v0,v1,...]" of the raw values, each in its shortest form.
void WriteJsonNumbers(AtomicFileWriter& file, const RawSamples& raw, unsigned threads);

}  // namespace cvn::host
