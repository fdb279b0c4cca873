// The command's face for players who never open a terminal. Double-clicked in a file manager or
// started by its launcher, it shows what a scan found in kdialog or zenity windows; with neither
// program there, in a text file opened with the desktop's viewer. Never in a terminal emulator.
//
// What is built here are argument lists and texts, which tests can read; the runner that starts
// the dialog programs is kept thin.
#pragma once

#include "platform/File.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli::dialog {

// Started by a double-click: no arguments, no terminal at either end, a display to show windows
// on. Anything else gets the command line's usage hint.
bool Wanted(std::size_t argumentCount, bool stdinIsTerminal, bool stdoutIsTerminal,
            const char* display, const char* waylandDisplay);

enum class Tool { KDialog, Zenity };

// One prefix as the scan saw it, in the scan's order.
struct Finding {
    std::string origin;      // bytes, as the scan names it
    std::string folder;      // bytes of the prefix folder's path
    std::wstring key;        // what Recover read, "Error" included
    bool read = false;       // a key, not the failure marker
    bool windows = false;    // found on a Windows disk (folder: the installation's root)
    std::string windowsUser; // the profile whose own copy it is; empty: the machine-wide key
};

using Arguments = std::vector<std::string>;

// Text from outside (a key, a folder's name, a launcher's) as every window and the report show
// it, the key's field aside: control characters, line and paragraph separators, the marks that
// reorder a line, and bytes that are not UTF-8 (which both programs refuse) show as U+FFFD, so
// that no name can reshape a window or disguise what it says.
std::string SafeForDisplay(std::string_view bytes);

// Whether the program (kdialog, zenity or xdg-open, by name) may be started with these arguments:
// every one that starts with a dash is one of the options this program gives it, and all of them
// come before the first that does not. Qt and GTK read their own options anywhere, "--" or not,
// so text from outside must never start with a dash. Checked before any program starts.
bool OnlyOwnOptions(std::string_view program, const Arguments& arguments);

// Text neither program reads as markup. kdialog guesses rich text from the text itself, so the
// text is made rich on purpose with every character of the input escaped.
std::string KDialogText(std::string_view plain);
// zenity's list always reads Pango markup, after undoing backslash escapes.
std::string ZenityMarkup(std::string_view plain);
// zenity's entry label reads backslash escapes and takes an underscore for a mnemonic.
std::string ZenityMnemonic(std::string_view plain);

// The windows, as the program's arguments (its name not included).
Arguments Message(Tool tool, bool error, std::string_view text);
Arguments Pick(Tool tool, const std::vector<const Finding*>& keys);
Arguments Edit(Tool tool, const Finding& found, std::string_view key);
Arguments ConfirmBackup(Tool tool, std::string_view folder);

// The message when no key was found, naming the places looked at.
std::string NotFoundText(const std::vector<Finding>& findings);
// The same as a text file, for a desktop without either dialog program.
std::string Report(const std::vector<Finding>& findings);

// The key as the player left it in the field, from the program's output.
std::string EditedKey(Tool tool, std::string_view output);

// The row picked in the list (0-based), from the dialog's output; nothing when none was.
std::optional<std::size_t> PickedRow(std::string_view output, std::size_t rows);

// The first executable called `name` in the absolute folders of `path` (the PATH syntax).
std::optional<std::string> FindProgram(std::string_view name, std::string_view path);

// How a Backup went, and where it wrote (the full path as the player knows it).
struct BackupOutcome {
    platform::WriteResult result;
    bool charactersReplaced = false;
    std::wstring shownPath;
};

// What a Backup tells the player: the confirmation (a second line when the code page could not
// hold every character), or the failure as the window's error box words it.
std::string BackupMessage(const BackupOutcome& outcome);

// Writes ostrel.txt with the key as typed (UTF-8) for the prefix it was found in.
using Backup = std::function<BackupOutcome(const Finding& from, const std::string& key)>;

// Shows the findings and returns the exit code: 0 when a key was shown, 1 when none was found.
int Run(const std::vector<Finding>& findings, const Backup& backup);

} // namespace cli::dialog
