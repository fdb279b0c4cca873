// The program's identity, in one place: the resource script and the code both read it, so the
// version block, the captions and the backup file can never drift apart. Plain #defines only,
// because the resource compiler reads this file too.
#pragma once

#define OSTREL_VERSION_MAJOR 1
#define OSTREL_VERSION_MINOR 1
#define OSTREL_VERSION_PATCH 0
#define OSTREL_VERSION_BUILD 0
#define OSTREL_VERSION_TEXT "1.01"

// Caption of every message box.
#define OSTREL_APP_TITLE "Ostrel v1.0"
// The main window's caption and the backup file's first line carry their own wording on purpose.
#define OSTREL_WINDOW_CAPTION "Ostrel 1.1"
#define OSTREL_BACKUP_HEADER "Ostrel v1.1"

#define OSTREL_AUTHOR "Ostrel Team"
#define OSTREL_WEB_ADDRESS "https://ostrel.example.org"

#define OSTREL_INTERNAL_NAME "ostrel"
#define OSTREL_FILE_NAME "ostrel.exe"

#define OSTREL_WIDEN_(s) L##s
#define OSTREL_WIDEN(s) OSTREL_WIDEN_(s)
