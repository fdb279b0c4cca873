// The launchers' own files, read for the one thing the scan needs from each: Steam's library
// list (VDF), a Lutris game's prefix (YAML) and Heroic's prefixes (JSON). Small readers of just
// enough of each format, for files other programs wrote: malformed input yields less, never more.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// Steam's libraryfolders.vdf, in its current form ("0" { "path" "..." }) and its older one
// ("1" "..."): the library folders it lists.
std::vector<std::string> SteamLibraries(std::string_view vdf);

// A Lutris game file's "prefix" under its "game" section.
std::optional<std::string> LutrisPrefix(std::string_view yml);

// Every "winePrefix" of a Heroic settings file.
std::vector<std::string> HeroicPrefixes(std::string_view json);

// Digits only, as Steam's app ids and library numbers are.
bool IsNumber(std::string_view text);

} // namespace cli
