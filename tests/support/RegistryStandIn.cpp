#include "tests/support/RegistryStandIn.h"

#include <algorithm>

namespace standin {

RegistryScript g_registry;
std::vector<RegistryCall> g_registryCalls;

namespace {
std::vector<platform::KeyHandle> g_openKeys;
} // namespace

int OpenKeyCount() {
    return static_cast<int>(g_openKeys.size());
}

void ResetRegistry() {
    g_registry = RegistryScript{};
    g_registryCalls.clear();
    g_openKeys.clear();
}

} // namespace standin

namespace platform {

using standin::g_registry;
using standin::g_registryCalls;

Status RegOpenKeyExA(RootHandle root, const std::string& subKey, std::uint32_t options,
                     std::uint32_t access, KeyHandle& key) {
    standin::RegistryCall call;
    call.kind = standin::CallKind::Open;
    call.root = root;
    call.name = subKey;
    call.options = options;
    call.access = access;
    g_registryCalls.push_back(call);
    if (g_registry.openStatus != kSuccess) {
        key = 0;
        return g_registry.openStatus;
    }
    key = g_registry.openedKey;
    standin::g_openKeys.push_back(key);
    return kSuccess;
}

Status RegQueryValueExA(KeyHandle key, const std::string& valueName, std::uint32_t* reserved,
                        ValueType& type, unsigned char* data, std::uint32_t& length) {
    standin::RegistryCall call;
    call.kind = standin::CallKind::Query;
    call.key = key;
    call.name = valueName;
    call.reservedNull = reserved == nullptr;
    call.typeIn = type;
    call.lengthIn = length;
    if (data != nullptr) {
        call.dataIn.assign(reinterpret_cast<const char*>(data), length);
    }
    g_registryCalls.push_back(call);

    const auto& bytes = g_registry.data;
    const bool fits = bytes.size() <= length;
    type = g_registry.type;
    length = static_cast<std::uint32_t>(bytes.size());
    if (!fits) {
        return standin::kMoreData;
    }
    if (data != nullptr) {
        std::copy(bytes.begin(), bytes.end(), data);
    }
    return g_registry.queryStatus;
}

Status RegCloseKey(KeyHandle key) {
    standin::RegistryCall call;
    call.kind = standin::CallKind::Close;
    call.key = key;
    g_registryCalls.push_back(call);
    auto& open = standin::g_openKeys;
    const auto found = std::find(open.begin(), open.end(), key);
    if (found != open.end()) {
        open.erase(found);
    }
    return g_registry.closeStatus;
}

} // namespace platform
