#include "scope/TempFileName.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "support/ModuleInfo.h"

namespace cvn {

std::string NewTempFileName(const std::string& prefix) {
    std::string folder;
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        folder = tmp;
    else
        folder = "/tmp";
    if (folder.empty()) return {};
    if (folder.back() != '/') folder += '/';

    std::string pattern = folder + prefix + "XXXXXX.bmp";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkstemps opens with O_CREAT|O_EXCL, so an existing name or a planted
    // symlink is never reused.
    int fd = mkstemps(buffer.data(), 4);
    if (fd >= 0) {
        ::close(fd);
        return std::string(buffer.data());
    }
    return ModuleFolder() + "~cvnWC.tmp";
}

}  // namespace cvn
