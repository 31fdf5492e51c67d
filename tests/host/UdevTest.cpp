// wavecatch doctor --udev over fake sysfs trees: which devices get a rule,
// one rule per id pair, and texts of a device's making kept out of the rules.
#include <filesystem>
#include <fstream>

#include "host/HostFixture.h"

namespace cvn::host::test {
namespace {

namespace fs = std::filesystem;

struct FakeDevice {
    std::string name, vendor, product, manufacturer, model, serial;
    std::string interfaceClass = "fe";  // "03" a keyboard's
    bool vendorUnreadable = false;
};

const FakeDevice kHalvio{"1-2", "f4c3", "5104", "Corvane", "Halvio MSOHX5104", "CVN1"};

struct Cell {
    const char* name;
    std::vector<FakeDevice> devices;
    int status;
    std::vector<std::string> inOut, notInOut;
    std::string inErr;
    int rules;  // pairs of rule lines
};

class UdevTest : public HostTest {
protected:
    ~UdevTest() override { ::unsetenv("CVN_SYSFS_ROOT"); }

    void build(const std::vector<FakeDevice>& devices) {
        const fs::path root = fs::path(tmp_) / "sysroot";
        const fs::path bus = root / "sys/bus/usb/devices";
        fs::remove_all(root);
        fs::create_directories(bus);
        auto put = [](const fs::path& file, const std::string& text) {
            std::ofstream(file) << text << "\n";
        };
        for (const FakeDevice& d : devices) {
            const fs::path dev = bus / d.name;
            const fs::path iface = dev / (d.name + ":1.0");
            fs::create_directories(iface / "usbmisc" / ("usbtmc" + d.name.substr(2)));
            put(iface / "bInterfaceClass", d.interfaceClass);
            put(iface / "bInterfaceSubClass", d.interfaceClass == "fe" ? "03" : "01");
            if (d.vendorUnreadable)
                fs::create_directories(dev / "idVendor");
            else
                put(dev / "idVendor", d.vendor);
            put(dev / "idProduct", d.product);
            put(dev / "manufacturer", d.manufacturer);
            put(dev / "product", d.model);
            put(dev / "serial", d.serial);
        }
        ::setenv("CVN_SYSFS_ROOT", root.c_str(), 1);
    }

    static int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }
};

TEST_F(UdevTest, RulesForTheInstrumentsAttached) {
    FakeDevice keyboard{"1-1", "046d", "c31c", "Logitech", "Keyboard", ""};
    keyboard.interfaceClass = "03";
    FakeDevice other = kHalvio, same = kHalvio, unreadable = kHalvio, hostile = kHalvio;
    other.name = "1-3", other.product = "5204", other.serial = "CVN2";
    same.name = "1-4", same.serial = "CVN3";
    unreadable.vendorUnreadable = true;
    hostile.vendor = "F4C3", hostile.model = "X\rRUN+=\"/bin/sh\"\nRUN+=\"/bin/sh\"";
    const std::string usbRule =
        R"(SUBSYSTEM=="usb", ATTRS{idVendor}=="f4c3", ATTRS{idProduct}=="5104", MODE="0660", )"
        R"(GROUP="plugdev", TAG+="uaccess")";
    const std::string nodeRule =
        R"(SUBSYSTEM=="usbmisc", KERNEL=="usbtmc[0-9]*", ATTRS{idVendor}=="f4c3", )"
        R"(ATTRS{idProduct}=="5104", MODE="0660", GROUP="plugdev", TAG+="uaccess")";
    const Cell cells[] = {
        {"no device", {}, 1, {}, {"SUBSYSTEM"}, "no USB instrument found", 0},
        {"one Halvio",
         {kHalvio},
         0,
         {usbRule + "\n", nodeRule + "\n",
          "# Corvane Halvio MSOHX5104, serial CVN1 (USB 1-2, "
          "/dev/usbtmc2)\n",
          "/etc/udev/rules.d/60-cvnwchalv-usbtmc.rules",
          "sudo udevadm control --reload-rules && sudo udevadm trigger\n"},
         {},
         "",
         1},
        {"a keyboard ignored", {keyboard, kHalvio}, 0, {usbRule}, {"046d", "Logitech"}, "", 1},
        {"two scopes, two id pairs",
         {kHalvio, other},
         0,
         {usbRule, R"(ATTRS{idProduct}=="5204")", "serial CVN2"},
         {},
         "",
         2},
        {"two scopes, one id pair", {kHalvio, same}, 0, {"serial CVN1", "serial CVN3"}, {}, "", 1},
        {"unreadable idVendor",
         {unreadable},
         1,
         {},
         {"SUBSYSTEM"},
         "1-2: cannot read its idVendor",
         0},
        {"device texts",
         {hostile},
         0,
         {usbRule, "# Corvane X RUN+=\"/bin/sh\", serial"},
         {"\r", "\nRUN"},
         "",
         1},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.name);
        build(c.devices);
        const Run r = run({"doctor", "--udev"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        for (const std::string& s : c.inOut) EXPECT_NE(r.out.find(s), std::string::npos) << s;
        for (const std::string& s : c.notInOut) EXPECT_EQ(r.out.find(s), std::string::npos) << s;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
        EXPECT_EQ(count(r.out, "SUBSYSTEM==\"usb\""), c.rules);
        EXPECT_EQ(count(r.out, "SUBSYSTEM==\"usbmisc\""), c.rules);
    }
    EXPECT_EQ(run({"doctor", "--udev", "--address", "127.0.0.1:5025"}).status, kExitUsage);
}

}  // namespace
}  // namespace cvn::host::test
