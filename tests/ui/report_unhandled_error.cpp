// Stands in for a command that fails with nothing to handle it: reports the disk-full error the
// way the program does, which shows the box and ends the process.
#include "platform/Message.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    platform::ReportUnhandledError(ERROR_DISK_FULL, {});
}
