// A recording stand-in for the three registry calls of platform/Registry.h. A test links it in
// place of the real implementation, scripts what each call answers and then reads back every call
// the reader made, with the arguments as they went in. Platform-free, so the same stand-in serves
// the Windows test programs and the host sanitizer and fuzz builds.
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

enum class CallKind { Open, Query, Close };

struct RegistryCall {
    CallKind kind = CallKind::Open;
    platform::RootHandle root = 0; // Open
    std::string name;              // Open: subkey path; Query: value name (bytes as passed)
    std::uint32_t options = 0;     // Open
    std::uint32_t access = 0;      // Open
    platform::KeyHandle key = 0;   // Query, Close
    bool reservedNull = false;     // Query
    platform::ValueType typeIn = 0;
    std::uint32_t lengthIn = 0;
    std::string dataIn; // Query: the lengthIn bytes of the buffer as handed over
};

// What the stand-in answers. A read whose data is longer than the length it is given fails with
// kMoreData and writes nothing, as the real call does; otherwise the data goes to the start of the
// buffer, the length and type are set from it, and queryStatus is returned.
struct RegistryScript {
    platform::Status openStatus = platform::kSuccess;
    platform::KeyHandle openedKey = 0x5A5A;
    std::string data;
    platform::ValueType type = platform::kRegSz;
    platform::Status queryStatus = platform::kSuccess;
    platform::Status closeStatus = platform::kSuccess;
};

constexpr platform::Status kFileNotFound = 2; // ERROR_FILE_NOT_FOUND
constexpr platform::Status kMoreData = 234;   // ERROR_MORE_DATA

extern RegistryScript g_registry;
extern std::vector<RegistryCall> g_registryCalls;

// Keys opened successfully and not closed yet.
int OpenKeyCount();

// Back to the default script, no calls, no open keys.
void ResetRegistry();

} // namespace standin
