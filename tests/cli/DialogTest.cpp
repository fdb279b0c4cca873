// The double-click windows' argument lists and texts, for text from outside that Qt, GTK or the
// window itself would take for something else. The real programs run in dialog-test.sh.
#include "cli/Dialog.h"

#include <gtest/gtest.h>

namespace {

using cli::dialog::Arguments;
using cli::dialog::Tool;

const char* Name(Tool tool) {
    return tool == Tool::KDialog ? "kdialog" : "zenity";
}

// Every list a window can be given, with the text in every place outside text can take: the
// key, the launcher's name, the folder, the current folder and a message.
std::vector<Arguments> EveryList(Tool tool, const std::string& text) {
    const cli::dialog::Finding found{text, text,  std::wstring(text.begin(), text.end()),
                                     true, false, {}};
    const cli::dialog::Finding other{"Wine", "/home/p/.wine", L"KEY", true, false, {}};
    return {cli::dialog::Pick(tool, {&found, &other}),
            cli::dialog::Pick(tool, {&other, &found}),
            cli::dialog::Edit(tool, found, text),
            cli::dialog::ConfirmBackup(tool, text),
            cli::dialog::Message(tool, true, text),
            cli::dialog::Message(tool, false, cli::dialog::NotFoundText({found}))};
}

TEST(DialogArguments, NoOutsideTextCanBeReadAsAnOptionYetTheFieldHoldsTheKey) {
    for (const std::string text : {"-stylesheet=/tmp/a.qss", "-style=X", "--help", "-platform",
                                   "--gtk-module=X", "--", "-", "<b>x</b>", " -lead", ""}) {
        for (const Tool tool : {Tool::KDialog, Tool::Zenity}) {
            for (const Arguments& list : EveryList(tool, text)) {
                EXPECT_TRUE(cli::dialog::OnlyOwnOptions(Name(tool), list))
                    << Name(tool) << " " << list.front() << " with " << text;
            }
            // What the field starts with comes back as the key, exactly.
            const Arguments edit =
                cli::dialog::Edit(tool, {"Wine", "/p", L"", true, false, {}}, text);
            const std::string field = tool == Tool::KDialog ? edit.back() : edit[3].substr(13);
            EXPECT_EQ(cli::dialog::EditedKey(tool, field + "\n"), text) << Name(tool);
        }
    }
}

TEST(DialogArguments, RefusesAnyListWhereTextCouldBeAnOption) {
    const std::pair<const char*, Arguments> cases[] = {
        {"kdialog", {"--msgbox", "<qt>x</qt>", "-stylesheet=/tmp/a.qss"}}, // bare, after a text
        {"kdialog", {"-stylesheet=/tmp/a.qss", "--msgbox", "<qt>x</qt>"}}, // not one of ours
        {"kdialog", {"--title", "Ostrel 1.1", "--msgbox", "<qt>x</qt>"}},  // Qt's own "-title"
        {"kdialog", {"--inputbox", "<qt>x</qt>", "--", "KEY"}},
        {"kdialog", {"--inputbox", "<qt>x</qt>", "--yesno"}}, // an own option, but as the key
        {"zenity", {"--list", "--column=Key", "TRUE", "--gtk-module=X"}},
        {"zenity", {"--gtk-module=X", "--info"}},
        {"zenity", {"--entry", "--entry-text", "KEY"}}, // "--entry" is ours, not what it begins
        {"xdg-open", {"-h"}},
        {"sh", {"-c", "x"}}, // no program but the three
    };
    for (const auto& [program, list] : cases) {
        EXPECT_FALSE(cli::dialog::OnlyOwnOptions(program, list)) << program << " " << list.back();
    }
    EXPECT_TRUE(cli::dialog::OnlyOwnOptions("xdg-open", {"/home/p/-x/ostrel-report.txt"}));
    EXPECT_TRUE(cli::dialog::OnlyOwnOptions("zenity", {"--info", "--text=-x"}));
}

// kdialog's field starts with a word joiner; the player may type before it, or delete it.
TEST(DialogArguments, TakesOffTheFieldsWordJoinerWhereverThePlayerLeftIt) {
    const std::tuple<Tool, const char*, const char*> cases[] = {
        {Tool::KDialog, "\u2060KEY\n", "KEY"},
        {Tool::KDialog, "z\u2060KEY\n", "zKEY"},
        {Tool::KDialog, "KEY\n", "KEY"},
        {Tool::KDialog, "\u2060K\u2060EY\n", "K\u2060EY"}, // the key's own stays
        {Tool::KDialog, "\u2060 KEY \n\n", " KEY \n"},
        {Tool::Zenity, "\u2060KEY\n", "\u2060KEY"}, // zenity's field starts with the key itself
    };
    for (const auto& [tool, output, key] : cases) {
        EXPECT_EQ(cli::dialog::EditedKey(tool, output), key) << output;
    }
}

TEST(DialogText, ShowsWhatCouldReshapeOrReorderALineAsReplacementCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\nb\tc\x1b", "a\uFFFDb\uFFFDc\uFFFD"},
        {"a\u2028b\u2029c", "a\uFFFDb\uFFFDc"},
        {"\u202Etxt.exe\u202C\u2066x\u2069", "\uFFFDtxt.exe\uFFFD\uFFFDx\uFFFD"},
        {"\xff\xc3", "\uFFFD\uFFFD"},
        {"caf\u00e9 \u2060 \u200f/\u0416", "caf\u00e9 \u2060 \u200f/\u0416"},
    };
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(cli::dialog::SafeForDisplay(bytes), shown) << bytes;
    }
}

} // namespace
