// The private settings key of one capture run.
#include "host/RunProfile.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/Capture.h"
#include "support/AppKey.h"
#include "support/AtomicFile.h"
#include "support/Error.h"
#include "support/SettingsStore.h"
#include "support/UserFolders.h"

namespace cvn::host {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultRegistryKey = "Corvane\\Linkara\\Wavecatch";
// Every key the add-in reads or writes in its section.
constexpr const char* kProfileKeys[] = {
    kDeviceName, "ActiveChannels", "Screen", "InvertColor", "Waveform",     "MakeNewAcquisition",
    "D0D7",      "D8D15",          "Left",   "top",         "Number Points"};
// No stored value holds a NUL (the store refuses it), so this marks "absent".
const std::string kAbsent("\0absent", 7);

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "host";
    std::string out(name);
    for (char& c : out)
        if (c == '/' || c == '\\' || c == '-') c = '_';
    return out;
}

// Private keys of runs on this machine whose process is gone (killed
// before it could clean up) are removed, so none pile up.
void sweepStale(const std::string& runsFolder, const std::string& prefix) {
    std::error_code ec;
    for (fs::directory_iterator it(runsFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

RunProfile::RunProfile(const std::optional<std::string>& registryKey, const std::string& address)
    : userKey_(SettingsKeyFor(registryKey)),
      userRegistryKey_(registryKey.value_or(kDefaultRegistryKey)) {
    static std::atomic<int> runs{0};
    const std::string prefix = ".run-" + hostName() + "-";
    registryKey_ = std::string(kDefaultRegistryKey) + "\\" + prefix + std::to_string(::getpid()) +
                   "-" + std::to_string(++runs);
    privateKey_ = SettingsKeyFor(registryKey_);
    file_ = SettingsFilePath(privateKey_);
    folder_ = fs::path(file_).parent_path().string();
    sweepStale(fs::path(folder_).parent_path().string(), prefix);

    if (!MakeFolders(folder_, 0700))
        throw Error(kPathError, "Cannot create the folder " + folder_ + ": " + std::strerror(errno),
                    "wavecatch");
    folderSlot_ = RegisterCleanupPath(folder_);
    fileSlot_ = RegisterCleanupPath(file_);
    try {
        const std::string userFile = SettingsFilePath(userKey_);
        std::error_code ec;
        if (fs::exists(userFile, ec)) WriteFileAtomically(file_, ReadWholeFile(userFile), 0600);
        if (!address.empty()) SaveSetting(privateKey_, kSettingsSection, kDeviceName, address);
        for (const char* name : kProfileKeys) seeded_.push_back({name, privateValue(name)});
    } catch (...) {
        removeKey();
        throw;
    }
}

RunProfile::~RunProfile() {
    removeKey();
}

void RunProfile::removeKey() noexcept {
    std::error_code ec;
    fs::remove_all(folder_, ec);
    // The folder that holds the runs' keys goes too once it is empty (it
    // is not when the user's own default key lives there).
    ::rmdir(fs::path(folder_).parent_path().c_str());
    UnregisterCleanupPath(fileSlot_);
    UnregisterCleanupPath(folderSlot_);
}

std::optional<std::string> RunProfile::privateValue(const std::string& name) const {
    std::string v = GetSetting(privateKey_, kSettingsSection, name, kAbsent);
    if (v == kAbsent) return std::nullopt;
    return v;
}

void RunProfile::beforeRun() {
    if (::stat(file_.c_str(), &before_) != 0) before_ = {};
}

bool RunProfile::rewritten() const {
    struct stat now {};
    if (::stat(file_.c_str(), &now) != 0) return false;
    return !sameFile(now, before_);
}

void RunProfile::storeBack(bool dialog, bool delivered) {
    // Silent, only the connection check writes; with the dialog, OK writes
    // too, so a rewrite alone is not yet a connection.
    const bool connected = rewritten() && (!dialog || delivered);
    for (const Value& v : seeded_) {
        const std::optional<std::string> now = privateValue(v.name);
        if (!now) continue;
        // The address is stored after every successful connection, as the
        // add-in stores it; a different one came from a connection too (the
        // dialog's Find Instrument).
        const bool isAddress = v.name == kDeviceName;
        if (now != v.seeded || (isAddress && connected))
            SaveSetting(userKey_, kSettingsSection, v.name, *now);
    }
}

}  // namespace cvn::host
