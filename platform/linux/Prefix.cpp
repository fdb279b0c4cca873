#include "platform/Prefix.h"

#include "platform/Registry.h"
#include "platform/linux/PrefixState.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {

namespace prefix {

PrefixState& CurrentPrefix() {
    static PrefixState state;
    return state;
}

} // namespace prefix

namespace {

constexpr unsigned kDefaultCodePage = 1252;

// The prefix's ANSI code page, as Wine picks it at start: the ACP value of the Nls\CodePage key.
unsigned ReadAnsiCodePage() {
    KeyHandle key = 0;
    if (RegOpenKeyExA(0x80000002, "System\\CurrentControlSet\\Control\\Nls\\CodePage", 0, kKeyRead,
                      key) != kSuccess) {
        return kDefaultCodePage;
    }
    unsigned char buffer[32] = {};
    std::uint32_t length = sizeof(buffer) - 1;
    ValueType type = kRegSz;
    const Status status = RegQueryValueExA(key, "ACP", nullptr, type, buffer, length);
    RegCloseKey(key);
    unsigned number = 0;
    if (status != kSuccess || type != kRegSz) {
        return kDefaultCodePage;
    }
    for (std::uint32_t i = 0; i < length && buffer[i] >= '0' && buffer[i] <= '9'; ++i) {
        number = number * 10 + (buffer[i] - '0');
        if (number > 65535) {
            return kDefaultCodePage;
        }
    }
    return number == 0 ? kDefaultCodePage : number;
}

} // namespace

std::string UsePrefix(const std::string& prefixDir) {
    std::string problem;
    const std::string system = prefixDir + "/system.reg";
    struct stat info {};
    if (::stat(system.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return prefixDir + " is not a Wine prefix: it holds no system.reg";
    }
    const auto file = prefix::RegFile::Open(system, problem);
    if (!file) {
        return problem;
    }
    prefix::PrefixState& state = prefix::CurrentPrefix();
    const std::string nlsDir = prefixDir + "/drive_c/windows/system32/";
    state.dir = prefixDir;
    state.arch = file->arch();
    state.fold = prefix::CaseTable::FromNlsFile(nlsDir + "l_intl.nls");
    state.codePage = prefix::CodePage::AsciiOnly(kDefaultCodePage); // the key's path is ASCII
    const unsigned number = ReadAnsiCodePage();
    state.codePage = prefix::CodePage::FromNlsFile(nlsDir + "c_" + std::to_string(number) + ".nls");
    if (state.codePage.Number() != number) {
        state.codePage = prefix::CodePage::Fallback(number);
    }
    return {};
}

} // namespace platform
