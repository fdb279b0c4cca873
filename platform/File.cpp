#include "platform/File.h"

#include "platform/Handle.h"

#include <algorithm>
#include <windows.h>

namespace platform {

namespace {

// Some failures (under Wine, a write that runs out of space) leave no last error behind.
DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

std::wstring Hex(DWORD value) {
    wchar_t text[9];
    ::wsprintfW(text, L"%08lx", value);
    return text;
}

DWORD CreateTemporaryBeside(const std::wstring& path, std::wstring& tempPath,
                            UniqueKernelHandle& file) {
    // The name is new each try, so CREATE_NEW never opens somebody else's file.
    const DWORD seed = ::GetTickCount();
    for (DWORD attempt = 0; attempt < 16; ++attempt) {
        tempPath = path + L"." + Hex(::GetCurrentProcessId()) + Hex(seed + attempt) + L".tmp";
        file.reset(::CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            return ERROR_SUCCESS;
        }
        const DWORD error = LastErrorOr(ERROR_OPEN_FAILED);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return error;
        }
    }
    return ERROR_FILE_EXISTS;
}

DWORD WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
            return LastErrorOr(ERROR_WRITE_FAULT);
        }
        if (written == 0) {
            // A write that makes no progress is a full disk (Wine reports it so, with no error).
            return ERROR_DISK_FULL;
        }
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

bool IsTransient(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Virus scanners and indexers hold a freshly written file open for a moment; a short wait
// usually outlasts them. A directory in the way also reads as access denied, so the waits stay
// well under a second.
DWORD MoveOver(const std::wstring& from, const std::wstring& to) {
    static constexpr DWORD kWaitsMs[] = {0, 10, 25, 50, 100, 200};
    DWORD error = ERROR_SUCCESS;
    for (const DWORD wait : kWaitsMs) {
        ::Sleep(wait);
        if (::MoveFileExW(from.c_str(), to.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return ERROR_SUCCESS;
        }
        error = LastErrorOr(ERROR_WRITE_FAULT);
        if (!IsTransient(error)) {
            break;
        }
    }
    return error;
}

} // namespace

std::uint32_t WriteFileAtomically(const std::wstring& path, std::string_view bytes) {
    std::wstring tempPath;
    UniqueKernelHandle file;
    DWORD error = CreateTemporaryBeside(path, tempPath, file);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error = WriteAll(file.get(), bytes);
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(file.get())) {
        error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (!::CloseHandle(file.release()) && error == ERROR_SUCCESS) {
        error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (error == ERROR_SUCCESS) {
        error = MoveOver(tempPath, path);
    }
    if (error != ERROR_SUCCESS) {
        // Best effort: the first error is what the user needs to hear about, and a temporary
        // file that cannot be deleted now is harmless beside the intact backup.
        ::DeleteFileW(tempPath.c_str());
    }
    return error;
}

} // namespace platform
