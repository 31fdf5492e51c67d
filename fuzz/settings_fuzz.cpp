// Writes arbitrary bytes as a settings file under a private configuration
// folder, then reads, writes and deletes values in it the way the driver and
// the capture dialog do, and converts what it reads the way they do.
//
// A sound file must give back exactly what was saved and keep every other
// value; a damaged one must be reported, refused for writing and left
// byte for byte as it was.
//
// Input (FuzzedDataProvider strings, each ended by a backslash and one other
// character): section, key, value, a second key, then the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "automation/AutomationError.h"
#include "automation/Variant.h"
#include "dialog/CaptureProfile.h"
#include "fuzz/FuzzSupport.h"
#include "support/Error.h"
#include "support/SettingsStore.h"
#include "support/UserFolders.h"

namespace {

constexpr const char* kAppKey = "cvnFuzz\\Capture";
constexpr const char* kMissing = "\x01(missing)";

cvn::fuzz::PrivateHome& environment() {
    static cvn::fuzz::PrivateHome home("cvn-settings-fuzz");
    return home;
}

// Only the temporary file of an interrupted write could sit beside the
// settings file; none may be left behind.
void checkNoLeftovers(const std::string& path) {
    const auto folder = std::filesystem::path(path).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        FUZZ_CHECK(entry.path() == path);
}

// What the driver and the dialog make of a stored text.
void convert(const std::string& text) {
    if (cvn::SettingAsInteger(text)) FUZZ_CHECK(cvn::SettingAsNumber(text).has_value());
    if (const auto b = cvn::SettingAsBoolean(text); b && !cvn::SettingAsNumber(text)) {
        FUZZ_CHECK(*b == cvn::ContainsIgnoringCase(text, "true"));
    }
    try {
        (void)cvn::automation::Variant(text).toBool();
    } catch (const cvn::automation::AutomationError& e) {
        FUZZ_CHECK(e.number() == 13);
    }
    for (int channels : {2, 4}) {
        for (bool pods : {false, true}) {
            for (const auto& s : cvn::ParseActiveChannels(text, pods, channels)) {
                if (s.kind == cvn::StoredSource::Kind::Channel) FUZZ_CHECK(s.number <= channels);
                if (s.kind == cvn::StoredSource::Kind::Pod) FUZZ_CHECK(pods);
            }
        }
    }
}

// A list the dialog writes reads back as the same boxes.
void checkSourceList(const std::string& seed) {
    std::vector<bool> channels(4), pods(2);
    for (size_t i = 0; i < 6 && i < seed.size(); ++i) {
        const bool on = (static_cast<unsigned char>(seed[i]) & 1) != 0;
        if (i < 4) {
            channels[i] = on;
        } else {
            pods[i - 4] = on;
        }
    }
    const auto parsed = cvn::ParseActiveChannels(cvn::BuildActiveChannels(channels, pods), true, 4);
    std::vector<bool> seenChannels(4), seenPods(2);
    for (const auto& s : parsed) {
        auto& seen = s.kind == cvn::StoredSource::Kind::Channel ? seenChannels : seenPods;
        FUZZ_CHECK(s.number >= 1 && static_cast<size_t>(s.number) <= seen.size());
        seen[static_cast<size_t>(s.number - 1)] = true;
    }
    FUZZ_CHECK(seenChannels == channels && seenPods == pods);
}

// An application key names a file below the configuration folder, or is
// refused; it never leads out of it.
void checkAppKey(const std::string& appKey) {
    std::string path;
    try {
        path = cvn::SettingsFilePath(appKey);
    } catch (const cvn::Error&) {
        return;
    }
    const std::string home = cvn::UserConfigHome() + "/";
    FUZZ_CHECK(path.rfind(home, 0) == 0);
    for (const auto& part : std::filesystem::path(path.substr(home.size())))
        FUZZ_CHECK(part != ".." && part != "." && !part.empty());
    (void)cvn::GetSetting(appKey, "Capture", "Left");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cvn::fuzz::PrivateHome& env = environment();
    std::error_code ignored;
    std::filesystem::remove_all(env.logFolder(), ignored);
    std::filesystem::create_directories(env.logFolder(), ignored);

    FuzzedDataProvider fdp(data, size);
    const std::string section = fdp.ConsumeRandomLengthString(64);
    const std::string key = fdp.ConsumeRandomLengthString(64);
    const std::string value = fdp.ConsumeRandomLengthString(256);
    const std::string otherKey = fdp.ConsumeRandomLengthString(64);
    const std::string content = fdp.ConsumeRemainingBytesAsString();

    convert(value);
    checkSourceList(value);
    checkAppKey(section);

    const std::string path = cvn::SettingsFilePath(kAppKey);
    std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ignored);
    cvn::fuzz::writeFile(path, content);

    const std::string problem = cvn::SettingsFileProblem(kAppKey);
    const std::string before = cvn::GetSetting(kAppKey, section, key, kMissing);
    const std::string otherBefore = cvn::GetSetting(kAppKey, section, otherKey, kMissing);
    convert(before);

    if (!problem.empty()) {
        FUZZ_CHECK(before == kMissing);
        FUZZ_CHECK(cvn::fuzz::throwsError([&] { (void)cvn::GetSections(kAppKey); }));
        FUZZ_CHECK(cvn::fuzz::throwsError([&] { cvn::SaveSetting(kAppKey, section, key, value); }));
        FUZZ_CHECK(cvn::fuzz::throwsError([&] { cvn::DeleteSetting(kAppKey, section, key); }));
        FUZZ_CHECK(cvn::fuzz::throwsError([&] { cvn::DeleteSetting(kAppKey, section); }));
        FUZZ_CHECK(cvn::fuzz::readFile(path) == content);
        FUZZ_CHECK(cvn::SettingsFileProblem(kAppKey) == problem);
        checkNoLeftovers(path);
        return 0;
    }

    const auto sections = cvn::GetSections(kAppKey);
    if (before != kMissing)
        FUZZ_CHECK(section.empty() || std::count(sections.begin(), sections.end(), section) > 0);

    cvn::SaveSetting(kAppKey, section, key, value);
    FUZZ_CHECK(cvn::SettingsFileProblem(kAppKey).empty());
    FUZZ_CHECK(cvn::GetSetting(kAppKey, section, key, kMissing) == value);
    if (otherKey != key)
        FUZZ_CHECK(cvn::GetSetting(kAppKey, section, otherKey, kMissing) == otherBefore);
    const auto sectionsAfter = cvn::GetSections(kAppKey);
    for (const std::string& s : sections)
        FUZZ_CHECK(std::count(sectionsAfter.begin(), sectionsAfter.end(), s) > 0);

    cvn::DeleteSetting(kAppKey, section, key);
    FUZZ_CHECK(cvn::SettingsFileProblem(kAppKey).empty());
    FUZZ_CHECK(cvn::GetSetting(kAppKey, section, key, kMissing) == kMissing);
    if (otherKey != key && !key.empty())
        FUZZ_CHECK(cvn::GetSetting(kAppKey, section, otherKey, kMissing) == otherBefore);

    cvn::DeleteSetting(kAppKey, section);
    FUZZ_CHECK(cvn::GetSetting(kAppKey, section, otherKey, kMissing) == kMissing);
    const auto remaining = cvn::GetSections(kAppKey);
    FUZZ_CHECK(std::count(remaining.begin(), remaining.end(), section) == 0);
    checkNoLeftovers(path);
    return 0;
}
