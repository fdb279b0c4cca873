// Arbitrary key paths, value names and value bytes through the registry reader, with the stand-in
// registry answering the read with the fuzzed bytes.
//
// Input: key path, LF, value name, LF, a flags byte (bit 0: the open fails, bit 1: the read fails,
// bit 2: the close fails), a type byte, then up to 300 bytes of value data. Text is taken as
// Windows-1252, the host stand-in's code page.
#include "fuzz/FuzzSupport.h"
#include "registry/General.h"

#include "platform/Text.h"
#include "tests/support/MessageStandIn.h"
#include "tests/support/RegistryStandIn.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

unsigned char TakeByte(std::string_view& input) {
    if (input.empty()) {
        return 0;
    }
    const auto byte = static_cast<unsigned char>(input.front());
    input.remove_prefix(1);
    return byte;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using standin::CallKind;
    using standin::g_messages;
    using standin::g_registry;
    using standin::g_registryCalls;

    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::wstring path = platform::FromAnsi(TakeLine(input));
    const std::wstring name = platform::FromAnsi(TakeLine(input));
    const unsigned char flags = TakeByte(input);
    const unsigned char type = TakeByte(input);
    const std::string value(input.substr(0, 300));

    standin::ResetRegistry();
    g_messages.clear();
    g_registry.data = value;
    g_registry.type = type;
    g_registry.openStatus = (flags & 1) != 0 ? standin::kFileNotFound : platform::kSuccess;
    g_registry.queryStatus = (flags & 2) != 0 ? standin::kFileNotFound : platform::kSuccess;
    g_registry.closeStatus = (flags & 4) != 0 ? 6 : platform::kSuccess;

    // Parsing alone: a message exactly when the path is left as given with no root.
    std::wstring parsed = path;
    const platform::RootHandle root = General::ParseKeyPath(parsed);
    FUZZ_CHECK(root == 0 || (root >= 0x80000000 && root <= 0x80000006));
    FUZZ_CHECK(g_messages.size() <= 1);
    const bool reported = !g_messages.empty();
    if (reported) {
        FUZZ_CHECK(root == 0 && parsed == path);
        FUZZ_CHECK(g_messages[0] == L"Incorrect Format:\n\n" + path);
    }
    FUZZ_CHECK(g_registryCalls.empty());
    g_messages.clear();

    std::wstring keyPath = path;
    const auto result = General::GetKeyValue(keyPath, name);
    FUZZ_CHECK(keyPath == parsed);
    FUZZ_CHECK(g_messages.size() == (reported ? 1u : 0u));
    FUZZ_CHECK(standin::OpenKeyCount() == 0);

    if (root == 0) {
        FUZZ_CHECK(!result.has_value());
        FUZZ_CHECK(g_registryCalls.empty());
        return 0;
    }
    FUZZ_CHECK(result.has_value());
    FUZZ_CHECK(!g_registryCalls.empty());
    const auto& open = g_registryCalls[0];
    FUZZ_CHECK(open.kind == CallKind::Open && open.root == root);
    FUZZ_CHECK(open.name == platform::ToAnsi(parsed));
    FUZZ_CHECK(open.options == 0 && open.access == 0x20019);
    if ((flags & 1) != 0) {
        FUZZ_CHECK(g_registryCalls.size() == 1 && *result == General::kFailureMarker);
        return 0;
    }

    FUZZ_CHECK(g_registryCalls.size() == 3);
    const auto& query = g_registryCalls[1];
    FUZZ_CHECK(query.kind == CallKind::Query && query.key == g_registry.openedKey);
    FUZZ_CHECK(query.name == platform::ToAnsi(name));
    FUZZ_CHECK(query.reservedNull && query.typeIn == 1 && query.lengthIn == 255);
    FUZZ_CHECK(query.dataIn == std::string(255, ' '));
    FUZZ_CHECK(g_registryCalls[2].kind == CallKind::Close);
    FUZZ_CHECK(g_registryCalls[2].key == g_registry.openedKey);

    if ((flags & 2) != 0 || value.size() > 255) {
        FUZZ_CHECK(*result == General::kFailureMarker);
        return 0;
    }
    // Nothing invented, nothing from past the data: the text is the value's own characters from
    // its first non-space on; it loses only spaces at the end and one terminating NUL.
    FUZZ_CHECK(result->size() <= 255);
    const std::wstring characters = platform::FromAnsi(value);
    const auto first = characters.find_first_not_of(L' ');
    const std::wstring rest = first == std::wstring::npos ? L"" : characters.substr(first);
    FUZZ_CHECK(rest.compare(0, result->size(), *result) == 0);
    if (!rest.empty() && rest.back() != L' ') {
        const std::size_t dropped = rest.back() == L'\0' ? 1 : 0;
        FUZZ_CHECK(*result == rest.substr(0, rest.size() - dropped));
    }
    return 0;
}
