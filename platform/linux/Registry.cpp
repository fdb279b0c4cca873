// The three registry calls over a Wine prefix's registry files, answering as Wine's own
// RegOpenKeyExA and RegQueryValueExA answer a 32-bit program: the same keys found through the same
// Wow6432Node redirection and symbolic links, the same status codes, types and byte counts.
#include "platform/Registry.h"

#include "platform/linux/Prefix.h"
#include "platform/linux/PrefixState.h"
#include "platform/linux/Resolver.h"
#include "stores/Unicode.h"

#include <cstring>
#include <map>
#include <memory>

namespace platform {

namespace {

using stores::Arch;
using stores::Value;

using prefix::kBadPathname;
using prefix::KeyPlace;
using prefix::kFileNotFound;
using prefix::kInvalidHandle;
using prefix::kInvalidParameter;
using prefix::kMoreData;
using prefix::Path;
using prefix::Resolver;

const Path* RootPath(RootHandle root) {
    static const Path kMachine{u"machine"};
    static const Path kAllUsers{u"user"};
    static const Path kTheUser{u"user", u"s-1-5-21-0-0-0-1000"};
    switch (root) {
    case kCurrentUser:
        return &kTheUser;
    case kLocalMachine:
        return &kMachine;
    case kUsers:
        return &kAllUsers;
    default:
        return nullptr;
    }
}

std::map<KeyHandle, KeyPlace>& OpenKeys() {
    static std::map<KeyHandle, KeyPlace> keys;
    return keys;
}

bool IsString(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Narrow text from the caller, in the prefix's code page.
std::u16string Wide(prefix::PrefixState& state, const std::string& bytes) {
    if (prefix::IsAscii(bytes)) {
        return std::u16string(bytes.begin(), bytes.end());
    }
    if (!state.codePageSettled) {
        LearnCodePage();
    }
    return state.codePage.Decode(bytes);
}

} // namespace

void LearnCodePage() {
    prefix::PrefixState& state = prefix::CurrentPrefix();
    if (state.codePageSettled || state.dir.empty()) {
        return;
    }
    Resolver resolver(state);
    prefix::SettleCodePage(state, resolver.AnsiCodePage());
}

Status RegOpenKeyExA(RootHandle root, const std::string& subKey, std::uint32_t /*options*/,
                     std::uint32_t /*access*/, KeyHandle& key) {
    key = 0;
    prefix::PrefixState& state = prefix::CurrentPrefix();
    const Path* rootPath = RootPath(root);
    if (rootPath == nullptr || state.dir.empty()) {
        state.lastProblem = "no such key";
        return kFileNotFound;
    }
    const std::u16string name = Wide(state, subKey);
    // A 32-bit program on a 64-bit prefix sees the registry through Wow6432Node.
    const bool view32 = state.arch == Arch::kWin64;
    Resolver resolver(state);
    Status status = kSuccess;
    const auto found = resolver.Open(*rootPath, name, view32, status);
    if (!state.codePageSettled) {
        prefix::SettleCodePage(state, resolver.AnsiCodePage());
    }
    if (!found) {
        state.lastProblem = !resolver.Problem().empty() ? resolver.Problem() : "no such key";
        return status;
    }
    static KeyHandle next = 0x1000;
    next += 4;
    OpenKeys()[next] = resolver.Place(*found);
    state.lastProblem = resolver.Problem();
    key = next;
    return kSuccess;
}

Status RegQueryValueExA(KeyHandle key, const std::string& valueName, std::uint32_t* reserved,
                        ValueType& type, unsigned char* data, std::uint32_t& length) {
    if (reserved != nullptr) {
        return kInvalidParameter;
    }
    const auto open = OpenKeys().find(key);
    if (open == OpenKeys().end()) {
        return kInvalidHandle;
    }
    prefix::PrefixState& state = prefix::CurrentPrefix();
    const auto value = Resolver::Read(open->second, state.fold.Fold(Wide(state, valueName)));
    if (open->second.file && !open->second.file->ReadProblem().empty()) {
        state.lastProblem = open->second.file->ReadProblem();
    }
    if (!value) {
        if (state.lastProblem.empty()) {
            state.lastProblem = "no such value";
        }
        type = kRegNone; // Wine clears the type of a value it cannot find
        return kFileNotFound;
    }
    if (value->damaged) {
        state.lastProblem = "the value is damaged in the registry file";
    }
    type = value->type;
    // Strings reach a narrow caller in the ANSI code page, counted in its bytes; an odd last
    // byte is no character and is dropped.
    const std::string bytes = IsString(value->type)
                                  ? state.codePage.Encode(stores::FromUtf16Bytes(value->data))
                                  : value->data;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (size > length) {
        length = size;
        return kMoreData;
    }
    if (data != nullptr && size > 0) {
        std::memcpy(data, bytes.data(), size);
        // Like Windows, end unterminated string data with a NUL where there is room for it.
        if (IsString(value->type) && size < length && bytes.back() != '\0') {
            data[size] = 0;
        }
    }
    length = size;
    return kSuccess;
}

Status RegCloseKey(KeyHandle key) {
    return OpenKeys().erase(key) == 1 ? kSuccess : kInvalidHandle;
}

} // namespace platform
