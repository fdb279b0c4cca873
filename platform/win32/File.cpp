#include "platform/File.h"

#include "platform/Message.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LateBound.h"

#include <algorithm>
#include <windows.h>

namespace platform {

namespace {

// Vista's token switch, named here because XP's headers do not have it. XP's
// GetTokenInformation refuses the class (ERROR_INVALID_PARAMETER), which leaves nothing to switch.
constexpr auto kTokenVirtualizationEnabled = static_cast<TOKEN_INFORMATION_CLASS>(24);

// A 32-bit program without a UAC manifest runs virtualized, and a write it may not make would
// land unseen in the user's VirtualStore. The backup goes where the user looks for it, or fails
// plainly. Where the token knows no such switch (Windows XP, Wine) there is nothing to undo.
class VirtualizationOff {
  public:
    VirtualizationOff() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT,
                                &token)) {
            return;
        }
        token_.reset(token);
        DWORD enabled = 0;
        DWORD size = 0;
        if (::GetTokenInformation(token, kTokenVirtualizationEnabled, &enabled, sizeof(enabled),
                                  &size) &&
            enabled != 0) {
            DWORD off = 0;
            switched_ = ::SetTokenInformation(token, kTokenVirtualizationEnabled, &off,
                                              sizeof(off)) != FALSE;
        }
    }
    ~VirtualizationOff() {
        if (switched_) {
            DWORD on = 1;
            ::SetTokenInformation(token_.get(), kTokenVirtualizationEnabled, &on, sizeof(on));
        }
    }
    VirtualizationOff(const VirtualizationOff&) = delete;
    VirtualizationOff& operator=(const VirtualizationOff&) = delete;

  private:
    UniqueKernelHandle token_;
    bool switched_ = false;
};

// The file the bytes are meant for, behind any symbolic link, and what it is now.
struct Target {
    std::wstring path;
    DWORD attributes = INVALID_FILE_ATTRIBUTES; // none: there is no file yet
    DWORD links = 0;                            // names the file has (hard links)
};

// Vista brought file symbolic links and this call to follow them; on XP, which has neither, the
// name as given is the file.
using GetFinalPathNameByHandleFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Where the open file really is, or the error that kept the system from saying.
DWORD FinalPath(HANDLE file, std::wstring& path) {
    static const auto getFinalPath =
        LateBound<GetFinalPathNameByHandleFn>(L"kernel32.dll", "GetFinalPathNameByHandleW");
    if (!getFinalPath) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = getFinalPath(file, nullptr, 0, flags);
    if (needed == 0) {
        return LastErrorOr(ERROR_OPEN_FAILED);
    }
    path.assign(needed, L'\0');
    const DWORD length = getFinalPath(file, path.data(), needed, flags);
    if (length == 0 || length >= needed) {
        return LastErrorOr(ERROR_OPEN_FAILED);
    }
    path.resize(length);
    return ERROR_SUCCESS;
}

DWORD FindTarget(const std::wstring& path, Target& target) {
    target.path = path;
    // Attribute access only, so that a program holding the file open does not stand in the way.
    UniqueKernelHandle probe(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe) {
        // Missing (a first backup), or beyond even an attribute read: then the name as given is
        // all there is, and creating the new file reports whatever is wrong with its folder.
        target.attributes = ::GetFileAttributesW(path.c_str());
        return ERROR_SUCCESS;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(probe.get(), &info)) {
        return LastErrorOr(ERROR_OPEN_FAILED);
    }
    target.attributes = info.dwFileAttributes;
    target.links = info.nNumberOfLinks;
    std::wstring real;
    const DWORD error = FinalPath(probe.get(), real);
    if (error == ERROR_SUCCESS) {
        target.path = std::move(real);
        return ERROR_SUCCESS;
    }
    if (error == ERROR_CALL_NOT_IMPLEMENTED) {
        return ERROR_SUCCESS;
    }
    // The call also fails where nothing needs following: on a share whose path the user may not
    // list, on a volume without a drive letter, on a long path under Wine. Only a name that is
    // itself a link must be followed, or the replace would turn the link into a plain file.
    const DWORD own = ::GetFileAttributesW(path.c_str());
    return own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) == 0
               ? ERROR_SUCCESS
               : error;
}

bool Exists(const Target& target) {
    return target.attributes != INVALID_FILE_ATTRIBUTES;
}

// No longer than the backup's own name, so wherever the backup fits, so does this.
DWORD CreateTemporaryBeside(const std::wstring& path, std::wstring& tempPath,
                            UniqueKernelHandle& file) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    // The name is new each try, so CREATE_NEW never opens somebody else's file.
    const DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 8);
    for (DWORD attempt = 0; attempt < 16; ++attempt) {
        wchar_t name[16];
        ::wsprintfW(name, L"~%05lx.tmp", static_cast<unsigned long>((seed + attempt) & 0xFFFFF));
        tempPath = folder + name;
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

DWORD ReadAll(HANDLE file, std::string& bytes) {
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) {
            return LastErrorOr(ERROR_READ_FAULT);
        }
        if (got == 0) {
            return ERROR_SUCCESS;
        }
        bytes.append(buffer, got);
        if (bytes.size() > kMaxRewriteBytes) {
            return ERROR_FILE_TOO_LARGE; // no backup this program wrote
        }
    }
}

// The whole content of an open file becomes the bytes, and reaches the disk.
DWORD Overwrite(HANDLE file, std::string_view bytes) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return LastErrorOr(ERROR_SEEK);
    }
    DWORD error = WriteAll(file, bytes);
    if (error == ERROR_SUCCESS && !::SetEndOfFile(file)) {
        error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(file)) {
        error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    return error;
}

// For a folder that takes no new file: the older way, in place, with the old bytes held so that
// a rewrite that fails part-way can be undone.
WriteResult RewriteInPlace(const std::wstring& path, std::string_view bytes) {
    UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {LastErrorOr(ERROR_OPEN_FAILED)};
    }
    std::string old;
    WriteResult result{ReadAll(file.get(), old)};
    if (result.error != ERROR_SUCCESS) {
        return result;
    }
    result.error = Overwrite(file.get(), bytes);
    if (result.error != ERROR_SUCCESS && Overwrite(file.get(), old) != ERROR_SUCCESS) {
        result.earlierContentLost = true;
    }
    if (!::CloseHandle(file.release()) && result.error == ERROR_SUCCESS) {
        result.error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    return result;
}

// What a rewrite in place reports: the file was there, or it could not have been rewritten.
WriteResult Rewritten(WriteResult result) {
    result.targetExisted = true;
    return result;
}

bool IsTransient(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Virus scanners and indexers hold a freshly written file open for a moment; a short wait
// usually outlasts them. Directories and read-only files never get this far.
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

// Hidden and system files stay so; read-only was refused before anything was written.
constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

} // namespace

WriteResult WriteFileAtomically(const std::wstring& path, std::string_view bytes) {
    const VirtualizationOff virtualizationOff;
    Target target;
    WriteResult result{FindTarget(path, target)};
    result.targetExisted = Exists(target) && (target.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (result.error != ERROR_SUCCESS) {
        return result;
    }
    // Windows itself refuses to rename over either; Wine and Linux would quietly replace them.
    if (Exists(target) &&
        (target.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        result.error = ERROR_ACCESS_DENIED;
        return result;
    }
    // A replace would leave the old key under the file's other names.
    if (result.targetExisted && target.links > 1) {
        return Rewritten(RewriteInPlace(target.path, bytes));
    }
    std::wstring tempPath;
    UniqueKernelHandle file;
    DWORD error = CreateTemporaryBeside(target.path, tempPath, file);
    if (error == ERROR_ACCESS_DENIED && result.targetExisted) {
        return Rewritten(RewriteInPlace(target.path, bytes));
    }
    if (error != ERROR_SUCCESS) {
        result.error = error;
        return result;
    }
    error = WriteAll(file.get(), bytes);
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(file.get())) {
        error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (!::CloseHandle(file.release()) && error == ERROR_SUCCESS) {
        error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (const DWORD carried = Exists(target) ? target.attributes & kCarriedAttributes : 0;
        error == ERROR_SUCCESS && carried != 0 &&
        !::SetFileAttributesW(tempPath.c_str(), carried | FILE_ATTRIBUTE_ARCHIVE)) {
        error = LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (error == ERROR_SUCCESS) {
        error = MoveOver(tempPath, target.path);
    }
    if (error != ERROR_SUCCESS) {
        // Best effort: the first error is what the user needs to hear about, and a temporary
        // file that cannot be deleted now is harmless beside the intact backup.
        ::DeleteFileW(tempPath.c_str());
    }
    result.error = error;
    return result;
}

} // namespace platform
