// The bench tools' connection, screen image and instrument search.
#include <QBuffer>
#include <QImage>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "automation/ClassRegistry.h"
#include "cvnWCHalv.h"
#include "dialog/CvnDiscovery.h"
#include "dialog/InstrumentSearch.h"
#include "host/AddinLoader.h"
#include "host/Capture.h"
#include "host/bench/Bench.h"
#include "host/bench/ModelCheck.h"
#include "io/IoSession.h"
#include "io/Vxi11Transport.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "support/AppKey.h"
#include "support/AtomicFile.h"
#include "support/Error.h"
#include "support/SettingsStore.h"

namespace cvn::host {

namespace {

[[noreturn]] void fail(const std::string& why) {
    throw Error(kBenchFailed, why, "wavecatch");
}

// The add-in's connection check says only "No connection."; opening the
// address once more tells the user why (refused, no route, no device).
std::string whyNoAnswer(const std::string& address) {
    try {
        io::IoManager().Open(address, 2000);
    } catch (const std::exception& e) {
        return ": " + std::string(e.what());
    }
    return " (it did not identify itself as a supported model within 500 ms)";
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

std::string DefaultFileName(const std::string& prefix, const std::string& ext) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = prefix + "-" + stamp;
    std::string name = base + ext;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(name, ec); ++n)
        name = base + "-" + std::to_string(n) + ext;
    return AbsolutePath(name);
}

std::string ResolveAddress(const BenchTarget& target) {
    if (!target.address.empty()) return target.address;
    const std::string stored =
        GetSetting(SettingsKeyFor(target.registryKey), kSettingsSection, kDeviceName);
    if (stored.empty())
        fail(
            "no address given and none stored; pass --address ADDR (for example "
            "192.168.1.20:5025)");
    return stored;
}

std::string OpenScope(const BenchTarget& target) {
    const std::string address = ResolveAddress(target);
    LoadHostModelTable();
    // The add-in's key, so a successful connection stores the address where
    // capture and the next command look for it.
    SettingsAppKey() = SettingsKeyFor(target.registryKey);
    std::string model;
    bool connected = false;
    if (!isConnected(address, true, model, connected))
        fail("no supported scope answered at " + address + whyNoAnswer(address));
    return model;
}

void CloseScope() {
    gSession.reset();
    gIoManager.reset();
    if (gScope) gScope->Disconnect();
}

std::string ReadScreen(const std::string& address, bool invert) {
    LoadHostModelTable();
    CScope& sc = scope();
    if (!sc.Connect(address)) fail("no scope answered at " + address + whyNoAnswer(address));
    std::string temp;
    bool error = false;
    sc.GetBitMap(temp, error, invert);
    struct Remove {
        std::string path;
        ~Remove() {
            std::error_code ec;
            if (!path.empty()) std::filesystem::remove(path, ec);
        }
    } removeTemp{temp};
    if (error || temp.empty()) fail("the scope at " + address + " did not deliver a screen image");

    std::ifstream in(temp, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QImage image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                            static_cast<int>(bytes.size()), "BMP"))
        fail("the scope's screen image is not a bitmap (" + std::to_string(bytes.size()) +
             " bytes)");
    return bytes;
}

std::pair<int, int> WriteScreenImage(const std::string& bytes, const std::string& path) {
    QImage image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                            static_cast<int>(bytes.size())))
        fail("the screen image is not an image QImage reads (" + std::to_string(bytes.size()) +
             " bytes)");
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string sent = ScreenImageFormat(bytes);
    if (!sent.empty() && ext == "." + sent) {
        WriteFileAtomically(path, bytes);
    } else {
        // Converted in memory, so the image takes the same road to its file
        // (or device, pipe, standard output) as every other file.
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        const QByteArray format = QByteArray::fromStdString(ext.empty() ? "png" : ext.substr(1));
        if (!image.save(&buffer, format.constData()))
            fail("cannot write " + path + " ('" + ext + "' is not an image type QImage writes)");
        WriteFileAtomically(
            path, std::string_view(encoded.constData(), static_cast<size_t>(encoded.size())));
    }
    return {image.width(), image.height()};
}

std::string ScreenImageFormat(std::string_view bytes) {
    if (bytes.substr(0, 2) == "BM") return "bmp";
    if (bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8)) return "png";
    return "";
}

std::pair<int, int> SaveScreen(const std::string& address, bool invert, const std::string& path) {
    return WriteScreenImage(ReadScreen(address, invert), path);
}

std::vector<FoundInstrument> FindInstruments(const FindRequest& request) {
    const std::vector<std::string> models = LoadHostModelTable();
    std::vector<std::string> addresses;
    // CVN_DEVICE_ROOT moves the device and sysfs folders under another root,
    // so tests search a folder of their own instead of the machine's buses.
    const char* rootVar = std::getenv("CVN_DEVICE_ROOT");
    const std::string root = rootVar != nullptr && *rootVar != 0 ? rootVar : "/";
    if (request.usb)
        for (auto& a : UsbAddresses(root)) addresses.push_back(a);
    if (request.serial)
        for (auto& a : SerialAddresses(root)) addresses.push_back(a);
    for (const std::string& h : request.hosts)
        for (auto& a : LanAddresses(h)) addresses.push_back(a);
    if (request.lan) {
        for (auto how :
             {io::Vxi11Transport::Discovery::Vxi11Broadcast, io::Vxi11Transport::Discovery::Mdns})
            for (auto& a : io::Vxi11Transport::discover(how, 1000))
                if (std::find(addresses.begin(), addresses.end(), a) == addresses.end())
                    addresses.push_back(a);
    }

    std::mutex mutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::vector<ProbeResult> results;
    {
        ProbeRun run(
            addresses,
            [&](const ProbeResult& r) {
                std::lock_guard lock(mutex);
                results.push_back(r);
            },
            [&] {
                std::lock_guard lock(mutex);
                done = true;
                doneSignal.notify_all();
            });
        std::unique_lock lock(mutex);
        doneSignal.wait(lock, [&] { return done || addresses.empty(); });
    }
    std::vector<FoundInstrument> found;
    // In the order searched, whatever order the probes finished in.
    for (const std::string& a : addresses) {
        for (const ProbeResult& r : results) {
            if (r.address != a) continue;
            auto field = [&](size_t i) { return i < r.idn.size() ? r.idn[i] : std::string(); };
            FoundInstrument f;
            f.address = r.address;
            f.answered = r.answered;
            f.error = r.error;
            if (r.answered) {
                f.maker = field(0);
                f.model = field(1);
                f.serialNumber = field(2);
                f.supported = NamesListedModel(r.reply, models);
            }
            found.push_back(std::move(f));
        }
    }
    return found;
}

}  // namespace cvn::host
