// Writes arbitrary bytes as the supported-model override file, loads the
// table from it and asks it about model names taken from the input. The
// file sits beside this binary, as the override file sits beside the add-in:
// run a copy of the binary from a private folder (fuzz/run-all does).
//
// Input: a line with the model name to ask about, then the file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "scope/ModelTable.h"

namespace {

// Values of the override file are cut to this many characters.
constexpr size_t kValueLimit = 499;

void checkChannelCount(std::string_view model) {
    const auto n = cvn::ChannelCountOf(model, cvn::gModelList, cvn::gChannelList);
    if (n) FUZZ_CHECK(*n >= -32768 && *n <= 32767);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t eol = input.find('\n');
    const std::string model = input.substr(0, eol);
    const std::string path = cvn::ModelOverridePath();

    if (eol == std::string::npos) {
        // No file at all: the built-in lists.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        cvn::LoadModelTable();
        FUZZ_CHECK(cvn::gModelList == cvn::kBuiltInModelList);
        FUZZ_CHECK(cvn::gChannelList == cvn::kBuiltInChannelList);
    } else {
        cvn::fuzz::writeFile(path, input.substr(eol + 1));
        cvn::LoadModelTable();
        FUZZ_CHECK(cvn::gModelList.size() <= kValueLimit);
        FUZZ_CHECK(cvn::gChannelList.size() <= kValueLimit);
    }

    // An empty list names no model at all, so nothing is supported.
    FUZZ_CHECK(cvn::gModels.empty() == cvn::gModelList.empty());
    if (cvn::gModels.empty()) FUZZ_CHECK(!cvn::IsSupportedModel(model));
    FUZZ_CHECK(cvn::fuzz::joinFields(cvn::gModels) == cvn::gModelList);

    // Every listed identifier is supported, and so is any text naming one
    // (the first few: each look-up walks the whole list).
    for (size_t i = 0; i < cvn::gModels.size() && i < 8; ++i) {
        const std::string& id = cvn::gModels[i];
        FUZZ_CHECK(cvn::IsSupportedModel(id));
        FUZZ_CHECK(cvn::IsSupportedModel("Corvane," + id + ",CVN1,1.0"));
        checkChannelCount(id);
    }
    (void)cvn::IsSupportedModel(model);
    checkChannelCount(model);
    (void)cvn::ModelHasPods(model);
    FUZZ_CHECK(cvn::FamilyFragmentCount(model) >= 0 && cvn::FamilyFragmentCount(model) <= 4);
    return 0;
}
