// The add-in's bench tools without its dialog: the same routines the capture
// dialog's Measurement and Scope Settings tabs, CScope's screen image and the
// Find Instrument search run, called directly. Shared by the wavecatch
// commands and the Python module, so both send the same commands, show the
// same texts and write the same files as the dialog.
//
// These routines are linked into the host program from the add-in's own
// static libraries: the add-in's automation interface offers them only
// behind its dialog. They use the program's own copy of the shared session
// (gSession), never the state of a module loaded for a capture.
//
// Failures throw cvn::Error with kBenchFailed and a description that says
// why; message boxes the routines show go to the UI services in use (the
// callers install a ConsoleUi).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cvn::host {

inline constexpr int32_t kBenchFailed = 5100;

// Where the instrument is: address given, else the one the add-in stored
// under the settings key (RegistryKey value; nothing: the default key).
struct BenchTarget {
    std::string address;
    std::optional<std::string> registryKey;
};

// The address to use; throws when none is given and none is stored.
std::string ResolveAddress(const BenchTarget& target);

// Opens the shared session with the add-in's connection check (500 ms
// identification, supported model, address stored). Gives the model.
std::string OpenScope(const BenchTarget& target);
// Closes the shared session and the scope object's session.
void CloseScope();

// ---- Measurements ----
struct MeasureRequest {
    std::optional<std::string> source1;  // as the lists name them ("CHAN1", "MATH")
    std::optional<std::string> source2;
    bool newAcquisition = false;
    std::vector<std::string> only;  // captions or row names; empty: all allowed
};
struct MeasureRow {
    std::string name;             // row name, "Freq"
    std::string caption;          // as the tab shows it, "Freqeuncy"
    std::string text;             // "+1.00000kHz", "No edges"
    std::optional<double> value;  // SI base units; nothing for "No edges"
    std::string unit;             // "Hz", "%", "°"
    std::string reply;            // as the scope sent it, "+1.00000E+03"
};
struct MeasureResult {
    std::string source1, source2;
    std::vector<MeasureRow> rows;           // in query order
    std::vector<std::string> notAvailable;  // asked for, but not for this source
};
// Index of the row the user means (caption or row name, ignoring case and
// blanks); nothing when no row has that name.
std::optional<size_t> FindMeasurement(const std::string& name);
// A measurement source as the tab's lists name it ("CHAN1".."CHAN4",
// "DIG0".."DIG15" in the first list only, "MATH"; any letter case, "FUNC"
// for "MATH"); nothing for a name the lists never offer.
std::optional<std::string> MeasurementSource(const std::string& name, bool second);
// The Measurement tab's sequence on the open session: the sources chosen,
// then (newAcquisition) ":SINGle" and its pause, then "Current
// Acquisition". Throws when the sequence fails, and when the scope measures
// another first source than the one asked for (one it does not show).
MeasureResult RunMeasurements(const MeasureRequest& request);
// The "Save Data" file of those rows, in the tab's order of its boxes.
void WriteMeasurementFile(const std::string& path, const MeasureResult& result);

// ---- Setup files ----
// The Scope Settings tab's two actions on the open session; a refused file
// throws with the box's text and sends nothing.
void SaveSetup(const std::string& path);
void RestoreSetup(const std::string& path);

// ---- Screen image ----
// CScope's screen image of the scope at address, written to path: ".bmp"
// as received, anything else converted by QImage (by its extension).
// Gives the width and height of the image.
std::pair<int, int> SaveScreen(const std::string& address, bool invert, const std::string& path);
// The two halves of it: the image's bytes as the scope sent them (checked
// to be a bitmap), and those bytes written to path as SaveScreen writes.
std::string ReadScreen(const std::string& address, bool invert);
std::pair<int, int> WriteScreenImage(const std::string& bytes, const std::string& path);
// "bmp" or "png" by the bytes' signature; "" for anything else.
std::string ScreenImageFormat(std::string_view bytes);

// ---- Find ----
struct FindRequest {
    bool usb = true;
    bool serial = false;
    bool lan = false;
    std::vector<std::string> hosts;
};
struct FoundInstrument {
    std::string address, maker, model, serialNumber, error;
    bool answered = false;
    bool supported = false;
};
std::vector<FoundInstrument> FindInstruments(const FindRequest& request);

// "<prefix>-YYYYMMDD-HHMMSS<ext>" in the current folder, absolute.
std::string DefaultFileName(const std::string& prefix, const std::string& ext);
// The absolute form of a path the user gave.
std::string AbsolutePath(const std::string& path);

}  // namespace cvn::host
