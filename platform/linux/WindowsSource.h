// A Windows installation that is not running (a dual-boot partition, the disk of a dead PC) as the
// source of the registry calls: they answer from its hive files as that Windows answered the
// game, a 32-bit program, and text converts with its ANSI code page.
#pragma once

#include "platform/linux/Source.h"
#include "stores/Hive.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class WindowsSource;

struct WindowsChoice {
    std::string problem;             // empty when the installation is now the one read
    bool notWindows = false;         // the folder holds no Windows installation, or no such profile
    std::vector<std::string> notes;  // one line each: a hive Windows did not close cleanly, ...
    WindowsSource* source = nullptr; // the source now read, when there is one
};

// Makes the installation in `folder` (its root, or its Windows folder) the source the registry
// calls read: machine-wide, or as the profile Users/<user> saw it when a user is named. Code page
// tables the installation lacks are looked for in nlsFolders.
WindowsChoice UseWindows(const std::string& folder, const std::string& user,
                         const std::vector<std::string>& nlsFolders = {});

// The Windows folder of an installation whose root or Windows folder is `folder`, found whatever
// the letter case of its names; nothing when it holds no Windows/System32/config/SOFTWARE.
std::optional<std::string> FindWindowsFolder(const std::string& folder);

// The profiles under Users that hold a UsrClass.dat, by folder name, in order.
std::vector<std::string> WindowsProfiles(const std::string& folder);

// The path a 32-bit program reaches on 64-bit Windows (7 and later) when it opens
// HKEY_LOCAL_MACHINE\<names>: Microsoft's table of the keys affected by WOW64. Under SOFTWARE,
// redirected keys are entered through one Wow6432Node, right under SOFTWARE (or under Classes
// for the class keys that are redirected); shared keys are not; a path that names Wow6432Node
// there itself is left as it is.
std::vector<std::u16string> Wow64View(const std::vector<std::u16string>& names,
                                      const stores::NameFold& fold);

class WindowsSource final : public RegistrySource {
  public:
    Status Open(RootHandle root, std::u16string_view subKey, KeyHandle& key) override;
    Status Read(KeyHandle key, std::u16string_view name, StoredValue& value) override;
    Status Close(KeyHandle key) override;

    // Reads as the profile Users/<user> saw it from now on (empty: machine-wide), keeping what
    // was learnt of the machine's hives. Returns the reason it cannot, or nothing: a profile that
    // has no UsrClass.dat saw the machine's key, and says so in `notes`. `missing` tells a
    // profile that does not exist from one whose hive cannot be read.
    std::string UseProfile(const std::string& user, bool& missing, std::vector<std::string>& notes);

  private:
    friend WindowsChoice UseWindows(const std::string&, const std::string&,
                                    const std::vector<std::string>&);

    struct OpenedHive {
        std::string path;
        std::unique_ptr<stores::ByteSource> file;
        std::vector<std::unique_ptr<stores::ByteSource>> logs;
        std::unique_ptr<stores::ByteSource> replayed; // the file with its logs laid over it
        std::optional<stores::Hive> hive;
    };
    struct OpenKey {
        OpenedHive* hive = nullptr; // none: HKEY_LOCAL_MACHINE itself, which holds no values
        stores::HiveCell cell = 0;
    };
    struct Walked {
        stores::Hive::Result result = stores::Hive::Result::kMissing;
        stores::HiveCell cell = 0;
        std::string problem;
    };
    using Names = std::vector<std::u16string>;

    WindowsSource(std::string folder, std::string windowsFolder, SystemTables tables);

    std::string OpenHive(const std::string& path, OpenedHive& opened,
                         std::vector<std::string>& notes);
    const stores::ByteSource& ReplayLogs(OpenedHive& opened, std::vector<std::string>& notes);
    stores::Hive::Result Walk(OpenedHive& opened, const Names& names, stores::HiveCell& key);
    std::optional<std::u16string> CurrentControlSet();
    unsigned AnsiCodePage();

    std::string folder_; // as the user named it
    std::string windowsFolder_;
    OpenedHive software_;
    OpenedHive system_;
    OpenedHive classes_; // the profile's UsrClass.dat, when one is read
    std::string user_;
    bool win64_ = false;                             // its SOFTWARE has a 32-bit view
    std::map<std::u16string, Walked> softwareWalks_; // each walk made once, whatever the profile
    HandleTable<OpenKey> keys_;
};

} // namespace platform
