#include "window/BackupFile.h"

#include "platform/File.h"
#include "platform/Text.h"
#include "platform/Version.h"

#include <windows.h>

namespace BackupFile {

std::string Compose(const std::wstring& boxText) {
    const std::wstring text =
        OSTREL_WIDEN(OSTREL_BACKUP_HEADER) L"\r\n" OSTREL_WIDEN(OSTREL_WEB_ADDRESS) L"\r\n" +
        std::wstring(36, L'=') + L"\r\n" + boxText + L"\r\n";
    return platform::ToAnsi(text);
}

std::uint32_t Write(const std::wstring& boxText) {
    const std::string bytes = Compose(boxText);
    if (bytes.empty()) {
        // The header alone is never empty: the conversion itself failed.
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    return platform::WriteFileAtomically(kFileName, bytes);
}

} // namespace BackupFile
