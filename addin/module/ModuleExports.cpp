// The exported entry points of libcvnWCHalv.so: C linkage, opaque pointers,
// and nothing that can throw across the boundary.
#include "addin/IWavecatch.h"
#include "addin/Server.h"
#include "automation/Guid.h"
#include "cvnWCHalv.h"
#include "support/qt/QtUiServices.h"
#include "support/qt/TransferProgressView.h"

namespace {
// The module shows its boxes and dialogs as Qt windows from the moment it
// is loaded.
[[maybe_unused]] const bool kQtWindows = (cvn::InstallQtUiServices(), true);
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t DllGetClassObject(const CvnGuid* clsid,
                                                                 void** factory) {
    static_assert(sizeof(CvnGuid) == sizeof(cvn::automation::Guid));
    try {
        return cvn::Server().dllGetClassObject(
            reinterpret_cast<const cvn::automation::Guid*>(clsid), factory);
    } catch (...) {
        return cvn::automation::kStatusUnexpected;
    }
}

__attribute__((visibility("default"))) int32_t DllCanUnloadNow(void) {
    try {
        return cvn::Server().dllCanUnloadNow();
    } catch (...) {
        return cvn::automation::kStatusFalse;
    }
}

__attribute__((visibility("default"))) int32_t DllRegisterServer(void) {
    return cvn::RegisterServer();
}

__attribute__((visibility("default"))) int32_t DllUnregisterServer(void) {
    return cvn::UnregisterServer();
}

__attribute__((visibility("default"))) const char* cvnModuleVersion(void) {
    return cvn::kAddinVersion;
}

__attribute__((visibility("default"))) int32_t cvnSelfRegister(void) {
    return 1;
}

__attribute__((visibility("default"))) const void* cvnTypeLibrary(void) {
    try {
        return &cvn::Server().typeLibrary();
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) void cvnSetTransferProgress(CvnTransferProgress callback,
                                                                   void* context) {
    cvn::SetTransferProgressCallback(callback, context);
}

__attribute__((visibility("default"))) void cvnCancelTransfer(void) {
    cvn::CancelTransfers();
}
}
