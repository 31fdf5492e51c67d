// A capture's extras from the scope, and a setup sent back from them.
#include "host/bench/CaptureExtras.h"

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "host/ConsoleUi.h"
#include "host/bench/Bench.h"
#include "host/bench/Scpi.h"
#include "io/IoSession.h"
#include "io/ReplyConvert.h"
#include "scope/Connection.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {

namespace {

namespace fs = std::filesystem;

// A folder of our own in the temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/wavecatch-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw Error(kPathError, "cannot make a temporary folder in " + pattern, "wavecatch");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string whyOf(const std::exception& e) {
    if (const auto* error = dynamic_cast<const Error*>(&e)) return error->description();
    return e.what();
}

// Field 1 of an identification, "MSOHX5104" of "CORVANE,MSOHX5104,...".
std::string modelOf(const std::string& identification) {
    const auto fields = io::splitFields(identification);
    return fields.size() > 1 ? std::string(io::trimReply(fields[1])) : std::string();
}

}  // namespace

std::vector<std::string> ReadCaptureExtras(CaptureResult& r, CaptureExtras e) {
    auto missing = [&](const std::string& what, const std::string& why) {
        e.missing.push_back(what + " (" + why + ")");
    };
    // The image as the add-in received it for this capture.
    if ((r.actionType & 1) && !r.bmpPath.empty()) {
        try {
            e.screenBmp = ReadWholeFile(r.bmpPath);
        } catch (const std::exception& ex) {
            missing("screen image", whyOf(ex));
        }
    }
    ConsoleUiScope console(nullptr);
    try {
        OpenScope({e.address, e.registryKey.empty() ? std::nullopt
                                                    : std::optional<std::string>(e.registryKey)});
        const ScpiReply idn = ScpiQuery(*gSession, "*IDN?");
        const std::string text(io::trimReply(idn.text));
        // Another scope at the address since the capture: nothing it says
        // is about the captured acquisition.
        if (modelOf(text) != r.model)
            throw Error(kBenchFailed,
                        "the scope at " + e.address + " is now a " + modelOf(text) +
                            ", not the captured " + r.model,
                        "wavecatch");
        e.identification = text;
    } catch (const std::exception& ex) {
        missing("identification, setup and measurements", whyOf(ex));
        r.extras = std::move(e);
        return r.extras->missing;
    }
    try {
        const TempFolder folder;
        const std::string path = folder.file("setup.scp");
        SaveSetup(path);
        e.setupFile = ReadWholeFile(path);
    } catch (const std::exception& ex) {
        missing("setup", whyOf(ex));
    }
    try {
        const MeasureResult m = RunMeasurements({});
        e.measureSource1 = m.source1;
        e.measureSource2 = m.source2;
        for (const MeasureRow& row : m.rows)
            e.measurements.push_back({row.caption, row.text,
                                      row.value.value_or(std::numeric_limits<double>::quiet_NaN()),
                                      row.unit});
    } catch (const std::exception& ex) {
        missing("measurements", whyOf(ex));
    }
    r.extras = std::move(e);
    return r.extras->missing;
}

void RestoreSetupBytes(const std::string& setupFile, const std::string& origin) {
    const TempFolder folder;
    // Named after its origin, so the checks' messages say where it came from.
    const std::string path = folder.file(fs::path(origin).filename().string() + ".scp");
    WriteFileAtomically(path, setupFile);
    // The checks' messages are collected here and said once, in the error,
    // under the capture's name rather than the temporary file's.
    ConsoleUiScope console(nullptr);
    try {
        RestoreSetup(path);
    } catch (const Error& e) {
        std::string why = e.description();
        for (size_t at = why.find(path); at != std::string::npos; at = why.find(path, at))
            why.replace(at, path.size(), origin);
        throw Error(e.number(), why, e.source());
    }
}

}  // namespace cvn::host
