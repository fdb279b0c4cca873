// The backup file: a fixed header and the key box's text, four lines in the ANSI code page.
#pragma once

#include <cstdint>
#include <string>

namespace BackupFile {

// Relative on purpose: the backup lands in the current directory.
inline constexpr wchar_t kFileName[] = L"ostrel.txt";

// The file's exact bytes for the given box text.
std::string Compose(const std::wstring& boxText);

// Replaces the backup file with one holding the box text. Returns 0, or the system error number;
// a failed write leaves any earlier backup as it was.
std::uint32_t Write(const std::wstring& boxText);

} // namespace BackupFile
