#include "support/AppKey.h"

namespace cvn {

std::string& SettingsAppKey() {
    static std::string key = kDefaultAppKey;
    return key;
}

}  // namespace cvn
