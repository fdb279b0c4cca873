// The command line of the Linux command: the window's two buttons as subcommands, and a scan.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Command { Recover, Backup, Scan, Help, Version };

struct Options {
    Command command = Command::Help;
    std::optional<std::string> prefix;  // as typed; resolved later
    std::optional<std::string> windows; // a Windows installation's root, as typed
    std::optional<std::string> user;    // a profile of it
    std::optional<std::string> key;     // UTF-8, as typed
};

// Either the options, or the one-line reason they are wrong (without the program's name).
struct ParsedOptions {
    std::optional<Options> options;
    std::string error;
};

ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

extern const char* const kUsage;

} // namespace cli
