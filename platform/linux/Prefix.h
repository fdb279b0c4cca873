// The Linux build has no live registry: it reads a Wine prefix's registry files instead. This
// chooses the prefix that the registry calls (platform/Registry.h) and the text conversion
// (platform/Text.h) then serve, so the registry reader itself stays the same on both systems.
#pragma once

#include <string>

namespace platform {

// Makes the prefix in prefixDir (a folder holding system.reg) the one the registry calls read and
// whose ANSI code page the text conversion speaks. Returns an empty text, or a one-line reason
// the folder cannot be used (no system.reg there, or not a Wine registry file).
std::string UsePrefix(const std::string& prefixDir);

} // namespace platform
