#include "platform/Prefix.h"

#include <sys/stat.h>

namespace platform {

std::string UsePrefix(const std::string& prefixDir) {
    struct stat info {};
    if (::stat((prefixDir + "/system.reg").c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return prefixDir + " is not a Wine prefix: it holds no system.reg";
    }
    return {};
}

} // namespace platform
