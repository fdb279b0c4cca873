#include "cli/Options.h"
#include "cli/Dialog.h"

#include <gtest/gtest.h>

namespace {

using cli::Command;

struct Accepted {
    std::vector<std::string> arguments;
    Command command;
    std::optional<std::string> prefix;
    std::optional<std::string> key;
};

TEST(ParseOptions, AcceptsEachCommandWithItsOptions) {
    const Accepted cases[] = {
        {{"recover"}, Command::Recover, {}, {}},
        {{"recover", "--prefix", "/p"}, Command::Recover, "/p", {}},
        {{"recover", "--prefix=/p q"}, Command::Recover, "/p q", {}},
        {{"backup"}, Command::Backup, {}, {}},
        {{"backup", "--key", "", "--prefix", "/p"}, Command::Backup, "/p", ""},
        // A key may itself look like an option or hold an equals sign.
        {{"backup", "--key", "--prefix"}, Command::Backup, {}, "--prefix"},
        {{"backup", "--key=a=b"}, Command::Backup, {}, "a=b"},
        {{"scan"}, Command::Scan, {}, {}},
        {{"--help"}, Command::Help, {}, {}},
        {{"-h"}, Command::Help, {}, {}},
        {{"backup", "--key", "x", "--help"}, Command::Help, {}, {}},
        {{"--version"}, Command::Version, {}, {}},
    };
    for (const auto& c : cases) {
        const auto parsed = cli::ParseOptions(c.arguments);
        ASSERT_TRUE(parsed.options) << c.arguments[0] << ": " << parsed.error;
        EXPECT_EQ(parsed.options->command, c.command) << c.arguments.size();
        EXPECT_EQ(parsed.options->prefix, c.prefix) << c.arguments.size();
        EXPECT_EQ(parsed.options->key, c.key) << c.arguments.size();
    }
}

TEST(ParseOptions, RefusesWithOneLineSayingWhy) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command"},
        {{"recovr"}, "unknown command 'recovr'"},
        {{"--prefix", "/p"}, "unknown command '--prefix'"},
        {{"recover", "--verbose"}, "unknown option '--verbose'"},
        {{"recover", "/p"}, "unknown option '/p'"},
        {{"recover", "--key", "x"}, "--key does not go with this command"},
        {{"scan", "--prefix", "/p"}, "--prefix does not go with this command"},
        {{"recover", "--prefix"}, "--prefix needs a value"},
        {{"recover", "--prefix="}, "--prefix needs a folder"},
        {{"backup", "--key", "a", "--key", "b"}, "--key given twice"},
    };
    for (const auto& [arguments, reason] : cases) {
        const auto parsed = cli::ParseOptions(arguments);
        EXPECT_FALSE(parsed.options) << reason;
        EXPECT_NE(parsed.error.find(reason), std::string::npos) << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
    }
}

// No arguments, no terminal at either end, and a display (X11 or Wayland, set and not empty):
// only then windows instead of the usage hint.
TEST(DoubleClick, ShowsWindowsOnlyWithoutArgumentsTerminalsAndWithADisplay) {
    struct Case {
        std::size_t arguments;
        bool stdinTerminal, stdoutTerminal;
        const char* display;
        const char* wayland;
        bool windows;
    };
    const Case cases[] = {
        {0, false, false, ":0", nullptr, true},      {0, false, false, nullptr, "wayland-0", true},
        {0, false, false, "", nullptr, false},       {0, false, false, nullptr, nullptr, false},
        {0, true, false, ":0", nullptr, false},      {0, false, true, ":0", "wayland-0", false},
        {1, false, false, ":0", "wayland-0", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cli::dialog::Wanted(c.arguments, c.stdinTerminal, c.stdoutTerminal, c.display,
                                      c.wayland),
                  c.windows)
            << c.arguments << c.stdinTerminal << c.stdoutTerminal << (c.display ? c.display : "-");
    }
}

// What a dialog program prints for the list is taken only when it names a row of it.
TEST(DoubleClick, TakesOnlyARowOfTheListFromThePickedOutput) {
    EXPECT_EQ(cli::dialog::PickedRow("1\n", 3), 0u);
    EXPECT_EQ(cli::dialog::PickedRow("3", 3), 2u);
    for (const char* junk :
         {"", "\n", "0", "4", "-1", "1 ", "2\n\n", "x", "99999999999999999999"}) {
        EXPECT_FALSE(cli::dialog::PickedRow(junk, 3)) << junk;
    }
}

} // namespace
