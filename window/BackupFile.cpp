#include "window/BackupFile.h"

#include "platform/Message.h"
#include "platform/Text.h"
#include "platform/Version.h"

namespace BackupFile {

std::string Compose(const std::wstring& boxText) {
    const std::wstring text =
        OSTREL_WIDEN(OSTREL_BACKUP_HEADER) L"\r\n" OSTREL_WIDEN(OSTREL_WEB_ADDRESS) L"\r\n" +
        std::wstring(36, L'=') + L"\r\n" + boxText + L"\r\n";
    return platform::ToAnsi(text);
}

platform::WriteResult Write(const std::wstring& boxText) {
    const std::string bytes = Compose(boxText);
    if (bytes.empty()) {
        // The header alone is never empty: the conversion itself failed.
        return {platform::kNoTranslation};
    }
    return platform::WriteFileAtomically(kFileName, bytes);
}

std::wstring DescribeFailure(const platform::WriteResult& result, const std::wstring& separator) {
    if (result.notAFile) {
        return L"ostrel.txt could not be written." + separator +
               L"It is not a file but a device or a pipe (or a link to one), which Backup never "
               L"replaces. Nothing was changed.";
    }
    return L"ostrel.txt could not be written." + separator + platform::ErrorLine(result.error) +
           separator +
           (result.earlierContentLost
                ? L"The folder takes no new file, so ostrel.txt was rewritten in place; that "
                  L"failed and its earlier content could not be put back."
                : L"Any earlier ostrel.txt is unchanged.");
}

} // namespace BackupFile
