// Stands in for a failure nothing handles: reports the disk-full error the way the program does,
// which shows the box and ends the process. A quit request is pending first, as after a window
// that failed to start, and must not swallow the box.
#include "platform/Message.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ::PostQuitMessage(0);
    platform::ReportUnhandledError(ERROR_DISK_FULL, {});
}
