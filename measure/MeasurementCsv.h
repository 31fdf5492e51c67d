// The "Save Data" export of the Measurement tab: the rows the user ticked,
// with the texts on screen, as a small comma-separated file.
//
// Format: one line per row, name + "," + text + "," + CR LF, no header, no
// quoting. One byte per character (Latin-1), so the degree sign of a phase
// is one byte; a character beyond Latin-1 is written as "?".
#pragma once

#include <string>
#include <vector>

namespace cvn {

struct MeasurementCsvLine {
    std::string name;  // row name, e.g. "Freq"
    std::string text;  // the result text as shown (UTF-8)
};

// The file's bytes.
std::string MeasurementCsvBytes(const std::vector<MeasurementCsvLine>& lines);

// Writes the file with the rules of support/AtomicFile.h (atomic for a
// file, through a link, directly to a device or pipe). Throws cvn::Error
// naming the file and the cause; an existing file at path is then left as
// it was.
void WriteMeasurementCsv(const std::string& path, const std::vector<MeasurementCsvLine>& lines);

// The name the save dialogs propose: the current folder and "Wavecatch".
std::string DefaultSaveName();

// The whole action: asks for a file with ui().showSave, writes it and tells
// the user in a message box when it cannot be written. Cancelling does
// nothing. Returns true when a file was written. Never throws.
bool SaveMeasurementData(const std::vector<MeasurementCsvLine>& lines);

}  // namespace cvn
