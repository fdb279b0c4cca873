#include "cli/Options.h"

namespace cli {

const char* const kUsage =
    "Usage: ostrel recover [--prefix DIR]\n"
    "       ostrel backup [--prefix DIR] [--key TEXT]\n"
    "       ostrel scan\n"
    "\n"
    "Reads the Call of Duty 4 CD key from a Wine or Proton prefix, without starting Wine.\n"
    "\n"
    "  recover   print the key (\"Error\" when it cannot be read, and why on stderr)\n"
    "  backup    write ostrel.txt in the current folder: the key, or TEXT, under a short header;\n"
    "            without --key only a key that was read and is not empty, else an earlier\n"
    "            ostrel.txt is left alone. A link to a file is followed; a device, a pipe or a\n"
    "            link to one is never written\n"
    "  scan      list every prefix found (Wine, Steam/Proton, Lutris, Bottles, Heroic,\n"
    "            PlayOnLinux), one line each: origin, folder and key, separated by tabs\n"
    "\n"
    "  --prefix DIR  the prefix (the folder holding system.reg), or a Proton compatdata folder;\n"
    "                default $WINEPREFIX, else ~/.wine\n"
    "  --key TEXT    back up TEXT instead of the key read from the prefix\n"
    "  --help        show this help;  --version  show the version\n"
    "\n"
    "Exit status: 0 when a key was read or written; 1 when none was (no such key or value, a\n"
    "damaged or unreadable registry file, a failed write); 2 for a usage error or a folder\n"
    "that holds no system.reg.\n"
    "Nothing is ever written to the prefix.\n";

namespace {

struct CommandName {
    const char* name;
    Command command;
};

constexpr CommandName kCommands[] = {
    {"recover", Command::Recover},   {"backup", Command::Backup}, {"scan", Command::Scan},
    {"help", Command::Help},         {"--help", Command::Help},   {"-h", Command::Help},
    {"--version", Command::Version},
};

ParsedOptions Fail(std::string error) {
    return {std::nullopt, std::move(error)};
}

} // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return Fail("no command given (try ostrel --help)");
    }
    Options options;
    bool known = false;
    for (const auto& entry : kCommands) {
        if (arguments[0] == entry.name) {
            options.command = entry.command;
            known = true;
        }
    }
    if (!known) {
        return Fail("unknown command '" + arguments[0] + "' (try ostrel --help)");
    }

    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            return {Options{Command::Help, {}, {}}, {}};
        }
        // Both "--prefix DIR" and "--prefix=DIR", as users of GNU tools type them.
        std::string name = argument;
        std::optional<std::string> value;
        if (const auto equals = argument.find('=');
            argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        std::optional<std::string>* slot = nullptr;
        if (name == "--prefix" &&
            (options.command == Command::Recover || options.command == Command::Backup)) {
            slot = &options.prefix;
        } else if (name == "--key" && options.command == Command::Backup) {
            slot = &options.key;
        } else if (name == "--prefix" || name == "--key") {
            return Fail(name + " does not go with this command (try ostrel --help)");
        } else {
            return Fail("unknown option '" + argument + "' (try ostrel --help)");
        }
        if (slot->has_value()) {
            return Fail(name + " given twice");
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                return Fail(name + " needs a value");
            }
            value = arguments[++i];
        }
        if (name == "--prefix" && value->empty()) {
            return Fail("--prefix needs a folder");
        }
        *slot = std::move(value);
    }
    return {std::move(options), {}};
}

} // namespace cli
