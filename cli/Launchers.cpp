#include "cli/Launchers.h"

#include "cli/LauncherFiles.h"

#include "platform/linux/Handles.h"
#include "platform/linux/InputFile.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>
#include <sys/stat.h>

namespace cli {

namespace {

// Launcher settings are small; anything larger is not one of them and is not read whole.
constexpr std::size_t kMaxSettingsFile = 4u << 20;

std::string Join(const std::string& folder, const std::string& name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    return path.append(folder).append(1, '/').append(name);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The problems met on the way (a settings file that is a FIFO, or unreadable), for the user.
std::vector<std::string>* g_problems = nullptr;

std::optional<std::string> ReadSmallFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return std::nullopt; // the usual case: this launcher keeps no such file
    }
    std::string problem;
    auto text = platform::ReadInputFile(path, kMaxSettingsFile, problem);
    if (!text && g_problems != nullptr) {
        g_problems->push_back(problem);
    }
    return text;
}

// Names sort with numbers in numeric order, so Steam app ids read naturally.
bool NaturalLess(const std::string& a, const std::string& b) {
    const bool aDigits = IsNumber(a);
    const bool bDigits = IsNumber(b);
    if (aDigits && bDigits && a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    const platform::UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

std::string Stem(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Paths in launcher settings may start with ~ for the home folder.
std::string ExpandHome(const Environment& env, const std::string& path) {
    if (path == "~" || path.rfind("~/", 0) == 0) {
        return env.home + path.substr(1);
    }
    return path;
}

class Finder {
  public:
    explicit Finder(const Environment& environment) : env_(environment) {}

    void Add(const std::string& origin, const std::string& folder) {
        const auto prefix = ResolvePrefix(folder);
        if (!prefix) {
            return;
        }
        // ~/.steam/steam is usually a link to ~/.local/share/Steam: one prefix, one line.
        char real[PATH_MAX];
        const std::string identity = ::realpath(prefix->c_str(), real) ? real : *prefix;
        if (seen_.insert(identity).second) {
            found_.push_back({origin, *prefix});
        }
    }

    void AddChildren(const std::string& originPrefix, const std::string& folder) {
        for (const auto& name : Entries(folder)) {
            Add(originPrefix + name, Join(folder, name));
        }
    }

    std::string Expand(const std::string& path) const { return ExpandHome(env_, path); }

    std::vector<FoundPrefix> Take() { return std::move(found_); }

  private:
    const Environment& env_;
    std::set<std::string> seen_;
    std::vector<FoundPrefix> found_;
};

// Every Steam library of every Steam install, each once.
std::vector<std::string> SteamLibraryFolders(const Environment& env, const std::string& dataHome) {
    const std::string& home = env.home;
    const std::vector<std::string> roots = {
        home + "/.steam/steam",
        home + "/.steam/debian-installation",
        dataHome + "/Steam",
        // Where Steam was installed before XDG_DATA_HOME was moved, if it was.
        home + "/.local/share/Steam",
        home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam",
        home + "/.var/app/com.valvesoftware.Steam/data/Steam",
        home + "/snap/steam/common/.local/share/Steam",
    };
    std::vector<std::string> found;
    std::set<std::string> seen;
    for (const auto& root : roots) {
        if (!IsFolder(root)) {
            continue;
        }
        std::vector<std::string> libraries = {root};
        for (const char* list : {"/steamapps/libraryfolders.vdf", "/config/libraryfolders.vdf"}) {
            if (const auto text = ReadSmallFile(root + list)) {
                for (const auto& library : SteamLibraries(*text)) {
                    libraries.push_back(ExpandHome(env, library));
                }
            }
        }
        for (const auto& library : libraries) {
            char real[PATH_MAX];
            const std::string identity = ::realpath(library.c_str(), real) ? real : library;
            if (seen.insert(identity).second) {
                found.push_back(library);
            }
        }
    }
    return found;
}

void FindSteam(const Environment& env, const std::string& dataHome, Finder& finder) {
    for (const auto& library : SteamLibraryFolders(env, dataHome)) {
        // Every app id, not only the game's own: it may have been added as a non-Steam game.
        const std::string compatdata = library + "/steamapps/compatdata";
        for (const auto& appId : Entries(compatdata)) {
            finder.Add("Steam app " + appId, Join(compatdata, appId));
        }
    }
}

void FindLutris(const Environment& env, const std::string& dataHome, const std::string& configHome,
                Finder& finder) {
    const std::string lutrisFlatpak = env.home + "/.var/app/net.lutris.Lutris";
    for (const auto& folder :
         {configHome + "/lutris/games", dataHome + "/lutris/games",
          lutrisFlatpak + "/config/lutris/games", lutrisFlatpak + "/data/lutris/games"}) {
        for (const auto& name : Entries(folder)) {
            if (!EndsWith(name, ".yml") && !EndsWith(name, ".yaml")) {
                continue;
            }
            if (const auto text = ReadSmallFile(Join(folder, name))) {
                if (const auto prefix = LutrisPrefix(*text)) {
                    finder.Add("Lutris game " + Stem(name), finder.Expand(*prefix));
                }
            }
        }
    }
}

void FindHeroic(const Environment& env, const std::string& configHome, Finder& finder) {
    const std::string heroicFlatpak = env.home + "/.var/app/com.heroicgameslauncher.hgl/config";
    std::vector<std::string> defaults = {env.home + "/Games/Heroic/Prefixes/default",
                                         env.home + "/Games/Heroic/Prefixes"};
    for (const auto& config : {configHome + "/heroic", heroicFlatpak + "/heroic"}) {
        if (const auto text = ReadSmallFile(config + "/config.json")) {
            for (const auto& prefix : HeroicPrefixes(*text)) {
                defaults.push_back(finder.Expand(prefix));
            }
        }
    }
    for (const auto& folder : defaults) {
        finder.AddChildren("Heroic game ", folder);
    }
    for (const auto& config : {configHome + "/heroic", heroicFlatpak + "/heroic"}) {
        const std::string games = config + "/GamesConfig";
        for (const auto& name : Entries(games)) {
            if (!EndsWith(name, ".json")) {
                continue;
            }
            if (const auto text = ReadSmallFile(Join(games, name))) {
                for (const auto& prefix : HeroicPrefixes(*text)) {
                    finder.Add("Heroic game " + Stem(name), finder.Expand(prefix));
                }
            }
        }
    }
}

// XDG base folders count only when absolute, as the XDG rules say.
std::string BaseFolder(const std::string& variable, const std::string& fallback) {
    return !variable.empty() && variable.front() == '/' ? variable : fallback;
}

} // namespace

Environment EnvironmentOfProcess() {
    auto get = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    return {get("HOME"), get("WINEPREFIX"), get("XDG_DATA_HOME"), get("XDG_CONFIG_HOME")};
}

std::optional<std::string> ResolvePrefix(const std::string& folder) {
    if (folder.empty()) {
        return std::nullopt;
    }
    // Whatever stands there as system.reg makes a prefix: one that cannot be read is a prefix
    // with a problem to report, not a folder to pass over in silence.
    if (Exists(folder + "/system.reg")) {
        return folder;
    }
    if (Exists(folder + "/pfx/system.reg")) {
        return folder + "/pfx";
    }
    return std::nullopt;
}

std::vector<FoundPrefix> FindPrefixes(const Environment& env, std::vector<std::string>* problems) {
    g_problems = problems;
    Finder finder(env);
    finder.Add("Wine", env.winePrefix);
    if (env.home.empty()) {
        return finder.Take(); // every other place is in the home folder
    }
    const std::string dataHome = BaseFolder(env.xdgDataHome, env.home + "/.local/share");
    const std::string configHome = BaseFolder(env.xdgConfigHome, env.home + "/.config");
    finder.Add("Wine", env.home + "/.wine");
    FindSteam(env, dataHome, finder);
    FindLutris(env, dataHome, configHome, finder);
    finder.AddChildren("Bottles bottle ", dataHome + "/bottles/bottles");
    finder.AddChildren("Bottles bottle ",
                       env.home + "/.var/app/com.usebottles.bottles/data/bottles/bottles");
    FindHeroic(env, configHome, finder);
    finder.AddChildren("PlayOnLinux ", env.home + "/.PlayOnLinux/wineprefix");
    g_problems = nullptr;
    return finder.Take();
}

std::vector<std::string> WineNlsFolders(const Environment& env) {
    std::vector<std::string> folders{"/usr/share/wine/nls", "/usr/lib/wine",
                                     "/usr/lib/x86_64-linux-gnu/wine"};
    for (const auto& name : Entries("/opt")) {
        if (name.rfind("wine", 0) == 0) {
            folders.push_back("/opt/" + name + "/share/wine/nls");
        }
    }
    // Each Proton Steam installed keeps Wine's tables in its own folder.
    if (!env.home.empty()) {
        const std::string dataHome = BaseFolder(env.xdgDataHome, env.home + "/.local/share");
        for (const auto& library : SteamLibraryFolders(env, dataHome)) {
            const std::string common = library + "/steamapps/common";
            for (const auto& name : Entries(common)) {
                if (name.rfind("Proton", 0) == 0) {
                    folders.push_back(Join(common, name) + "/files/share/wine/nls");
                    folders.push_back(Join(common, name) + "/dist/share/wine/nls");
                }
            }
        }
    }
    return folders;
}

} // namespace cli
