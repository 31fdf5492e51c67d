#include "addin/IWavecatch.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "automation/AutomationError.h"
#include "io/ReplyConvert.h"
#include "scope/CScope.h"
#include "scope/ModelTable.h"
#include "support/AppKey.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"
#include "support/Text.h"

namespace cvn {

using automation::ArgInfo;
using automation::Args;
using automation::Array;
using automation::DispatchTable;
using automation::Guid;
using automation::Variant;
using automation::VarType;

namespace {

constexpr const char* kPointsKey = "Number Points";

}  // namespace

IWavecatch::IWavecatch() {
    // The settings key belongs to the server, yet every new object starts
    // from the default: a host that wants its own key sets RegistryKey after
    // creating the object. The scope is created once and then shared.
    SettingsAppKey() = kDefaultAppKey;
    scope();
}

void IWavecatch::SetRegistryKey(const std::string& key) {
    SettingsAppKey() = key + "\\" + kMenuName;
}

std::string IWavecatch::ModifiedMenuName() const {
    return modifiedMenuName_.empty() ? std::string(kMenuName) : modifiedMenuName_;
}

std::string IWavecatch::numberPoints() const {
    return GetSetting(SettingsAppKey(), kSettingsSection, kPointsKey, "");
}

void IWavecatch::SetNumberPoints(const std::string& text) {
    std::string stored = text;
    if (!text.empty()) {
        if (auto v = io::toNumber(text)) {
            // The scope offers these record lengths; anything in between is
            // rounded up to the next one the user can rely on.
            static constexpr std::pair<double, const char*> rows[] = {
                {175, " 100"}, {325, " 250"}, {750, " 500"}, {1500, " 1000"}, {5000, " 2000"}};
            if (*v >= 0)
                for (const auto& [limit, value] : rows)
                    if (*v <= limit) {
                        stored = value;
                        break;
                    }
        } else {
            stored = ToUpperAscii(text);
            if (stored.find("MAX") != std::string::npos || stored.find("ALL") != std::string::npos)
                stored = " MAX";
        }
    }
    try {
        SaveSetting(SettingsAppKey(), kSettingsSection, kPointsKey, stored);
    } catch (...) {
        // The host's call never fails; the reason goes to the error log.
        errorHandler().HandleError("numberPoints", 0, -1);
    }
}

std::string IWavecatch::SupportedInstruments() const {
    LoadModelTable();
    std::string joined;
    for (size_t i = 0; i < gModels.size(); ++i) {
        if (i) joined += ", ";
        joined += gModels[i];
    }
    return joined;
}

void IWavecatch::AppendPreamble(const Variant& block) {
    // The field grows first; an argument that is no array, or whose indices
    // land past the new end, fails afterwards and leaves the field grown
    // (and, when the top index is the one that does not fit, untouched).
    const int32_t upperBound = preamble_.upperBound();
    const int32_t newUpper = upperBound != 0 ? upperBound + 11 : 10;
    preamble_.redimPreserve(newUpper);
    const Array source = block.array();
    for (int32_t i = source.upperBound(); i >= source.lowerBound(); --i)
        preamble_.set(newUpper - 10 + i, Variant(source.get(i).toDouble()));
}

void IWavecatch::AppendData(const Variant& data) {
    if (yData_.isEmpty()) {
        yData_ = data;
        return;
    }
    Array& field = yData_.array();
    // A copy shares the elements and keeps them when data is the field itself.
    const Array source = data.array();
    const int64_t oldCount = static_cast<int64_t>(field.count());
    const int64_t newCount = static_cast<int64_t>(source.count());
    if (field.lowerBound() == 0 && source.lowerBound() == 0 &&
        field.elementType() == source.elementType()) {
        // Same element type, both from 0: a plain append gives the same
        // elements, and no element can fail on the way.
        field.append(source);
        return;
    }
    // Element by element, the way the field's subscripts say: an argument
    // that does not start at 0 writes past the end or over earlier data, and
    // an element that does not convert fails with the elements before it
    // already stored.
    const int64_t newUpper = oldCount + newCount - 1;
    if (newUpper > std::numeric_limits<int32_t>::max())
        throw automation::AutomationError(automation::ErrorNumber::Overflow);
    field.redimPreserve(static_cast<int32_t>(newUpper));
    for (int32_t i = source.lowerBound(); i <= source.upperBound(); ++i) {
        const int64_t target = oldCount + i;
        if (target < std::numeric_limits<int32_t>::min() ||
            target > std::numeric_limits<int32_t>::max())
            throw automation::AutomationError(automation::ErrorNumber::SubscriptOutOfRange);
        field.set(static_cast<int32_t>(target), source.get(i));
    }
}

int16_t IWavecatch::LShiftWord(int16_t w, int16_t c) {
    const double result = std::nearbyint(static_cast<double>(w) * std::pow(2.0, c));
    if (!(result >= -32768.0 && result <= 32767.0))
        throw automation::AutomationError(automation::ErrorNumber::Overflow);
    return static_cast<int16_t>(result);
}

int16_t IWavecatch::RShiftWord(int16_t w, int16_t c) {
    const double divisor = std::nearbyint(std::pow(2.0, c));
    if (divisor > static_cast<double>(std::numeric_limits<int32_t>::max()))
        throw automation::AutomationError(automation::ErrorNumber::Overflow);
    if (divisor == 0) throw automation::AutomationError(automation::ErrorNumber::DivisionByZero);
    return static_cast<int16_t>(w / static_cast<int32_t>(divisor));
}

const DispatchTable<IWavecatch>& IWavecatch::dispatchTable() {
    static const DispatchTable<IWavecatch> table = [] {
        DispatchTable<IWavecatch> t("_IWavecatch", Guid::fromString(kWavecatchInterfaceGuid));
        using S = IWavecatch;
        t.get(
            0x68030013, "PictureBMP", VarType::Object, [](S& s) { return Variant(s.picture_); },
            "Returns a graphic representation of the screen as a picture.");
        t.get(
            0x68030012, "HPPCLData", VarType::Variant, [](S& s) { return s.hppclData_; },
            "Returns a graphic representation in HPPCL data as returned by the instrument.");
        t.get(
            0x68030011, "HPGL2Data", VarType::Variant, [](S& s) { return s.hpgl2Data_; },
            "Returns a graphic representation in HPGL2 data format. This is typically the data "
            "returned by the instrument.");
        t.get(
            0x68030010, "XYDescription", VarType::String, [](S& s) { return s.xyDescription_; },
            "Returns a comma delimeted string of x units, y units, x description and y "
            "description.");
        t.get(
            0x6803000f, "xyData", VarType::Variant, [](S& s) { return s.xyData_; },
            "Returns an x,y pair of scaled data.");
        const char* yHelp =
            "Returns the raw data that must be scaled with the preamble to make actual data.";
        t.set(
            0x6803000e, "YData", VarType::Variant, [](S& s, Variant& v) { s.yData_ = v; }, yHelp);
        t.get(
            0x6803000e, "YData", VarType::Variant, [](S& s) { return s.yData_; }, yHelp);
        t.let(0x6803000d, "ActionType", VarType::Long,
              [](S& s, const Variant& v) { s.actionType_ = v.toLong(); });
        t.get(0x6803000d, "ActionType", VarType::Long, [](S& s) { return s.actionType_; });
        const char* dialogHelp =
            "Set to true to show the dialog when GetDataFromInstrument is executed.";
        t.let(
            0x6803000c, "showDialog", VarType::Boolean,
            [](S& s, const Variant& v) { s.showDialog_ = v.toBool(); }, dialogHelp);
        t.get(
            0x6803000c, "showDialog", VarType::Boolean, [](S& s) { return s.showDialog_; },
            dialogHelp);
        t.let(
            0x6803000b, "RegistryKey", VarType::String,
            [](S& s, const Variant& v) { s.SetRegistryKey(v.toString()); },
            "Sets the registry key for implementing persistance of the dialog properties in the "
            "registry.");
        t.get(
            0x6803000a, "BMPfilePath", VarType::String, [](S& s) { return s.bmpFilePath_; },
            "Full file path to a bitmap file. This one the way the application gets a bitmap. The "
            "satellite places the bitmap in a file location. Read only.");
        t.get(
            0x68030009, "Preamble", VarType::Variant, [](S& s) { return Variant(s.preamble_); },
            "Returns the preamble used to scale the data.");
        t.get(
            0x68030008, "ModifiedMenuName", VarType::String,
            [](S& s) { return s.ModifiedMenuName(); },
            "The menu name used after a call to the Add-in. Can be the same as the MenuName "
            "property.");
        t.method(0x60030015, "AppendPreamble", {{"Preamble", VarType::Variant}}, VarType::Void,
                 [](S& s, Args& a) { s.AppendPreamble(a[0].value()); });
        t.method(0x60030016, "AppendData", {{"YData", VarType::Variant}}, VarType::Void,
                 [](S& s, Args& a) { s.AppendData(a[0].value()); });
        t.method(0x60030017, "LShiftWord", {{"w", VarType::Integer}, {"c", VarType::Integer, true}},
                 VarType::Integer, [](S&, Args& a) {
                     return LShiftWord(a[0].value().toInteger(), a[1].value().toInteger());
                 });
        t.method(0x60030018, "RShiftWord", {{"w", VarType::Integer}, {"c", VarType::Integer, true}},
                 VarType::Integer, [](S&, Args& a) {
                     return RShiftWord(a[0].value().toInteger(), a[1].value().toInteger());
                 });
        t.method(0x60030019, "GetDataFromInstrument", {}, VarType::Void,
                 [](S& s, Args&) { s.GetDataFromInstrument(); });
        t.get(
            0x68030007, "DataType", VarType::Long, [](S& s) { return s.dataType_; },
            "Indicates the type of data and the type of form that should be created by the "
            "application.");
        t.let(
            0x68030006, "CountryCode", VarType::Long,
            [](S& s, const Variant& v) { s.countryCode_ = v.toLong(); },
            "Changes the language of the dialog box and messages.");
        t.get(
            0x68030005, "MenuName", VarType::String, [](S& s) { return s.menuName_; },
            "The string used for the menu that selects the Add-In.");
        t.get(
            0x68030004, "Cancel", VarType::Boolean, [](S& s) { return s.cancel_; },
            "Indicates user has canceled data retrieval or data is not available.");
        t.method(
            0x6003001a, "Execute", {{"Action", VarType::Long}, {"arg", VarType::Variant, true}},
            VarType::String, [](S&, Args&) { return std::string(); }, "for expansion", true);
        t.get(0x68030003, "numberPoints", VarType::String, [](S& s) { return s.numberPoints(); });
        t.let(0x68030003, "numberPoints", VarType::String,
              [](S& s, const Variant& v) { s.SetNumberPoints(v.toString()); });
        t.get(0x68030002, "version", VarType::String,
              [](S&) { return std::string(kAddinVersion); });
        t.get(
            0x68030000, "SupportedInstruments", VarType::String,
            [](S& s) { return s.SupportedInstruments(); },
            "Space delimited list of instrument model numbers supported by the Add-In.");
        return t;
    }();
    return table;
}

}  // namespace cvn
