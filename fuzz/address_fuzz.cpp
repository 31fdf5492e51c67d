// Feeds arbitrary texts to the instrument address parser. A text is either
// refused with IoError(kIoBadAddress) or parsed into an address that a
// transport can use as it is; blanks around the text never change the
// outcome.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "io/Address.h"
#include "io/IoError.h"

namespace {

using cvn::io::Address;
using cvn::io::Bus;

std::optional<Address> parse(std::string_view text) {
    try {
        return cvn::io::parseAddress(text);
    } catch (const cvn::io::IoError& e) {
        FUZZ_CHECK(e.code() == cvn::io::kIoBadAddress);
        return std::nullopt;
    }
}

bool same(const Address& a, const Address& b) {
    return a.bus == b.bus && a.host == b.host && a.port == b.port && a.deviceName == b.deviceName &&
           a.devicePath == b.devicePath && a.vendorId == b.vendorId && a.productId == b.productId &&
           a.serialNumber == b.serialNumber && a.board == b.board && a.gpibPrimary == b.gpibPrimary;
}

void checkUsable(const Address& a) {
    FUZZ_CHECK(a.board >= 0 && a.board <= 1000);
    switch (a.bus) {
        case Bus::Socket:
            FUZZ_CHECK(!a.host.empty());
            FUZZ_CHECK(a.port != 0);
            break;
        case Bus::Vxi11:
            FUZZ_CHECK(!a.host.empty());
            FUZZ_CHECK(!a.deviceName.empty());
            break;
        case Bus::Usbtmc:
            FUZZ_CHECK(a.devicePath.empty() || a.devicePath.rfind("/dev/usbtmc", 0) == 0);
            break;
        case Bus::Serial:
            FUZZ_CHECK(!a.devicePath.empty() && a.devicePath.front() == '/');
            break;
        case Bus::Gpib:
            FUZZ_CHECK(a.gpibPrimary >= 0 && a.gpibPrimary <= 30);
            break;
    }
    // A device path is handed to open(2) as a C string.
    FUZZ_CHECK(a.devicePath.find('\0') == std::string::npos);
    FUZZ_CHECK(a.host.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto address = parse(text);
    const auto padded = parse(" \t" + text + "\r\n");
    FUZZ_CHECK(address.has_value() == padded.has_value());
    if (!address) return 0;
    FUZZ_CHECK(same(*address, *padded));
    checkUsable(*address);
    return 0;
}
