#include "automation/ServerModule.h"

#include <algorithm>
#include <stdexcept>

namespace cvn::automation {

ServerModule& ServerModule::instance() {
    static ServerModule module;
    return module;
}

void ServerModule::describeLibrary(std::string name, Guid libid, std::string help,
                                   uint16_t majorVersion, uint16_t minorVersion) {
    library_.name = std::move(name);
    library_.libid = libid;
    library_.help = std::move(help);
    library_.majorVersion = majorVersion;
    library_.minorVersion = minorVersion;
}

void ServerModule::registerClass(ClassInfo info, ClassFactory::Creator create) {
    if (library_.findClass(info.clsid) || library_.findClass(info.progId)) {
        throw std::logic_error("class registered twice: " + info.progId);
    }
    const InterfaceInfo* itf = info.defaultInterface;
    if (itf && std::find(library_.interfaces.begin(), library_.interfaces.end(), itf) ==
                   library_.interfaces.end()) {
        library_.interfaces.push_back(itf);
    }
    entries_.push_back(
        {info.clsid, Ref<IClassFactory>(new ClassFactory(*this, std::move(create)))});
    library_.classes.push_back(std::move(info));
}

Ref<IClassFactory> ServerModule::getClassObject(const Guid& clsid) const {
    for (const Entry& e : entries_) {
        if (e.clsid == clsid) return e.factory;
    }
    return nullptr;
}

const ClassInfo* ServerModule::findClass(std::string_view progId) const {
    return library_.findClass(progId);
}

bool ServerModule::canUnloadNow() const noexcept {
    return IDispatchObject::liveObjects() == 0 && locks() == 0;
}

int32_t ServerModule::dllGetClassObject(const Guid* clsid, void** factory) const noexcept {
    if (!factory) return kStatusPointer;
    *factory = nullptr;
    if (!clsid) return kStatusPointer;
    Ref<IClassFactory> f = getClassObject(*clsid);
    if (!f) return kStatusClassNotAvailable;
    *factory = f.detach();
    return kStatusOk;
}

int32_t ServerModule::dllCanUnloadNow() const noexcept {
    return canUnloadNow() ? kStatusOk : kStatusFalse;
}

}  // namespace cvn::automation
