// Files the host writes appear whole or not at all: the bytes go to a
// temporary file in the same folder, which is then renamed over the target.
#pragma once

#include <string>
#include <string_view>

namespace cvn::host {

// Throws cvn::Error naming the file when any step fails; a failed write
// leaves no temporary file behind and the target as it was.
void WriteFileAtomically(const std::string& path, std::string_view bytes);
// Reads a whole file; throws cvn::Error naming it when that fails.
std::string ReadWholeFile(const std::string& path);

}  // namespace cvn::host
