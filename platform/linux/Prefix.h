// The Linux build has no live registry: it reads a Wine prefix's registry files instead. This
// chooses the prefix that the registry calls (platform/Registry.h) and the text conversion
// (platform/Text.h) then serve, so the registry reader itself stays the same on both systems.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Makes the prefix in prefixDir (a folder holding system.reg) the one the registry calls read and
// whose ANSI code page the text conversion speaks. Code page tables the prefix lacks are looked
// for in nlsFolders (Wine's own install folders), in that order. Returns an empty text, or a
// one-line reason the folder cannot be used (no system.reg, unreadable, not a Wine registry file).
std::string UsePrefix(const std::string& prefixDir,
                      const std::vector<std::string>& nlsFolders = {});

// Reading a key learns the prefix's code page on the way. Text converted before any read (a key
// typed by the user) needs it learnt first.
void LearnCodePage();

// Why the last registry call failed, in words ("no such key", "system.reg: Permission denied"),
// and notes about how the prefix was read (a code page table taken from elsewhere); each is
// empty when there is nothing to say.
std::string LastRegistryProblem();
std::string CodePageNote();

} // namespace platform
