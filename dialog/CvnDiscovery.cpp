// The discovery component's plain objects.
#include "dialog/CvnDiscovery.h"

#include <strings.h>

namespace cvn {

bool SameKey(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

CvnInstrument::CvnInstrument(std::string address, std::string maker, std::string model,
                             std::string serialNumber, bool supported)
    : address_(std::move(address)),
      maker_(std::move(maker)),
      model_(std::move(model)),
      serialNumber_(std::move(serialNumber)),
      supported_(supported) {}

io::IoSessionPtr CvnInstrument::Session() {
    if (!session_) session_ = io::IoManager().Open(address_);
    return session_;
}

}  // namespace cvn
