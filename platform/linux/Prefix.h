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

// Why the last registry call failed, in words ("no such key", "system.reg: Permission denied");
// empty when it did not.
std::string LastRegistryProblem();

// What was unusual in reading the prefix since last asked (a table that could not be read, one
// taken from Wine's own folders), one line each.
std::vector<std::string> TakePrefixNotes();

} // namespace platform
