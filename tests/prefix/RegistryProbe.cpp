// Reads registry values the way the reader does (a 255-byte buffer of spaces, type REG_SZ) and
// prints exactly what the calls gave back. Built twice: for Windows, where it asks Wine's own
// registry through the 32-bit view, and for Linux, where it asks the prefix reader. The two
// outputs must be identical.
//
// Input: one query per line, "root<TAB>subkey<TAB>value name", root in hex (80000002), names in
// the ANSI code page. Output: one line per query, "open STATUS" when the key cannot be opened,
// else "STATUS TYPE LENGTH BUFFER" with the whole buffer in hex.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/Registry.h"
#include "platform/linux/PrefixSource.h"
#endif

namespace {

#ifdef _WIN32
long Open(std::uint32_t root, const std::string& subKey, std::uintptr_t& key) {
    HKEY opened = nullptr;
    const HKEY rootKey = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(root)));
    const LONG status =
        RegOpenKeyExA(rootKey, subKey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &opened);
    key = reinterpret_cast<std::uintptr_t>(opened);
    return status;
}
long Query(std::uintptr_t key, const std::string& name, std::uint32_t& type, unsigned char* data,
           std::uint32_t& length) {
    DWORD apiType = type;
    DWORD apiLength = length;
    const LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), name.c_str(), nullptr,
                                         &apiType, data, &apiLength);
    type = apiType;
    length = apiLength;
    return status;
}
void Close(std::uintptr_t key) {
    RegCloseKey(reinterpret_cast<HKEY>(key));
}
#else
long Open(std::uint32_t root, const std::string& subKey, std::uintptr_t& key) {
    return platform::RegOpenKeyExA(root, subKey, 0, platform::kKeyRead, key);
}
long Query(std::uintptr_t key, const std::string& name, std::uint32_t& type, unsigned char* data,
           std::uint32_t& length) {
    return platform::RegQueryValueExA(key, name, nullptr, type, data, length);
}
void Close(std::uintptr_t key) {
    platform::RegCloseKey(key);
}
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    if (argc != 2) {
        std::fprintf(stderr, "usage: registry_probe QUERIES\n");
        return 2;
    }
#else
    if (argc != 3) {
        std::fprintf(stderr, "usage: prefix_probe PREFIX QUERIES\n");
        return 2;
    }
    const std::string problem = platform::UsePrefix(argv[1]);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
#endif
    std::ifstream queries(argv[argc - 1], std::ios::binary);
    std::string line;
    while (std::getline(queries, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto tab1 = line.find('\t');
        const auto tab2 = line.find('\t', tab1 + 1);
        if (tab1 == std::string::npos || tab2 == std::string::npos) {
            continue;
        }
        const auto root =
            static_cast<std::uint32_t>(std::strtoul(line.substr(0, tab1).c_str(), nullptr, 16));
        std::uintptr_t key = 0;
        const long opened = Open(root, line.substr(tab1 + 1, tab2 - tab1 - 1), key);
        if (opened != 0) {
            std::printf("open %ld\n", opened);
            continue;
        }
        unsigned char buffer[255];
        for (auto& byte : buffer) {
            byte = ' ';
        }
        std::uint32_t type = 1;
        std::uint32_t length = sizeof(buffer);
        const long status = Query(key, line.substr(tab2 + 1), type, buffer, length);
        Close(key);
        std::printf("%ld %lu %lu ", status, static_cast<unsigned long>(type),
                    static_cast<unsigned long>(length));
        for (const auto byte : buffer) {
            std::printf("%02x", byte);
        }
        std::printf("\n");
    }
    return 0;
}
