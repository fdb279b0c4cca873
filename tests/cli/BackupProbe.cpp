// The Windows half of a byte-for-byte comparison: writes ostrel.txt in the current folder the way
// the Windows program's Backup does, for the box text given as the only argument.
#include "window/BackupFile.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 2;
    }
    return BackupFile::Write(argv[1]).error == 0 ? 0 : 1;
}
