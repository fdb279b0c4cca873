// Built for i686 and run as a 32-bit process: reads a program's version block through
// GetFileVersionInfoW and VerQueryValueW, as Explorer's Properties page does, and writes what it
// found to a file, one "name=value" line each (UTF-8), for the driver to compare.
// Usage: i686_version_reader EXE OUTPUT. Exit code 0 once the file is written.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    return bytes;
}

std::wstring Dotted(DWORD most, DWORD least) {
    return std::to_wstring(HIWORD(most)) + L"." + std::to_wstring(LOWORD(most)) + L"." +
           std::to_wstring(HIWORD(least)) + L"." + std::to_wstring(LOWORD(least));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: i686_version_reader EXE OUTPUT\n");
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(argv[1], &ignored);
    if (size == 0) {
        return 3;
    }
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(argv[1], 0, size, block.data())) {
        return 4;
    }
    std::wstring lines = L"reader.pointer_bits=" + std::to_wstring(sizeof(void*) * 8) + L"\n";

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        lines += L"fixed.signature=" + std::to_wstring(fixed->dwSignature) + L"\n";
        lines +=
            L"fixed.FileVersion=" + Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + L"\n";
        lines += L"fixed.ProductVersion=" +
                 Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS) + L"\n";
        lines += L"fixed.FileType=" + std::to_wstring(fixed->dwFileType) + L"\n";
        lines += L"fixed.FileFlags=" +
                 std::to_wstring(fixed->dwFileFlags & fixed->dwFileFlagsMask) + L"\n";
    }

    WORD* translation = nullptr;
    if (::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &length) &&
        length >= 2 * sizeof(WORD)) {
        wchar_t name[16];
        std::swprintf(name, 16, L"%04x%04x", translation[0], translation[1]);
        lines += L"Translation=" + std::wstring(name) + L"\n";
        for (const wchar_t* field :
             {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
              L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
            const std::wstring path = L"\\StringFileInfo\\" + std::wstring(name) + L"\\" + field;
            wchar_t* value = nullptr;
            if (::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value),
                                 &length)) {
                lines += std::wstring(field) + L"=" + std::wstring(value) + L"\n";
            }
        }
    }

    FILE* out = ::_wfopen(argv[2], L"wb");
    if (!out) {
        return 5;
    }
    const std::string bytes = Utf8(lines);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written ? 0 : 6;
}
