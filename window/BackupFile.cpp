#include "window/BackupFile.h"

#include "platform/File.h"
#include "platform/Text.h"
#include "platform/Version.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace BackupFile {

namespace {

// Error numbers are each system's own: the Linux build reports errno values.
#ifdef _WIN32
constexpr std::uint32_t kNoTranslation = ERROR_NO_UNICODE_TRANSLATION;
#else
constexpr std::uint32_t kNoTranslation = EILSEQ;
#endif

} // namespace

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
        return kNoTranslation;
    }
    return platform::WriteFileAtomically(kFileName, bytes);
}

} // namespace BackupFile
