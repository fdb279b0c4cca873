// Where Wine prefixes live on a player's machine: plain Wine, Steam's Proton, Lutris, Bottles,
// Heroic and PlayOnLinux, each in its usual places and in its Flatpak or Snap twin.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The variables that decide where launchers keep their files. Tests point them at a made-up home.
struct Environment {
    std::string home;
    std::string winePrefix;
    std::string xdgDataHome;   // empty: $HOME/.local/share
    std::string xdgConfigHome; // empty: $HOME/.config
};

Environment EnvironmentOfProcess();

struct FoundPrefix {
    std::string origin; // "Wine", "Steam app 7940", "Lutris game cod4", ...
    std::string path;   // the folder holding system.reg
};

// Every prefix found, each once (the first place it was found names it), in a stable order.
// Launcher files that could not be read are added to problems, when given.
std::vector<FoundPrefix> FindPrefixes(const Environment& environment,
                                      std::vector<std::string>* problems = nullptr);

// Where Wine keeps its own code page tables: its install folders, and each Proton's in the
// Steam libraries, for prefixes that lack them.
std::vector<std::string> WineNlsFolders(const Environment& environment);

// The folder itself when it holds system.reg, else its pfx/ (how Proton lays out compatdata and
// how Heroic lays out Proton prefixes); nothing when neither does.
std::optional<std::string> ResolvePrefix(const std::string& folder);

} // namespace cli
