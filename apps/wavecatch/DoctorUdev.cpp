// doctor --udev. The add-in reaches a USB scope through the kernel's usbtmc
// driver, so the instruments are the USB devices with a USBTMC interface
// (class fe, subclass 03) — whatever their ids, which differ between
// models and firmware. Only the ids go into a rule, and only once they are
// checked to be four hex digits: sysfs texts come from the device.
#include "apps/wavecatch/DoctorUdev.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cvn::host {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRulesFile = "/etc/udev/rules.d/60-cvnwchalv-usbtmc.rules";
constexpr const char* kAccess = R"(MODE="0660", GROUP="plugdev", TAG+="uaccess")";

struct Instrument {
    std::string device;  // the sysfs name, "1-2"
    std::string manufacturer, product, serial;
    std::vector<std::string> nodes;  // "/dev/usbtmc0"
};

// The first line of a sysfs attribute; nothing when it cannot be read.
std::optional<std::string> readLine(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    if (in.bad()) return std::nullopt;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// A USB id as udev compares it: four lower-case hex digits.
std::optional<std::string> usbId(const fs::path& file) {
    std::optional<std::string> id = readLine(file);
    if (!id || id->size() != 4) return std::nullopt;
    for (char& c : *id) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

// A device's text fit for a comment line: a line break in it would start
// a rule of the device's making.
std::string commentText(const std::string& s) {
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? ' ' : c;
    }
    return out;
}

std::vector<fs::path> sortedEntries(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

// The usbtmc nodes of a device's USBTMC interfaces; nothing when it has no
// such interface.
std::optional<std::vector<std::string>> usbtmcNodes(const fs::path& device) {
    const std::string prefix = device.filename().string() + ":";
    std::optional<std::vector<std::string>> nodes;
    for (const fs::path& iface : sortedEntries(device)) {
        if (iface.filename().string().rfind(prefix, 0) != 0) continue;
        if (readLine(iface / "bInterfaceClass") != "fe" ||
            readLine(iface / "bInterfaceSubClass") != "03")
            continue;
        if (!nodes) nodes.emplace();
        for (const fs::path& node : sortedEntries(iface / "usbmisc"))
            nodes->push_back("/dev/" + node.filename().string());
    }
    return nodes;
}

std::string describe(const Instrument& i) {
    std::string name = commentText(i.manufacturer);
    const std::string product = commentText(i.product);
    if (!product.empty()) name += (name.empty() ? "" : " ") + product;
    if (name.empty()) name = "USB instrument";
    if (!i.serial.empty()) name += ", serial " + commentText(i.serial);
    name += " (USB " + commentText(i.device);
    for (const std::string& n : i.nodes) name += ", " + commentText(n);
    return name + ")";
}

}  // namespace

int PrintUdevRules(std::ostream& out, std::ostream& err) {
    const char* rootEnv = std::getenv("CVN_SYSFS_ROOT");
    const fs::path root = rootEnv && *rootEnv ? fs::path(rootEnv) : fs::path("/");
    const fs::path devices = root / "sys/bus/usb/devices";

    // One rule per id pair, naming every instrument that has it.
    std::map<std::pair<std::string, std::string>, std::vector<Instrument>> byIds;
    for (const fs::path& device : sortedEntries(devices)) {
        const std::string name = device.filename().string();
        if (name.find(':') != std::string::npos) continue;  // an interface
        std::optional<std::vector<std::string>> nodes = usbtmcNodes(device);
        if (!nodes) continue;
        const std::optional<std::string> vendor = usbId(device / "idVendor");
        const std::optional<std::string> product = usbId(device / "idProduct");
        if (!vendor || !product) {
            err << "wavecatch: doctor --udev: USB instrument " << commentText(name)
                << ": cannot read its " << (vendor ? "idProduct" : "idVendor")
                << " as four hex digits; no rule for it\n";
            continue;
        }
        Instrument i{name, readLine(device / "manufacturer").value_or(""),
                     readLine(device / "product").value_or(""),
                     readLine(device / "serial").value_or(""), std::move(*nodes)};
        byIds[{*vendor, *product}].push_back(std::move(i));
    }
    if (byIds.empty()) {
        err << "wavecatch: doctor --udev: no USB instrument found: no device in "
            << devices.string()
            << " has a USBTMC interface; connect the scope by USB, switch it on and run "
               "this again\n";
        return 1;
    }

    out << "# udev rules giving group plugdev and the user at the machine access to the\n"
           "# USB instruments attached. Save as "
        << kRulesFile
        << "\n"
           "# (it takes the place of the packaged example) and reload:\n"
           "#   sudo udevadm control --reload-rules && sudo udevadm trigger\n";
    for (const auto& [ids, found] : byIds) {
        out << "\n";
        for (const Instrument& i : found) out << "# " << describe(i) << "\n";
        const std::string match =
            R"(ATTRS{idVendor}==")" + ids.first + R"(", ATTRS{idProduct}==")" + ids.second + "\"";
        out << R"(SUBSYSTEM=="usb", )" << match << ", " << kAccess << "\n";
        out << R"(SUBSYSTEM=="usbmisc", KERNEL=="usbtmc[0-9]*", )" << match << ", " << kAccess
            << "\n";
    }
    return 0;
}

}  // namespace cvn::host
