// One capture as a host makes it: set the add-in's properties, store the
// address where the add-in looks for it, call GetDataFromInstrument, read the
// results back; then write them out as CSV, JSON, the screen image and a
// plot. Everything reaches the add-in through dispatch.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/host/AddinLoader.h"
#include "apps/host/Scaling.h"
#include "apps/host/TransferProgress.h"
#include "automation/Variant.h"

namespace cvn::host {

inline constexpr const char* kDeviceName = "Corvane Halvio Series";

// The settings application key the add-in uses for a RegistryKey value
// (nothing: the add-in's default key).
std::string SettingsKeyFor(const std::optional<std::string>& registryKey);

struct CaptureRequest {
    std::string modulePath;  // empty: the module registered for the class
    std::string address;     // empty: the address stored by an earlier capture
    bool dialog = false;
    std::optional<std::string> registryKey;
    std::optional<std::string> points;  // the numberPoints text, e.g. "1000" or "MAX"
    ProgressCallback progress;          // transfer progress, when wanted
};

// The screen image file the add-in wrote into the temporary folder for one
// call, removed when the last result that holds it goes: the add-in leaves
// it to its host, and a host that never copies it must not leave 1 MB
// behind per capture.
class TemporaryImage {
public:
    explicit TemporaryImage(std::string path) : path_(std::move(path)) {}
    ~TemporaryImage();
    TemporaryImage(const TemporaryImage&) = delete;
    TemporaryImage& operator=(const TemporaryImage&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct CaptureResult {
    bool cancel = false;
    int32_t dataType = 0;
    int32_t actionType = 0;
    std::string model;
    std::vector<double> preamble;
    automation::Variant yData;
    std::string xyDescription;
    std::string bmpPath;
    std::vector<DataSet> sets;      // only data known to be its source's
    std::vector<FailedSet> failed;  // the others: never written, never handed on
    std::string warning;            // point counts that differ from the preambles
    // Owns bmpPath when the add-in made it for this call in the temporary
    // folder (announced or not): copies of the result share it.
    std::shared_ptr<const TemporaryImage> imageFile;
};

// Runs the capture on `wavecatch` (an IWavecatch object). `transfers` are
// the block transfers its module reported meanwhile (null: it reports none),
// by which the data sets are told apart. Automation errors of the add-in
// propagate as cvn::Error.
CaptureResult RunCapture(automation::IDispatchObject& wavecatch, const CaptureRequest& request,
                         const TransferLog* transfers = nullptr);
// Runs the capture on the connection's object with its module's transfer
// progress subscribed (and passed on to the request's callback).
CaptureResult RunCapture(const Connection& connection, const CaptureRequest& request);
// Loads the module, creates the object and runs the capture as above.
CaptureResult RunCapture(const CaptureRequest& request);

std::string DataTypeMeaning(int32_t dataType);
std::string ActionTypeMeaning(int32_t actionType);

struct WrittenFiles {
    std::string folder;
    std::vector<std::string> files;  // paths inside folder, in writing order
    std::vector<std::string> kept;   // files of an earlier capture left as they were
    // Files of the chosen formats that cannot hold this capture truthfully
    // (a sigrok file at a rate that is not whole hertz), each as
    // "<file> not written: <why>"; the other files are written all the same.
    std::vector<std::string> skipped;
};

// The files a capture is saved as, besides the screen image and the plot.
struct OutputFormats {
    bool csv = true;   // one CSV per data set, scaled
    bool json = true;  // raw.json: raw data and preambles
    bool h5 = false;   // capture.h5: raw data and preambles in HDF5
    bool sr = false;   // capture.sr: sigrok session (PulseView)
    bool vcd = false;  // capture.vcd: the logic lines as a value change dump
};
// "csv,json,h5,sr,vcd" (any of them, any order); nullopt for an unknown name
// or an empty list.
std::optional<OutputFormats> ParseFormats(const std::string& list);

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
inline constexpr int32_t kEarlierFiles = 58;  // "file already exists"
WrittenFiles WriteCapture(const CaptureResult& result, const std::string& folder,
                          const OutputFormats& formats = {}, bool keepEarlier = false);
// Only the formats' files, without image and plot (no Qt needed).
WrittenFiles SaveFormats(const CaptureResult& result, const std::string& folder,
                         const OutputFormats& formats, bool keepEarlier = false);

// The summary the capture command prints, as lines or as JSON.
std::string SummaryText(const CaptureResult& result, const WrittenFiles& files);
std::string SummaryJson(const CaptureResult& result, const WrittenFiles& files);

}  // namespace cvn::host
