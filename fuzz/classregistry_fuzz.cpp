// Writes arbitrary bytes as the per-user class registry under a private
// configuration folder, then looks classes up, lists them, registers one and
// removes it again, the way hosts and servers do. A damaged registry must be
// reported with cvn::Error and left byte for byte as it was; a sound one
// must give back what was registered.
//
// Input (FuzzedDataProvider strings, each ended by a backslash and one other
// character): program identifier, module path, class identifier text, then
// the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "automation/ClassRegistry.h"
#include "automation/Guid.h"
#include "fuzz/FuzzSupport.h"
#include "support/Error.h"
#include "support/SettingsStore.h"
#include "support/Text.h"

namespace {

using cvn::automation::ClassRegistration;
using cvn::automation::Guid;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static cvn::fuzz::PrivateHome home("cvn-registry-fuzz");
    FuzzedDataProvider fdp(data, size);
    std::string progId = fdp.ConsumeRandomLengthString(64);
    std::string modulePath = fdp.ConsumeRandomLengthString(128);
    const std::string clsidText = fdp.ConsumeRandomLengthString(48);
    const std::string content = fdp.ConsumeRemainingBytesAsString();

    const std::string path = cvn::automation::ClassRegistryPath();
    cvn::fuzz::writeFile(path, content);
    const bool damaged = !cvn::SettingsFileProblem(cvn::automation::kClassRegistryKey).empty();

    // Look-ups either answer or fail with cvn::Error.
    try {
        for (const ClassRegistration& entry : cvn::automation::RegisteredClasses()) {
            FUZZ_CHECK(!entry.modulePath.empty());
            const auto again = cvn::automation::LookUpClass(entry.progId);
            FUZZ_CHECK(again && again->clsid == entry.clsid);
        }
        FUZZ_CHECK(!damaged);
    } catch (const cvn::Error&) {
    }
    std::optional<ClassRegistration> found;
    bool lookUpFailed = false;
    try {
        found = cvn::automation::LookUpClass(progId);
    } catch (const cvn::Error&) {
        lookUpFailed = true;
    }
    if (found) FUZZ_CHECK(cvn::EqualsIgnoringCase(found->progId, progId));

    // Servers register a name and a module file of their own, never empty ones.
    if (progId.empty()) progId = "cvnFuzz.Class";
    if (modulePath.empty()) modulePath = "/usr/lib/libcvnFuzz.so";
    ClassRegistration entry;
    entry.progId = progId;
    entry.clsid = Guid::parse(clsidText).value_or(Guid{0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4}});
    entry.modulePath = modulePath;
    entry.typeLib = Guid{1, 2, 3, {4}};

    if (damaged) {
        FUZZ_CHECK(lookUpFailed);
        FUZZ_CHECK(cvn::fuzz::throwsError([&] { cvn::automation::RegisterClass(entry); }));
        FUZZ_CHECK(
            cvn::fuzz::throwsError([&] { cvn::automation::UnregisterClass(progId, modulePath); }));
        FUZZ_CHECK(cvn::fuzz::readFile(path) == content);
        return 0;
    }

    // Another section with the same name in other letter case comes first
    // in a look-up; only without one is the answer certain.
    bool caseTwin = false;
    for (const std::string& s : cvn::GetSections(cvn::automation::kClassRegistryKey))
        caseTwin = caseTwin || (s != progId && cvn::EqualsIgnoringCase(s, progId));

    cvn::automation::RegisterClass(entry);
    if (!caseTwin) {
        const auto registered = cvn::automation::LookUpClass(progId);
        FUZZ_CHECK(registered.has_value());
        FUZZ_CHECK(registered->progId == progId);
        FUZZ_CHECK(registered->clsid == entry.clsid);
        FUZZ_CHECK(registered->modulePath == entry.modulePath);
        FUZZ_CHECK(registered->typeLib == entry.typeLib);
    }

    // Another module's name never removes the entry; its own name does.
    cvn::automation::UnregisterClass(progId, modulePath + "x");
    if (!caseTwin) FUZZ_CHECK(cvn::automation::LookUpClass(progId).has_value());
    cvn::automation::UnregisterClass(progId, modulePath);
    if (!caseTwin) FUZZ_CHECK(!cvn::automation::LookUpClass(progId).has_value());
    return 0;
}
