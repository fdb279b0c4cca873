#include "window/BackupFile.h"

#include "platform/Message.h"
#include "platform/Text.h"
#include "platform/Version.h"

namespace BackupFile {

namespace {

std::wstring Lines(const std::wstring& boxText) {
    return OSTREL_WIDEN(OSTREL_BACKUP_HEADER) L"\r\n" OSTREL_WIDEN(OSTREL_WEB_ADDRESS) L"\r\n" +
           std::wstring(36, L'=') + L"\r\n" + boxText + L"\r\n";
}

} // namespace

std::string Compose(const std::wstring& boxText) {
    return platform::ToAnsi(Lines(boxText));
}

platform::WriteResult Write(const std::wstring& boxText, bool* charactersReplaced) {
    const std::wstring text = Lines(boxText);
    const std::string bytes = platform::ToAnsi(text);
    if (bytes.empty()) {
        // The header alone is never empty: the conversion itself failed.
        return {platform::kNoTranslation};
    }
    if (charactersReplaced) {
        // The conversion never fails for a character it cannot hold: it writes '?' or a
        // look-alike ("Ω" becomes "O" under code page 1252). Only reading the bytes back shows it.
        *charactersReplaced = platform::FromAnsi(bytes) != text;
    }
    return platform::WriteFileAtomically(kFileName, bytes);
}

std::wstring DescribeFailure(const platform::WriteResult& result, const std::wstring& shownPath,
                             const std::wstring& separator) {
    std::wstring text = shownPath + L" could not be written." + separator;
    if (result.notAFile) {
        return text + L"It is not a file but a device or a pipe (or a link to one), which Backup "
                      L"never replaces. Nothing was changed.";
    }
    text += platform::ErrorLine(result.error);
    if (result.earlierContentLost) {
        text += separator + L"ostrel.txt had to be rewritten in place; that failed, and its "
                            L"earlier content could not be put back.";
    } else if (result.targetExisted) {
        text += separator + L"The earlier ostrel.txt is unchanged.";
    }
    return text;
}

} // namespace BackupFile
