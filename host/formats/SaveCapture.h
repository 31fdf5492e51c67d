// Saving a capture into a folder: the chosen formats' files, the screen
// image and the plot, and the summary the capture command prints.
#pragma once

#include <string>
#include <vector>

#include "host/Capture.h"
#include "host/Json.h"
#include "host/formats/CaptureFormat.h"
#include "support/Error.h"

namespace cvn::host {

struct WrittenFiles {
    std::string folder;
    std::vector<std::string> files;  // paths inside folder, in writing order
    std::vector<std::string> kept;   // files of an earlier capture left as they were
    // Files of the chosen formats that cannot hold this capture truthfully
    // (a sigrok file at a rate that is not whole hertz), each as
    // "<file> not written: <why>"; the other files are written all the same.
    std::vector<std::string> skipped;
};

// "./wavecatch-YYYYMMDD-HHMMSS" (with a suffix when that exists already).
std::string DefaultCaptureFolder();
// The files in folder that a capture writes (ch1.csv, d3.csv, raw.json,
// capture.h5, screen.bmp, plot.png...), by name, sorted; none when the
// folder does not exist.
std::vector<std::string> CaptureFilesIn(const std::string& folder);
// Writes the formats' files (a vcd only when there are logic lines; sr and
// vcd only at a rate they can state, else listed in `skipped`),
// screen.bmp (when an image came) and plot.png into folder (created when
// missing), files only for what arrived: no data sets, no data files and
// no plot. Files of an earlier capture that this one does not write are
// refused (cvn::Error kEarlierFiles naming them) unless keepEarlier, which
// leaves them as they are and names them in `kept`. Needs a
// QGuiApplication for the plot. Throws cvn::Error when a file cannot be
// written.
inline constexpr int32_t kEarlierFiles = kFileExists;
WrittenFiles WriteCapture(const CaptureResult& result, const std::string& folder,
                          const FormatSet& formats = DefaultFormats(), bool keepEarlier = false);
// Only the formats' files, without image and plot (no Qt needed).
WrittenFiles SaveFormats(const CaptureResult& result, const std::string& folder,
                         const FormatSet& formats, bool keepEarlier = false);
// The PNG bytes of the capture's plot, titled with the model and what was
// captured, as WriteCapture writes it. Needs a QGuiApplication.
std::string CapturePlotPng(const CaptureResult& result);

// The summary the capture command prints, as lines or as JSON.
std::string SummaryText(const CaptureResult& result, const WrittenFiles& files);
std::string SummaryJson(const CaptureResult& result, const WrittenFiles& files);

// "failed": the sets left out with the reason, as raw.json and the
// summary name them (nothing when none failed).
void WriteFailedSets(JsonWriter& j, const CaptureResult& result);

}  // namespace cvn::host
