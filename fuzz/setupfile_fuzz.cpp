// Feeds arbitrary bytes to the setup file reader. Whatever it accepts must
// survive a write and a second read unchanged (the header text and bytes
// after the setup are not part of the record); whatever it refuses must be
// refused with cvn::Error and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "setupfile/CSetupFile.h"
#include "support/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const bool compatible = cvn::CSetupFile::IsCompatible(bytes);
    cvn::CSetupFile record;
    try {
        record = cvn::CSetupFile::parse(bytes);
    } catch (const cvn::Error&) {
        return 0;
    }
    // A file the reader takes must also pass the quick compatibility test.
    if (!compatible) std::abort();
    // The writer puts its own header text in place of the file's, so a
    // header near its size limit may grow past it: a clear refusal, no crash.
    std::vector<uint8_t> written;
    try {
        written = record.serialize();
    } catch (const cvn::Error&) {
        return 0;
    }
    const cvn::CSetupFile reread = cvn::CSetupFile::parse(written);
    if (reread != record || reread.serialize() != written) std::abort();
    return 0;
}
