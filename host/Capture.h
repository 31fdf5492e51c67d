// One capture as a host makes it: set the add-in's properties, store the
// address where the add-in looks for it, call GetDataFromInstrument, read the
// results back and tell the data sets apart. Everything reaches the add-in
// through dispatch; host/formats saves the result.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/Variant.h"
#include "host/AddinLoader.h"
#include "host/Scaling.h"
#include "host/TransferProgress.h"

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

// What a capture saved as a complete record holds besides its data: who
// took it, when and how, and the scope's own account of the same stopped
// acquisition. Filled after the retrieval (host/bench reads the scope's
// part); an item that could not be read stays empty and is named in
// `missing`, never filled with anything that is not the scope's.
struct CaptureExtras {
    std::string startTime;  // UTC, ISO 8601 ("2026-01-01T12:00:00.123Z"), taken at the start
    // The capture profile: the settings this capture gave the add-in.
    std::string points;          // the numberPoints choice ("" the stored one)
    std::string registryKey;     // "" the add-in's default key
    std::string address;         // the scope's address the capture used
    std::string identification;  // the *IDN? reply, without its line end
    std::string screenBmp;       // the screen image as the scope sent it ("" none came)
    std::string setupFile;       // the .scp file's bytes, as "setup save" writes them
    struct Measurement {
        std::string name;  // as the Measurement tab shows it ("Freqeuncy")
        std::string text;  // "+1.00000kHz", "No edges"
        double value = 0;  // SI base units; NaN when there is none
        std::string unit;
    };
    std::string measureSource1, measureSource2;
    std::vector<Measurement> measurements;  // the 24 rows, in query order
    std::vector<std::string> missing;       // what could not be read, and why
};

// "2026-01-01T12:00:00.123Z" for now: UTC, ISO 8601, to the millisecond.
std::string UtcNowText();

// The extras known before the scope is asked: the start time (now) and the
// request's profile.
CaptureExtras StartExtras(const CaptureRequest& request);

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
    // The complete record's extras, when they were asked for.
    std::optional<CaptureExtras> extras;
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

// The points choice a user may give (--points, Python's points=): a whole
// number of points from 1 to 2147483647, or MAX in any case (the add-in then
// checks the scope's set-up for a maximum-points transfer). Gives the text
// to pass to numberPoints; nothing for anything else, so no choice the
// add-in would store as unknown ever reaches it.
std::optional<std::string> PointsChoice(const std::string& text);
inline constexpr const char* kPointsRule =
    "takes a whole number of points (1 to 2147483647) or MAX";

std::string DataTypeMeaning(int32_t dataType);
std::string ActionTypeMeaning(int32_t actionType);

}  // namespace cvn::host
