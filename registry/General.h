// Reads one registry value as text, given a key path written the way users see it
// ("HKEY_LOCAL_MACHINE\SOFTWARE\..."). Read-only; reaches the registry and the message box only
// through platform/, so it builds and is tested without Windows.
#pragma once

#include "platform/Registry.h"

#include <optional>
#include <string>

namespace General {

// What a registry failure reads as; it cannot be told apart from a stored value "Error".
inline constexpr wchar_t kFailureMarker[] = L"Error";

// Exact, case-sensitive lookup of a predefined root name; 0 when it names none.
platform::RootHandle RootKeyFromName(const std::wstring& name);

// Splits a key path into its root and, in place, its subkey path. A malformed path is reported
// to the user, left as it was, and yields 0.
platform::RootHandle ParseKeyPath(std::wstring& keyPath);

// The value's text, the failure marker, or nothing when no root could be found (no registry
// access then). Leaves the subkey path in keyPath, as ParseKeyPath does.
std::optional<std::wstring> GetKeyValue(std::wstring& keyPath, const std::wstring& valueName);

} // namespace General
