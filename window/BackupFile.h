// The backup file: a fixed header and the key box's text, four lines in the ANSI code page. Both
// front ends write it through here: the window's Backup, and the Linux command's backup.
#pragma once

#include "platform/File.h"

#include <string>

namespace BackupFile {

// Relative on purpose: the backup lands in the current directory.
inline constexpr wchar_t kFileName[] = L"ostrel.txt";

// The file's exact bytes for the given box text.
std::string Compose(const std::wstring& boxText);

// Replaces the backup file with one holding the box text; a failed write leaves any earlier
// backup as it was (or says that it could not).
platform::WriteResult Write(const std::wstring& boxText);

// What a failed Backup tells the user, as paragraphs joined by the separator: what failed, why,
// and what became of the earlier file.
std::wstring DescribeFailure(const platform::WriteResult& result, const std::wstring& separator);

} // namespace BackupFile
