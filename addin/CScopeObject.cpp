#include "addin/CScopeObject.h"

#include "automation/Guid.h"

namespace cvn {

using automation::Args;
using automation::DispatchTable;
using automation::Guid;
using automation::Variant;
using automation::VarType;

const DispatchTable<CScopeObject>& CScopeObject::dispatchTable() {
    static const DispatchTable<CScopeObject> table = [] {
        DispatchTable<CScopeObject> t("_CScope", Guid::fromString(kScopeInterfaceGuid));
        using S = CScopeObject;
        t.get(0x68030001, "IsMSO", VarType::Boolean, [](S& s) { return s.scope().IsMSO(); });
        t.get(0x68030000, "ChannelCount", VarType::Integer,
              [](S& s) { return s.scope().ChannelCount(); });
        t.method(0x60030003, "Output", {{"cmd", VarType::String}}, VarType::Void,
                 [](S& s, Args& a) { s.scope().Output(a[0].value().toString()); });
        t.method(0x60030004, "StopRunning", {}, VarType::Void,
                 [](S& s, Args&) { s.scope().StopRunning(); });
        t.method(0x60030005, "RunSingle", {}, VarType::Void,
                 [](S& s, Args&) { s.scope().RunSingle(); });
        t.method(0x60030006, "ChanDisp", {{"chan", VarType::Integer}, {"disp", VarType::Boolean}},
                 VarType::Void, [](S& s, Args& a) {
                     s.scope().ChanDisp(a[0].value().toInteger(), a[1].value().toBool());
                 });
        t.method(0x60030007, "IsChanDisp", {{"chan", VarType::String}}, VarType::Boolean,
                 [](S& s, Args& a) { return s.scope().IsChanDisp(a[0].value().toString()); });
        t.method(0x60030008, "IsAnyOneDisp", {}, VarType::Boolean,
                 [](S& s, Args&) { return s.scope().IsAnyOneDisp(); });
        t.method(0x60030009, "IsRunning", {}, VarType::Boolean,
                 [](S& s, Args&) { return s.scope().IsRunning(); });
        t.method(0x6003000a, "SaveChanState", {}, VarType::Void,
                 [](S& s, Args&) { s.scope().SaveChanState(); });
        t.method(0x6003000b, "RestoreChanState", {}, VarType::Void,
                 [](S& s, Args&) { s.scope().RestoreChanState(); });
        t.method(0x6003000c, "Disconnect", {}, VarType::Void,
                 [](S& s, Args&) { s.scope().Disconnect(); });
        t.method(0x6003000d, "Connect", {{"conn", VarType::String}}, VarType::Boolean,
                 [](S& s, Args& a) { return s.scope().Connect(a[0].value().toString()); });
        t.method(0x6003000e, "SetStopMode", {{"StartOfReading", VarType::Boolean}}, VarType::Void,
                 [](S& s, Args& a) { s.scope().SetStopMode(a[0].value().toBool()); });
        t.method(0x6003000f, "GetBitMap",
                 {{"filePath", VarType::String, true},
                  {"error", VarType::Boolean, true},
                  {"invert", VarType::Boolean, true}},
                 VarType::Void, [](S& s, Args& a) {
                     std::string path = a[0].value().toString();
                     bool error = a[1].value().toBool();
                     s.scope().GetBitMap(path, error, a[2].value().toBool());
                     a[0].target() = Variant(path);
                     a[1].target() = Variant(error);
                 });
        return t;
    }();
    return table;
}

}  // namespace cvn
