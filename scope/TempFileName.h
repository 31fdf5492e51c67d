// Unique temporary files for screen images handed to the host.
#pragma once

#include <string>

namespace cvn {

// Path of a new, empty file with a unique, unpredictable name in the system
// temporary folder ($TMPDIR, else /tmp), named prefix + random part +
// ".bmp"; created exclusively with mode 0600 so no other user can swap it.
// Falls back to "~cvnWC.tmp" in the module folder, or empty text when even
// the temporary folder cannot be named.
std::string NewTempFileName(const std::string& prefix);

}  // namespace cvn
