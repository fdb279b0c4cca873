#include "registry/General.h"

#include "platform/Message.h"
#include "platform/Text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

namespace General {

namespace {

constexpr std::array<std::pair<std::wstring_view, platform::RootHandle>, 7> kRootNames{{
    {L"HKEY_CLASSES_ROOT", platform::kClassesRoot},
    {L"HKEY_CURRENT_USER", platform::kCurrentUser},
    {L"HKEY_LOCAL_MACHINE", platform::kLocalMachine},
    {L"HKEY_USERS", platform::kUsers},
    {L"HKEY_PERFORMANCE_DATA", platform::kPerformanceData},
    {L"HKEY_CURRENT_CONFIG", platform::kCurrentConfig},
    {L"HKEY_DYN_DATA", platform::kDynData},
}};

constexpr std::size_t kBufferSize = 255;

// Working state of the reader, overwritten by each step that sets it and read by nobody else.
// The program has one thread, and the reader runs one call at a time on it.
platform::RootHandle g_root = 0;
platform::KeyHandle g_key = 0;
platform::Status g_status = platform::kSuccess;
// Fixed storage, so the state needs no destructor at exit. 255 bytes never decode into more than
// 255 UTF-16 units, whatever the code page.
std::array<wchar_t, kBufferSize> g_buffer{};
std::int32_t g_bufferLength = 0;
std::size_t g_bufferChars = 0; // how much of g_buffer the last read decoded into

std::wstring_view TrimSpaces(std::wstring_view text) {
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

} // namespace

platform::RootHandle RootKeyFromName(const std::wstring& name) {
    for (const auto& [rootName, root] : kRootNames) {
        if (name == rootName) {
            return root;
        }
    }
    return 0;
}

platform::RootHandle ParseKeyPath(std::wstring& keyPath) {
    const bool malformed = keyPath.compare(0, 5, L"HKEY_") != 0 || keyPath.back() == L'\\';
    if (malformed) {
        platform::ShowMessage(L"Incorrect Format:\n\n" + keyPath);
        return 0;
    }
    const auto backslash = keyPath.find(L'\\');
    if (backslash == std::wstring::npos) {
        const platform::RootHandle root = RootKeyFromName(keyPath);
        keyPath.clear();
        return root;
    }
    const platform::RootHandle root = RootKeyFromName(keyPath.substr(0, backslash));
    keyPath.erase(0, backslash + 1);
    return root;
}

std::optional<std::wstring> GetKeyValue(std::wstring& keyPath, const std::wstring& valueName) {
    g_root = ParseKeyPath(keyPath);
    if (g_root == 0) {
        return std::nullopt;
    }

    g_status =
        platform::RegOpenKeyExA(g_root, platform::ToAnsi(keyPath), 0, platform::kKeyRead, g_key);
    if (g_status != platform::kSuccess) {
        return kFailureMarker;
    }

    // Bytes the platform does not write stay spaces, which the trim below removes again.
    g_buffer.fill(L' ');
    g_bufferLength = static_cast<std::int32_t>(kBufferSize);
    platform::ValueType type = platform::kRegSz;
    std::string bytes = platform::ToAnsi(std::wstring_view(g_buffer.data(), g_buffer.size()));
    bytes.resize(kBufferSize, ' '); // the platform may write up to the length we promise it
    auto length = static_cast<std::uint32_t>(g_bufferLength);
    const platform::Status readStatus =
        platform::RegQueryValueExA(g_key, platform::ToAnsi(valueName), nullptr, type,
                                   reinterpret_cast<unsigned char*>(bytes.data()), length);
    const std::wstring decoded = platform::FromAnsi(bytes);
    g_bufferChars = std::min(decoded.size(), g_buffer.size());
    std::copy_n(decoded.begin(), g_bufferChars, g_buffer.begin());
    g_status = platform::RegCloseKey(g_key);
    if (readStatus != platform::kSuccess) {
        return kFailureMarker;
    }

    // A string's terminator is the last character left once the spaces are gone. Data without
    // one (raw bytes, a value of only spaces) keeps every character it has.
    std::wstring_view text = TrimSpaces(std::wstring_view(g_buffer.data(), g_bufferChars));
    if (!text.empty() && text.back() == L'\0') {
        text.remove_suffix(1);
    }
    return std::wstring(text);
}

} // namespace General
