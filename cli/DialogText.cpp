// The dialog windows' texts and argument lists: everything a test can read without starting
// a dialog program.
#include "cli/Dialog.h"

#include "platform/Version.h"
#include "stores/Unicode.h"
#include "window/BackupFile.h"

#include <algorithm>

namespace cli::dialog {

namespace {

constexpr char kWindowTitle[] = OSTREL_WINDOW_CAPTION;
constexpr char kMessageTitle[] = OSTREL_APP_TITLE;

// Starts every argument that carries outside text where a program takes it bare. U+2060 WORD
// JOINER takes no room, is no space (a leading space typed into the key is part of it), and its
// first byte (0xE2) is not the dash that begins every option of Qt, GTK, kdialog and zenity.
constexpr std::string_view kWordJoiner = "\u2060";

std::string Printable(std::wstring_view text) {
    return SafeForDisplay(stores::ToUtf8(text));
}

std::string Where(const Finding& found) {
    return SafeForDisplay(found.origin) + ": " + SafeForDisplay(found.folder);
}

std::string LedByWordJoiner(std::string_view text) {
    return std::string(kWordJoiner) + std::string(text);
}

std::string Replaced(std::string_view text, char from, std::string_view to) {
    std::string out;
    for (const char c : text) {
        if (c == from) {
            out += to;
        } else {
            out += c;
        }
    }
    return out;
}

std::string MarkupEscaped(std::string_view plain) {
    std::string out;
    for (const char c : plain) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The options this program gives each program it starts, and nothing else: a name that ends in
// '=' carries its value in the same argument. None of them is one that Qt or GTK reads itself;
// kdialog's title goes as "--title=...", since Qt takes a bare "--title" and the argument after it
// for its own.
struct OwnOptions {
    std::string_view program;
    std::vector<std::string_view> options;
};

const std::vector<OwnOptions>& OptionsOfEachProgram() {
    static const std::vector<OwnOptions> table = {
        {"kdialog",
         {"--title=", "--yes-label=", "--no-label=", "--msgbox", "--error", "--yesno", "--inputbox",
          "--radiolist"}},
        {"zenity",
         {"--title=", "--text=", "--no-markup", "--info", "--error", "--question",
          "--ok-label=", "--cancel-label=", "--entry", "--entry-text=", "--list", "--radiolist",
          "--column=", "--hide-column=", "--print-column=", "--width=", "--height="}},
        {"xdg-open", {}},
    };
    return table;
}

bool IsOwnOption(const OwnOptions& own, std::string_view argument) {
    return std::any_of(own.options.begin(), own.options.end(), [argument](std::string_view o) {
        return o.back() == '=' ? argument.substr(0, o.size()) == o : argument == o;
    });
}

} // namespace

std::string SafeForDisplay(std::string_view bytes) {
    const std::string safe = stores::SafeForTerminal(bytes);
    // Beyond a terminal's control characters: the line and paragraph separators, which break a
    // label's line too, and the marks that reorder what follows them (embeddings, overrides,
    // isolates), which could show a folder's name backwards.
    std::string out;
    out.reserve(safe.size());
    for (std::size_t i = 0; i < safe.size();) {
        const auto decoded = stores::DecodeUtf8(safe, i);
        const char32_t code = decoded ? decoded->first : U'\uFFFD';
        i += decoded ? decoded->second : 1;
        const bool reshapes = code == U'\u2028' || code == U'\u2029' ||
                              (code >= U'\u202A' && code <= U'\u202E') ||
                              (code >= U'\u2066' && code <= U'\u2069');
        stores::AppendUtf8(out, reshapes ? U'\uFFFD' : code);
    }
    return out;
}

bool OnlyOwnOptions(std::string_view program, const Arguments& arguments) {
    const auto& table = OptionsOfEachProgram();
    const auto own = std::find_if(table.begin(), table.end(),
                                  [program](const OwnOptions& o) { return o.program == program; });
    if (own == table.end()) {
        return false;
    }
    // Options first, then the texts: once one argument is bare, a dash further on could only be
    // text that would read as an option.
    bool texts = false;
    for (const std::string& argument : arguments) {
        const bool dash = !argument.empty() && argument.front() == '-';
        if (dash && (texts || !IsOwnOption(*own, argument))) {
            return false;
        }
        texts = texts || !dash;
    }
    return true;
}

std::string KDialogText(std::string_view plain) {
    // An entity for the backslash too: kdialog reads backslash escapes in some of its texts and
    // not in others.
    const std::string escaped =
        Replaced(Replaced(MarkupEscaped(plain), '\\', "&#92;"), '\n', "<br>");
    return "<qt>" + escaped + "</qt>";
}

std::string ZenityMarkup(std::string_view plain) {
    return Replaced(MarkupEscaped(plain), '\\', "\\\\");
}

std::string ZenityMnemonic(std::string_view plain) {
    return Replaced(Replaced(plain, '\\', "\\\\"), '_', "__");
}

// Qt and GTK read their own options anywhere on the command line and pay no heed to "--", and
// some of them load code ("-platformpluginpath", "--gtk-module=") or restyle the window
// ("-stylesheet="). So no argument that carries outside text starts with anything but what this
// program put there: zenity gets its texts inside its own options ("--text=..."); kdialog's texts
// start with "<qt>"; where either program takes a text bare (a list's rows, kdialog's field), it
// starts with a word joiner. OnlyOwnOptions checks every list before a program starts.
Arguments Message(Tool tool, bool error, std::string_view text) {
    if (tool == Tool::KDialog) {
        return {std::string("--title=") + kMessageTitle, error ? "--error" : "--msgbox",
                KDialogText(text)};
    }
    return {error ? "--error" : "--info", std::string("--title=") + kMessageTitle, "--no-markup",
            "--text=" + std::string(text)};
}

Arguments Pick(Tool tool, const std::vector<const Finding*>& keys) {
    const std::string text = "Call of Duty 4 keys were found in " + std::to_string(keys.size()) +
                             " places. Pick the one to show:";
    Arguments arguments;
    if (tool == Tool::KDialog) {
        arguments = {std::string("--title=") + kWindowTitle, "--radiolist", KDialogText(text)};
        for (std::size_t i = 0; i < keys.size(); ++i) {
            // kdialog shows a row as plain text.
            arguments.insert(
                arguments.end(),
                {std::to_string(i + 1),
                 LedByWordJoiner(SafeForDisplay(keys[i]->origin) + ": " + Printable(keys[i]->key) +
                                 "  (" + SafeForDisplay(keys[i]->folder) + ")"),
                 i == 0 ? "on" : "off"});
        }
        return arguments;
    }
    arguments = {"--list",
                 "--radiolist",
                 std::string("--title=") + kWindowTitle,
                 "--text=" + ZenityMarkup(text),
                 "--column=Pick",
                 "--column=Row",
                 "--column=Key",
                 "--column=Found in",
                 "--column=Folder",
                 "--hide-column=2",
                 "--print-column=2",
                 "--width=760",
                 "--height=320"};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        arguments.insert(arguments.end(), {i == 0 ? "TRUE" : "FALSE", std::to_string(i + 1),
                                           LedByWordJoiner(Printable(keys[i]->key)),
                                           LedByWordJoiner(SafeForDisplay(keys[i]->origin)),
                                           LedByWordJoiner(SafeForDisplay(keys[i]->folder))});
    }
    return arguments;
}

Arguments Edit(Tool tool, const Finding& found, std::string_view key) {
    const std::string text = "Call of Duty 4 key, found in " + SafeForDisplay(found.origin) +
                             ":\n" + SafeForDisplay(found.folder) +
                             "\n\nCorrect it here if it needs it.";
    if (tool == Tool::KDialog) {
        // The field holds the key as stored, since Backup writes what it holds; EditedKey takes
        // the word joiner off again.
        return {std::string("--title=") + kWindowTitle, "--inputbox", KDialogText(text),
                LedByWordJoiner(key)};
    }
    return {"--entry", std::string("--title=") + kWindowTitle, "--text=" + ZenityMnemonic(text),
            "--entry-text=" + std::string(key), "--width=560"};
}

Arguments ConfirmBackup(Tool tool, std::string_view folder) {
    const std::string text =
        "Back up the key to ostrel.txt in this folder?\n" + SafeForDisplay(folder);
    if (tool == Tool::KDialog) {
        return {std::string("--title=") + kWindowTitle, "--yes-label=Backup", "--no-label=Close",
                "--yesno", KDialogText(text)};
    }
    return {"--question",           std::string("--title=") + kWindowTitle,
            "--no-markup",          "--ok-label=Backup",
            "--cancel-label=Close", "--text=" + text};
}

std::string NotFoundText(const std::vector<Finding>& findings) {
    std::string text = "No Call of Duty 4 key was found.\n\n";
    if (findings.empty()) {
        return text + "No Wine or Proton prefix was found where Wine, Steam, Lutris, Bottles, "
                      "Heroic and PlayOnLinux keep them.";
    }
    text += "Looked in:";
    constexpr std::size_t kShown = 20;
    for (std::size_t i = 0; i < findings.size() && i < kShown; ++i) {
        text += '\n';
        text += Where(findings[i]);
    }
    if (findings.size() > kShown) {
        text += "\nand " + std::to_string(findings.size() - kShown) + " more";
    }
    return text;
}

std::string Report(const std::vector<Finding>& findings) {
    std::string text = std::string(kWindowTitle) + "\n\n";
    bool any = false;
    for (const auto& found : findings) {
        if (found.read) {
            text += "Call of Duty 4 key: " + Printable(found.key) + "\nFound in " + Where(found) +
                    "\n\n";
            any = true;
        }
    }
    if (!any) {
        return text + NotFoundText(findings) + "\n";
    }
    return text + "To save a key to ostrel.txt, run in a terminal in this folder:\n"
                  "  ./ostrel backup --prefix FOLDER\n"
                  "with FOLDER one of the folders above.\n";
}

std::string EditedKey(Tool tool, std::string_view output) {
    std::string key(output);
    if (!key.empty() && key.back() == '\n') {
        key.pop_back(); // both programs end what was typed with a line feed
    }
    // The word joiner the field started with, wherever the player left it: typed before, the
    // text lands in front of it. A key that holds one of its own keeps that one.
    if (tool == Tool::KDialog) {
        if (const std::size_t at = key.find(kWordJoiner); at != std::string::npos) {
            key.erase(at, kWordJoiner.size());
        }
    }
    return key;
}

std::string BackupMessage(const BackupOutcome& outcome) {
    if (outcome.result.error == 0) {
        return stores::ToUtf8(outcome.charactersReplaced ? BackupFile::kWrittenWithReplacements
                                                         : BackupFile::kWritten);
    }
    // The path is made safe before the message's own line breaks join it.
    const std::wstring shown =
        stores::FromUtf8(SafeForDisplay(stores::ToUtf8(outcome.shownPath))).value_or(L"");
    return stores::ToUtf8(BackupFile::DescribeFailure(outcome.result, shown, L"\n\n"));
}

std::optional<std::size_t> PickedRow(std::string_view output, std::size_t rows) {
    if (!output.empty() && output.back() == '\n') {
        output.remove_suffix(1);
    }
    if (output.empty() || output.size() > 4) {
        return std::nullopt;
    }
    std::size_t number = 0;
    for (const char c : output) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    if (number < 1 || number > rows) {
        return std::nullopt;
    }
    return number - 1;
}

} // namespace cli::dialog
