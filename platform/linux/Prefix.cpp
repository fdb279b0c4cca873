#include "platform/linux/Prefix.h"

#include "platform/Registry.h"
#include "platform/linux/PrefixState.h"

#include <sys/stat.h>

namespace platform {

namespace prefix {

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

PrefixState& CurrentPrefix() {
    static PrefixState state;
    return state;
}

const std::vector<std::u16string>& AnsiCodePageKey() {
    static const std::vector<std::u16string> kKey{u"machine", u"system", u"currentcontrolset",
                                                  u"control", u"nls",    u"codepage"};
    return kKey;
}

bool IsAscii(std::string_view bytes) {
    for (const char byte : bytes) {
        if (static_cast<unsigned char>(byte) >= 0x80) {
            return false;
        }
    }
    return true;
}

void SettleCodePage(PrefixState& state, unsigned number) {
    number = number == 0 ? kDefaultCodePage : number;
    state.codePage = CodePage::FromNlsFile(state.dir + "/drive_c/windows/system32/c_" +
                                           std::to_string(number) + ".nls");
    if (state.codePage.Number() != number) {
        state.codePage = CodePage::Fallback(number);
    }
    state.codePageSettled = true;
}

const CodePage& CodePageOf(PrefixState& state) {
    // Reading the value converts it, which asks for the code page again: answer that with ASCII.
    static bool lookingUp = false;
    if (!state.codePageSettled && !state.dir.empty() && !lookingUp) {
        lookingUp = true;
        // Opening the key settles the code page already, in the same pass, unless a link lies on
        // the way to it; then the value read here does.
        const unsigned number = ReadAnsiCodePage();
        lookingUp = false;
        if (!state.codePageSettled) {
            SettleCodePage(state, number);
        }
    }
    return state.codePage;
}

} // namespace prefix

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
    state.dir = prefixDir;
    state.arch = file->arch();
    state.fold = prefix::CaseTable::FromNlsFile(prefixDir + "/drive_c/windows/system32/l_intl.nls");
    state.codePageSettled = false;
    state.codePage = prefix::CodePage::AsciiOnly(prefix::kDefaultCodePage);
    return {};
}

} // namespace platform
