// The dialog windows' texts and argument lists: everything a test can read without starting
// a dialog program.
#include "cli/Dialog.h"

#include "platform/Version.h"
#include "stores/Unicode.h"

namespace cli::dialog {

namespace {

constexpr char kWindowTitle[] = OSTREL_WINDOW_CAPTION;
constexpr char kMessageTitle[] = OSTREL_APP_TITLE;

// Registry files and folder names come from outside: a tab or line break must not reshape a
// window, and a dialog program refuses arguments that are not UTF-8. Control characters and
// malformed bytes show as U+FFFD, as the scan shows them.
std::string Printable(std::string_view bytes) {
    return stores::SafeForTerminal(bytes);
}

std::string Printable(std::wstring_view text) {
    return Printable(stores::ToUtf8(text));
}

std::string Where(const Finding& found) {
    return Printable(found.origin) + ": " + Printable(found.folder);
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

} // namespace

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

// GTK reads options anywhere on zenity's command line, "--" included (it becomes a list cell),
// and some load code ("--gtk-module="). So zenity gets its texts inside its own options
// ("--text=..."), and a list cell that starts with a dash gets an invisible word joiner in
// front. kdialog takes its texts from its options, each starting with "<qt>"; the one value of
// the player's own that has to stand alone, the key in the field, comes last and after "--",
// where no option of Qt's can take it for its value.
std::string Cell(std::string text) {
    return !text.empty() && text.front() == '-' ? "\u2060" + text : text;
}

Arguments Message(Tool tool, bool error, std::string_view text) {
    if (tool == Tool::KDialog) {
        return {"--title", kMessageTitle, error ? "--error" : "--msgbox", KDialogText(text)};
    }
    return {error ? "--error" : "--info", std::string("--title=") + kMessageTitle, "--no-markup",
            "--text=" + std::string(text)};
}

Arguments Pick(Tool tool, const std::vector<const Finding*>& keys) {
    const std::string text = "Call of Duty 4 keys were found in " + std::to_string(keys.size()) +
                             " places. Pick the one to show:";
    Arguments arguments;
    if (tool == Tool::KDialog) {
        arguments = {"--title", kWindowTitle, "--radiolist", KDialogText(text), "--"};
        for (std::size_t i = 0; i < keys.size(); ++i) {
            // The row starts with the launcher's name, never with a dash.
            arguments.insert(arguments.end(),
                             {std::to_string(i + 1),
                              Printable(keys[i]->origin) + ": " + Printable(keys[i]->key) + "  (" +
                                  Printable(keys[i]->folder) + ")",
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
        arguments.insert(arguments.end(),
                         {i == 0 ? "TRUE" : "FALSE", std::to_string(i + 1),
                          Cell(Printable(keys[i]->key)), Cell(Printable(keys[i]->origin)),
                          Cell(Printable(keys[i]->folder))});
    }
    return arguments;
}

Arguments Edit(Tool tool, const Finding& found, std::string_view key) {
    const std::string text = "Call of Duty 4 key, found in " + Printable(found.origin) + ":\n" +
                             Printable(found.folder) + "\n\nCorrect it here if it needs it.";
    if (tool == Tool::KDialog) {
        return {"--title", kWindowTitle, "--inputbox", KDialogText(text), "--", std::string(key)};
    }
    return {"--entry", std::string("--title=") + kWindowTitle, "--text=" + ZenityMnemonic(text),
            "--entry-text=" + std::string(key), "--width=560"};
}

Arguments ConfirmBackup(Tool tool, std::string_view folder) {
    const std::string text =
        "Back up the key to ostrel.txt in this folder?\n" + std::string(folder);
    if (tool == Tool::KDialog) {
        return {"--title",    kWindowTitle, "--yes-label", "Backup",
                "--no-label", "Close",      "--yesno",     KDialogText(text)};
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
