// The backup file: a fixed header and the key box's text, four lines in the ANSI code page. Both
// front ends write it through here: the window's Backup, and the Linux command's backup.
#pragma once

#include "platform/File.h"

#include <string>

namespace BackupFile {

// Relative on purpose: the backup lands in the current directory.
inline constexpr wchar_t kFileName[] = L"ostrel.txt";

// What a Backup confirms; when the code page could not hold every character of the box, a second
// line says so (which the Linux command prints on its own, to stderr).
inline constexpr wchar_t kWritten[] = L"ostrel.txt written!";
inline constexpr wchar_t kWrittenWithReplacements[] =
    L"ostrel.txt written!\nSome characters cannot be stored in this system's code page and were "
    L"written as '?' or a similar letter.";
inline constexpr const wchar_t* kCharactersReplaced =
    kWrittenWithReplacements + sizeof(kWritten) / sizeof(wchar_t);

// The file's exact bytes for the given box text.
std::string Compose(const std::wstring& boxText);

// Replaces the backup file with one holding the box text; a failed write leaves any earlier
// backup as it was (or says that it could not). The file holds what the code page makes of the
// text, best-fit letters included, as earlier backups did; charactersReplaced, when asked for,
// tells whether that is less than the box held.
platform::WriteResult Write(const std::wstring& boxText, bool* charactersReplaced = nullptr);

// What a failed Backup tells the user, as paragraphs joined by the separator: which file (its
// full path as the user knows it), why, and what became of the earlier file, if there was one.
std::wstring DescribeFailure(const platform::WriteResult& result, const std::wstring& shownPath,
                             const std::wstring& separator);

} // namespace BackupFile
