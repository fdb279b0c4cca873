// What Recover does on Linux, alone: choose a prefix, read the built-in key through the prefix
// reader, print it. The benchmark times this against `wine reg query` on the same prefix.
#include "platform/Message.h"
#include "platform/Text.h"
#include "platform/linux/PrefixSource.h"
#include "registry/General.h"

#include <cstdio>

namespace platform {

// The built-in path is well formed, so no message is ever shown; say so if one were.
void ShowMessage(const std::wstring& prompt) {
    std::fprintf(stderr, "%s\n", ToAnsi(prompt).c_str());
}

} // namespace platform

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: prefix_recover PREFIX\n");
        return 2;
    }
    const std::string problem = platform::UsePrefix(argv[1]);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
    std::wstring path = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Activision\\Call of Duty 4";
    const auto key = General::GetKeyValue(path, L"codkey");
    std::printf("%s\n", key ? platform::ToAnsi(*key).c_str() : "");
    return key && *key != General::kFailureMarker ? 0 : 1;
}
