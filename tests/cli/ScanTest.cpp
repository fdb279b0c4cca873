#include "cli/LauncherFiles.h"
#include "cli/Launchers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// A made-up machine under a fresh temporary folder, removed afterwards.
class MadeUpHome : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ostrel-scan.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    void Write(const std::string& relative, const std::string& text) const {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        std::ofstream(Path(relative), std::ios::binary) << text;
    }
    void Prefix(const std::string& relative) const {
        Write(relative + "/system.reg", "WINE REGISTRY Version 2\n");
    }

    std::string root_;
};

TEST_F(MadeUpHome, FindsEveryLaunchersPrefixesOnceInAStableOrder) {
    Prefix("elsewhere/wp");
    Prefix("home/.wine");
    // Steam: the usual link from ~/.steam/steam, a second library in the current list form, a
    // non-Steam game's id, a compatdata folder Proton never set up, and Flatpak and Snap twins.
    Prefix("home/.local/share/Steam/steamapps/compatdata/7940/pfx");
    Prefix("home/.local/share/Steam/steamapps/compatdata/10/pfx");
    fs::create_directories(Path("home/.local/share/Steam/steamapps/compatdata/228980"));
    fs::create_directories(Path("home/.steam"));
    fs::create_directory_symlink(Path("home/.local/share/Steam"), Path("home/.steam/steam"));
    Write("home/.local/share/Steam/steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" +
              Path("home/.local/share/Steam") + "\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" +
              Path("sd card") +
              "\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"7940\"\t\t\"1\"\n\t\t}\n\t}\n}\n");
    Prefix("sd card/steamapps/compatdata/3012345678/pfx");
    Write("home/snap/steam/common/.local/share/Steam/steamapps/libraryfolders.vdf",
          "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\"1\"\n\t\"1\"\t\"" + Path("old lib") +
              "\"\n}\n");
    Prefix("old lib/steamapps/compatdata/7940/pfx");
    Prefix(
        "home/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7940/pfx");
    // Lutris and Bottles under XDG folders moved away from their defaults.
    Write("config/lutris/games/cod4-1690.yml",
          "game:\n  exe: x.exe\n  prefix: ~/Games/cod4\nsystem:\n  prefix: /nowhere\n");
    Prefix("home/Games/cod4");
    Prefix("data/bottles/bottles/CoD4");
    Prefix("home/.var/app/com.usebottles.bottles/data/bottles/bottles/Games");
    // Heroic: a default prefix, and a game whose Proton prefix lies elsewhere.
    Prefix("home/Games/Heroic/Prefixes/default/Call of Duty 4");
    Write("config/heroic/GamesConfig/Quail.json", "{\"Quail\":{\"winePrefix\":\"" +
                                                      Path("heroic proton") +
                                                      "\",\"wineVersion\":{\"type\":\"proton\"}}}");
    Prefix("heroic proton/pfx");
    Write("config/heroic/config.json",
          "{\"defaultSettings\":{\"winePrefix\":\"" + Path("heroic default") + "\"}}");
    Prefix("heroic default/Quake");
    Prefix("home/.PlayOnLinux/wineprefix/CoD4");
    // Not prefixes: a bottle without system.reg, a system.reg that is a folder.
    fs::create_directories(Path("data/bottles/bottles/Empty"));
    fs::create_directories(Path("home/.PlayOnLinux/wineprefix/Odd/system.reg"));

    const cli::Environment env{Path("home"), Path("elsewhere/wp"), Path("data"), Path("config")};
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Wine", "elsewhere/wp"},
        {"Wine", "home/.wine"},
        {"Steam app 10", "home/.steam/steam/steamapps/compatdata/10/pfx"},
        {"Steam app 7940", "home/.steam/steam/steamapps/compatdata/7940/pfx"},
        {"Steam app 3012345678", "sd card/steamapps/compatdata/3012345678/pfx"},
        {"Steam app 7940",
         "home/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7940/pfx"},
        {"Steam app 7940", "old lib/steamapps/compatdata/7940/pfx"},
        {"Lutris game cod4-1690", "home/Games/cod4"},
        {"Bottles bottle CoD4", "data/bottles/bottles/CoD4"},
        {"Bottles bottle Games", "home/.var/app/com.usebottles.bottles/data/bottles/bottles/Games"},
        {"Heroic game Call of Duty 4", "home/Games/Heroic/Prefixes/default/Call of Duty 4"},
        {"Heroic game Quake", "heroic default/Quake"},
        {"Heroic game Quail", "heroic proton/pfx"},
        {"PlayOnLinux CoD4", "home/.PlayOnLinux/wineprefix/CoD4"},
    };
    const auto found = cli::FindPrefixes(env);
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].origin, expected[i].first) << i;
        EXPECT_EQ(found[i].path, Path(expected[i].second)) << i;
    }
}

TEST_F(MadeUpHome, DefaultsXdgFoldersAndIgnoresRelativeOnes) {
    Prefix("home/.local/share/bottles/bottles/A");
    Write("home/.config/lutris/games/b.yml", "game:\n  prefix: " + Path("b") + "\n");
    Prefix("b");
    const auto found = cli::FindPrefixes({Path("home"), "", "relative/data", ""});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].origin, "Lutris game b");
    EXPECT_EQ(found[1].path, Path("home/.local/share/bottles/bottles/A"));
    EXPECT_TRUE(cli::FindPrefixes({"", "", "", ""}).empty());
}

TEST(SteamLibraries, ReadsBothFormsAndNothingElse) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // Numbered entries inside a library's "apps" are app ids, not libraries.
        {R"("libraryfolders" { "0" { "path" "/a" "apps" { "7940" "1" } } "1" { "Path" "/b" } })",
         {"/a", "/b"}},
        {R"("LibraryFolders" { "ContentStatsID" "-1" "1" "/old" "2" "/older" })",
         {"/old", "/older"}},
        {"// written by Steam\n\"libraryfolders\" { \"0\" { \"path\" \"/g\\\\h\\\"i\" } }",
         {"/g\\h\"i"}},
        {R"("libraryfolders" { "0" { "label" "/not" "path" "" } })", {}},
        // Cut short, or not Steam's format at all: what was whole before the damage, or nothing.
        {R"("libraryfolders" { "1" "/kept" "2" "/cut)", {"/kept"}},
        {"}}}{{{\"", {}},
        {"", {}},
    };
    for (const auto& [vdf, libraries] : cases) {
        EXPECT_EQ(cli::SteamLibraries(vdf), libraries) << vdf;
    }
}

TEST(LutrisPrefix, TakesTheGameSectionsOwnPrefix) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"game:\n  exe: a\n  prefix: /home/u/Games/cod\n", "/home/u/Games/cod"},
        {"game:\r\n  prefix: '/it''s here'\r\n", "/it's here"},
        {"game:\n  prefix: \"/q\\\"uoted\" # said so\n", "/q\"uoted"},
        {"game:\n  prefix: /plain # a comment\n", "/plain"},
        {"game:\n  args:\n    prefix: /deeper\n  prefix: /own\n", "/own"},
        {"system:\n  prefix: /not-game\ngame:\n  exe: a\n", std::nullopt},
        {"game:\n  prefix:\n", std::nullopt},
        {"game:\n  prefix: '/unterminated\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [yml, prefix] : cases) {
        EXPECT_EQ(cli::LutrisPrefix(yml), prefix) << yml;
    }
}

TEST(HeroicPrefixes, FindsTheKeyNotTheWord) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {R"({"a":{"winePrefix" : "/p/a","wineVersion":{"type":"proton"}}})", {"/p/a"}},
        {R"({"a":{"winePrefix":"\/home\/u\u00e9 \"x\" \ud83d\ude00"}})",
         {"/home/u\xc3\xa9 \"x\" \xf0\x9f\x98\x80"}},
        {R"({"note":"winePrefix","x":"winePrefix", "y": 1})", {}},
        {R"({"winePrefix":"", "winePrefix": null, "winePrefix": "/b")", {"/b"}},
        {R"({"winePrefix":"/cut)", {}},
        {R"({"winePrefix":"\u12)", {}},
    };
    for (const auto& [json, prefixes] : cases) {
        EXPECT_EQ(cli::HeroicPrefixes(json), prefixes) << json;
    }
}

} // namespace
