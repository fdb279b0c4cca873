// Runs into what the C++ library would throw, built as the program is: no exceptions, with the
// program's own operator new and throw helpers. "memory" asks for a string the heap cannot hold,
// "length" for one longer than a string can be. Either must show the report and end the process.
#include <cwchar>
#include <string>
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    std::wstring text;
    if (std::wcscmp(commandLine, L"memory") == 0) {
        text.resize(text.max_size() / 2);
    } else if (std::wcscmp(commandLine, L"length") == 0) {
        text.resize(text.max_size() + 1);
    }
    // Reaching this point means the failure went unnoticed.
    return 0;
}
