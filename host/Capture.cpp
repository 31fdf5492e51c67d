// The capture command's work: drive the add-in, then save what it delivered.
#include "host/Capture.h"

#include <charconv>
#include <filesystem>
#include <limits>

#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "host/RunProfile.h"
#include "support/AppKey.h"
#include "support/AtomicFile.h"
#include "support/Error.h"
#include "support/SettingsStore.h"
#include "support/StringTable.h"

namespace cvn::host {

namespace fs = std::filesystem;
using automation::getProperty;
using automation::IDispatchObject;
using automation::invokeByName;
using automation::InvokeKind;
using automation::letProperty;
using automation::Variant;

std::string SettingsKeyFor(const std::optional<std::string>& registryKey) {
    if (!registryKey) return kDefaultAppKey;
    return *registryKey + "\\" + kDeviceName;
}

namespace {

bool insideTempFolder(const std::string& path) {
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(tmp && *tmp ? tmp : "/tmp", ec);
    const fs::path file = fs::weakly_canonical(path, ec).parent_path();
    return !ec && file == folder;
}

}  // namespace

std::string UtcNowText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[40];
    const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03dZ", static_cast<int>(millis));
    return stamp;
}

CaptureExtras StartExtras(const CaptureRequest& request) {
    CaptureExtras e;
    e.startTime = UtcNowText();
    e.points = request.points.value_or("");
    e.registryKey = request.registryKey.value_or("");
    e.address = request.address.empty()
                    ? GetSetting(SettingsKeyFor(request.registryKey), kSettingsSection, kDeviceName)
                    : request.address;
    return e;
}

TemporaryImage::~TemporaryImage() {
    std::error_code ignored;
    fs::remove(path_, ignored);
}

CaptureResult RunCapture(IDispatchObject& wc, const CaptureRequest& request,
                         const TransferLog* transfers) {
    // The add-in reads the address from its settings: from a profile of
    // this run's own, so another process writing the user's meanwhile
    // cannot redirect the run.
    RunProfile profile(request.registryKey, request.address);
    letProperty(wc, "RegistryKey", Variant(profile.registryKey()));
    letProperty(wc, "showDialog", Variant(request.dialog));
    if (request.points) letProperty(wc, "numberPoints", Variant(*request.points));
    profile.beforeRun();

    // A host that shows the supported instruments reads them first, which
    // loads the add-in's model table; without it the add-in's connection
    // check counts every scope as supported.
    getProperty(wc, "SupportedInstruments");
    const std::string imageBefore = getProperty(wc, "BMPfilePath").toString();
    invokeByName(wc, "GetDataFromInstrument", InvokeKind::Method);

    CaptureResult r;
    r.cancel = getProperty(wc, "Cancel").toBool();
    r.dataType = getProperty(wc, "DataType").toLong();
    r.actionType = getProperty(wc, "ActionType").toLong();
    profile.storeBack(request.dialog, r.actionType != 0);
    letProperty(wc, "RegistryKey", Variant(profile.userRegistryKey()));
    r.model = getProperty(wc, "ModifiedMenuName").toString();
    r.preamble = NumbersOf(getProperty(wc, "Preamble"));
    r.yData = getProperty(wc, "YData");
    r.xyDescription = getProperty(wc, "XYDescription").toString();
    r.bmpPath = getProperty(wc, "BMPfilePath").toString();
    // A new name is this call's image, also when a failure kept it from
    // being announced; an unchanged one still belongs to an earlier result.
    if (!r.bmpPath.empty() && r.bmpPath != imageBefore && insideTempFolder(r.bmpPath))
        r.imageFile = std::make_shared<const TemporaryImage>(r.bmpPath);
    // Waveform results count only when the add-in says they are there; a
    // cancelled call may leave half-filled arrays behind.
    if (r.actionType & 4) {
        CheckedSets checked =
            CheckDataSets(r.preamble, r.yData, transfers ? &transfers->transfers() : nullptr,
                          GetResString(202, "Error retreiving scope data."));
        r.sets = std::move(checked.sets);
        r.failed = std::move(checked.failed);
        r.warning = std::move(checked.warning);
    }
    return r;
}

CaptureResult RunCapture(const Connection& c, const CaptureRequest& request) {
    // Every report goes into the log that tells the data sets apart, and
    // on to the caller's display when there is one.
    TransferLog log;
    const ProgressSubscription progress(
        c.module, [&](const std::string& source, size_t received, size_t total) {
            log.add(source, received, total);
            if (request.progress) request.progress(source, received, total);
        });
    return RunCapture(*c.object, request, progress.subscribed() ? &log : nullptr);
}

CaptureResult RunCapture(const CaptureRequest& request) {
    return RunCapture(CreateObject(CVN_PROGID_IWAVECATCH, request.modulePath), request);
}

std::optional<std::string> PointsChoice(const std::string& text) {
    std::string upper;
    for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "MAX") return std::string("MAX");
    int64_t n = 0;
    const char* last = text.data() + text.size();
    const auto r = std::from_chars(text.data(), last, n);
    const bool digitsOnly =
        !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digitsOnly || r.ec != std::errc() || r.ptr != last || n < 1 ||
        n > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return std::to_string(n);
}

std::string DataTypeMeaning(int32_t dataType) {
    std::string what;
    switch (dataType & ~32) {
        case 0:
            what = "no waveform data";
            break;
        case 8:
            what = "one waveform data set";
            break;
        case 64:
            what = "several waveform data sets";
            break;
        default:
            what = "unknown data type";
    }
    if (dataType & 32) what += " and a screen image";
    return what;
}

std::string ActionTypeMeaning(int32_t actionType) {
    std::vector<std::string> parts;
    if (actionType & 4) parts.push_back("waveform data");
    if (actionType & 1) parts.push_back("screen image");
    if (parts.empty()) return "nothing delivered";
    std::string out = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) out += " and " + parts[i];
    return out;
}

}  // namespace cvn::host
