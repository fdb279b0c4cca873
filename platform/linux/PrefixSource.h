// A Wine prefix as the source of the registry calls: its registry files (system.reg, user.reg,
// userdef.reg) read as wineserver loads them, answering as Wine's RegOpenKeyExA and
// RegQueryValueExA answer a 32-bit program.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Makes the prefix in prefixDir (a folder holding system.reg) the source the registry calls read
// (Source.h). Code page tables the prefix lacks are looked for in nlsFolders (Wine's own install
// folders), in that order. Returns an empty text, or a one-line reason the folder cannot be used
// (no system.reg, unreadable, not a Wine registry file).
std::string UsePrefix(const std::string& prefixDir,
                      const std::vector<std::string>& nlsFolders = {});

} // namespace platform
