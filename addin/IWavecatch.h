// IWavecatch: the one object a host creates. It holds the host's choices
// (settings key, dialog, points) and the results of the last retrieval, and
// is reached only through dispatch.
#pragma once

#include <cstdint>
#include <string>

#include "automation/DispatchTable.h"
#include "automation/Guid.h"
#include "automation/Variant.h"
#include "cvnVersion.h"

namespace cvn {

inline constexpr const char* kTypeLibraryGuid = "{C51D4196-82C1-4108-97FA-4B526DB8430A}";
inline constexpr const char* kWavecatchClassGuid = "{9BF5C679-AD23-42E1-BB7C-6DDB647EE8F4}";
inline constexpr const char* kWavecatchInterfaceGuid = "{C0AEBC69-51E6-4947-82C8-7C59D62C3A6F}";
inline constexpr const char* kMenuName = "Corvane Halvio Series";
inline constexpr const char* kAddinVersion = CVN_VERSION;

class IWavecatch : public automation::DispatchObject<IWavecatch> {
public:
    IWavecatch();
    static const automation::DispatchTable<IWavecatch>& dispatchTable();

    // Members with logic of their own (the rest are plain field reads).
    void SetRegistryKey(const std::string& key);
    std::string ModifiedMenuName() const;
    std::string numberPoints() const;
    void SetNumberPoints(const std::string& text);
    std::string SupportedInstruments() const;
    void AppendPreamble(const automation::Variant& block);
    void AppendData(const automation::Variant& data);
    static int16_t LShiftWord(int16_t w, int16_t c);
    static int16_t RShiftWord(int16_t w, int16_t c);
    void GetDataFromInstrument();

private:
    friend class RetrievalDriver;

    bool cancel_ = false;
    std::string menuName_ = kMenuName;
    int32_t countryCode_ = 0;
    int32_t dataType_ = 0;
    std::string modifiedMenuName_;
    bool showDialog_ = false;
    int32_t actionType_ = 0;
    automation::Array preamble_{automation::VarType::Double, 0, 0};
    automation::Variant yData_;
    std::string xyDescription_;
    automation::Variant xyData_;
    automation::Variant hpgl2Data_;
    automation::Variant hppclData_;
    automation::DispatchRef picture_;
    std::string bmpFilePath_;
};

}  // namespace cvn
