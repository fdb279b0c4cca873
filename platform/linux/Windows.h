// A Windows installation that is not running (a dual-boot partition, the disk of a dead PC) read
// in place of a Wine prefix: the registry calls then answer from its hive files as that Windows
// answered the game, a 32-bit program, and text converts with its ANSI code page.
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct WindowsChoice {
    std::string problem;            // empty when the installation is now the one read
    bool notWindows = false;        // the folder holds no Windows installation at all
    std::vector<std::string> notes; // one line each: a hive Windows did not close cleanly, ...
};

// Makes the installation in `folder` (its root, or its Windows folder) the one the registry calls
// read: machine-wide, or as the profile Users/<user> saw it when a user is named. Code page
// tables the installation lacks are looked for in nlsFolders.
WindowsChoice UseWindows(const std::string& folder, const std::string& user,
                         const std::vector<std::string>& nlsFolders = {});

// The Windows folder of an installation whose root or Windows folder is `folder`, found whatever
// the letter case of its names; nothing when it holds no Windows/System32/config/SOFTWARE.
std::optional<std::string> FindWindowsFolder(const std::string& folder);

// The profiles under Users that hold a UsrClass.dat, by folder name, in order.
std::vector<std::string> WindowsProfiles(const std::string& folder);

// Whether the last key opened was the profile's VirtualStore copy rather than the machine's key.
bool OpenedFromVirtualStore();

namespace windows {

// The registry calls' side of it (platform/linux/Registry.cpp): whether an installation is being
// read, and the open, read and close of its keys, with the statuses Windows gives. Value data
// comes as stored (strings UTF-16LE); `stored` is its full size, more than was read of a huge one.
struct Data {
    ValueType type = 0;
    std::string bytes;
    std::uint64_t stored = 0;
};

bool Active();
Status Open(RootHandle root, std::u16string_view subKey, KeyHandle& key);
Status Read(KeyHandle key, std::u16string_view name, Data& data);
bool Close(KeyHandle key);

} // namespace windows

} // namespace platform
