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
std::vector<FoundPrefix> FindPrefixes(const Environment& environment);

// The folder itself when it holds system.reg, else its pfx/ (how Proton lays out compatdata and
// how Heroic lays out Proton prefixes); nothing when neither does.
std::optional<std::string> ResolvePrefix(const std::string& folder);

// Steam's libraryfolders.vdf, in its current form ("0" { "path" "..." }) and its older one
// ("1" "..."): the library folders it lists.
std::vector<std::string> SteamLibraries(std::string_view vdf);

// A Lutris game file's "prefix" under its "game" section.
std::optional<std::string> LutrisPrefix(std::string_view yml);

// Every "winePrefix" of a Heroic settings file.
std::vector<std::string> HeroicPrefixes(std::string_view json);

} // namespace cli
