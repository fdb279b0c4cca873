#include "platform/linux/Windows.h"

#include "platform/linux/InputFile.h"
#include "platform/linux/Prefix.h"
#include "platform/linux/PrefixState.h"
#include "stores/Hive.h"
#include "stores/RegText.h"
#include "stores/Unicode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace platform {

namespace {

using prefix::kBadPathname;
using prefix::kFileNotFound;
using prefix::kInvalidHandle;
// More than any game keeps in one value; a larger one cannot fit the caller's buffer anyway, and
// is answered with its size alone.
constexpr std::size_t kMaxValueRead = std::size_t{1} << 20;

using Result = stores::Hive::Result;
using Names = std::vector<std::u16string>;

struct OpenedHive {
    std::string path;
    std::unique_ptr<stores::ByteSource> file;
    std::optional<stores::Hive> hive;
};

struct Installation {
    OpenedHive software;
    OpenedHive system;
    OpenedHive classes; // the profile's UsrClass.dat, when a user is named
    bool win64 = false; // its SOFTWARE has a 32-bit view
};

struct OpenKey {
    OpenedHive* hive = nullptr; // none: HKEY_LOCAL_MACHINE itself, which holds no values
    stores::HiveCell cell = 0;
};

Installation& Current() {
    static Installation installation;
    return installation;
}

std::map<KeyHandle, OpenKey>& Keys() {
    static std::map<KeyHandle, OpenKey> keys;
    return keys;
}

bool g_fromVirtualStore = false;

bool Same(std::u16string_view name, std::u16string_view lower) {
    return prefix::CurrentPrefix().fold.Fold(name) == lower;
}

// The path of folder/a/b/..., each name found whatever its letter case.
std::optional<std::string> FindPath(std::string folder, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const auto found = FindNoCase(folder, name);
        if (!found) {
            return std::nullopt;
        }
        folder = *found;
    }
    return folder;
}

std::string OpenHive(const std::string& path, OpenedHive& opened) {
    std::string problem;
    opened.path = path;
    opened.file = OpenInputFile(path, problem);
    if (opened.file) {
        opened.hive = stores::Hive::Open(*opened.file, problem, prefix::CurrentPrefix().fold);
    }
    if (!opened.hive) {
        return problem.find(path) == std::string::npos ? path + ": " + problem : problem;
    }
    return {};
}

// The outcome of a walk, with the reason left where the command finds it.
Result Walk(OpenedHive& opened, stores::HiveCell from, const Names& names, stores::HiveCell& key) {
    const Result result = opened.hive->Walk(from, names, key);
    if (result == Result::kDamaged) {
        prefix::CurrentPrefix().lastProblem = opened.path + ": " + opened.hive->Problem();
    }
    return result;
}

// A 32-bit program's walk through SOFTWARE on 64-bit Windows, by the rule the prefix reader
// follows: every key on the way that has a Wow6432Node child is entered through it.
Result Walk32(OpenedHive& opened, const Names& names, stores::HiveCell& key) {
    key = opened.hive->Root();
    const auto redirect = [&](std::u16string_view next) {
        stores::HiveCell wow = 0;
        if (Current().win64 && !Same(next, u"wow6432node") &&
            Walk(opened, key, {u"Wow6432Node"}, wow) == Result::kFound) {
            key = wow;
        }
    };
    for (std::size_t i = 0; i < names.size(); ++i) {
        redirect(names[i]);
        if (const Result result = Walk(opened, key, {names[i]}, key); result != Result::kFound) {
            return result;
        }
    }
    redirect(u"");
    return Result::kFound;
}

// The control set Windows last booted with names CurrentControlSet, which exists only while it
// runs.
std::optional<std::u16string> CurrentControlSet(OpenedHive& system) {
    stores::HiveCell select = 0;
    stores::HiveValue current;
    if (Walk(system, system.hive->Root(), {u"Select"}, select) != Result::kFound ||
        system.hive->Value(select, u"Current", 4, current) != Result::kFound ||
        current.type != kRegDword || current.data.size() != 4) {
        return std::nullopt;
    }
    const unsigned number = static_cast<unsigned char>(current.data[0]) |
                            static_cast<unsigned char>(current.data[1]) << 8;
    char name[16];
    std::snprintf(name, sizeof(name), "ControlSet%03u", number);
    return std::u16string(name, name + std::strlen(name));
}

unsigned AnsiCodePage(OpenedHive& system) {
    const auto controlSet = CurrentControlSet(system);
    stores::HiveCell key = 0;
    stores::HiveValue acp;
    if (!controlSet ||
        Walk(system, system.hive->Root(), {*controlSet, u"Control", u"Nls", u"CodePage"}, key) !=
            Result::kFound ||
        system.hive->Value(key, u"ACP", 64, acp) != Result::kFound || acp.type != kRegSz) {
        return 0;
    }
    return stores::ParseCodePageNumber(stores::FromUtf16Bytes(acp.data));
}

void NoteDirty(const OpenedHive& opened, std::vector<std::string>& notes) {
    if (opened.hive && opened.hive->Dirty()) {
        notes.push_back(opened.path +
                        ": Windows did not close this hive cleanly; its latest changes may be in "
                        "its .LOG1 and .LOG2 files, which are not read");
    }
}

} // namespace

std::optional<std::string> FindWindowsFolder(const std::string& folder) {
    for (const auto& windows :
         {FindNoCase(folder, "Windows"), std::optional<std::string>(folder)}) {
        if (windows && FindPath(*windows, {"System32", "config", "SOFTWARE"})) {
            return windows;
        }
    }
    return std::nullopt;
}

std::vector<std::string> WindowsProfiles(const std::string& folder) {
    std::vector<std::string> profiles;
    const auto windows = FindWindowsFolder(folder);
    const auto users = windows ? FindPath(*windows + "/..", {"Users"}) : std::nullopt;
    std::vector<std::string> names = users ? FolderEntries(*users) : std::vector<std::string>{};
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (FindPath(*users + "/" + name,
                     {"AppData", "Local", "Microsoft", "Windows", "UsrClass.dat"})) {
            profiles.push_back(name);
        }
    }
    return profiles;
}

WindowsChoice UseWindows(const std::string& folder, const std::string& user,
                         const std::vector<std::string>& nlsFolders) {
    WindowsChoice choice;
    prefix::PrefixState& state = prefix::CurrentPrefix();
    state = prefix::PrefixState{};
    Installation& installation = Current();
    installation = Installation{};
    Keys().clear();
    const auto windows = FindWindowsFolder(folder);
    if (!windows) {
        choice.notWindows = true;
        choice.problem =
            folder + " holds no Windows installation (no Windows/System32/config/SOFTWARE)";
        return choice;
    }
    const std::string system32 = *FindNoCase(*windows, "System32");
    state.tablesDir = system32;
    state.nlsFolders = nlsFolders;
    prefix::LoadCaseTable(state);
    choice.problem = OpenHive(*FindPath(system32, {"config", "SOFTWARE"}), installation.software);
    if (choice.problem.empty() && !user.empty()) {
        const auto classes = FindPath(*windows + "/..", {"Users", user.c_str(), "AppData", "Local",
                                                         "Microsoft", "Windows", "UsrClass.dat"});
        choice.notWindows = !classes;
        choice.problem = classes
                             ? OpenHive(*classes, installation.classes)
                             : folder + " has no profile Users/" + user + " with a UsrClass.dat";
    }
    if (!choice.problem.empty()) {
        return choice;
    }
    stores::HiveCell wow = 0;
    installation.win64 = installation.software.hive->Subkey(installation.software.hive->Root(),
                                                            u"Wow6432Node", wow) == Result::kFound;
    // Without SYSTEM the code page stays Windows' most common, as for a prefix that names none.
    const auto system = FindPath(system32, {"config", "SYSTEM"});
    const bool haveSystem = system && OpenHive(*system, installation.system).empty();
    prefix::SettleCodePage(state, haveSystem ? AnsiCodePage(installation.system) : 0);
    state.windowsDisk = true;
    NoteDirty(installation.software, choice.notes);
    NoteDirty(installation.classes, choice.notes);
    return choice;
}

bool OpenedFromVirtualStore() {
    return g_fromVirtualStore;
}

namespace windows {

bool Active() {
    return prefix::CurrentPrefix().windowsDisk;
}

Status Open(RootHandle root, std::u16string_view subKey, KeyHandle& key) {
    Installation& installation = Current();
    std::string& problem = prefix::CurrentPrefix().lastProblem;
    problem = "no such key";
    g_fromVirtualStore = false;
    const auto names = stores::SplitKeyPath(subKey);
    if (!names) {
        return kBadPathname;
    }
    // Only the machine's hives are read: HKEY_CURRENT_USER of the disk is nobody's here.
    if (root != kLocalMachine) {
        return kFileNotFound;
    }
    OpenKey opened;
    Result result = Result::kFound;
    const Names rest(names->empty() ? names->end() : names->begin() + 1, names->end());
    if (names->empty()) {
        // HKEY_LOCAL_MACHINE itself.
    } else if (Same(names->front(), u"software")) {
        // The game, virtualized, saw the profile's VirtualStore copy of the key first.
        if (installation.classes.hive) {
            Names virtualPath{u"VirtualStore", u"MACHINE", u"SOFTWARE"};
            if (installation.win64 && (rest.empty() || !Same(rest.front(), u"wow6432node"))) {
                virtualPath.emplace_back(u"WOW6432Node");
            }
            virtualPath.insert(virtualPath.end(), rest.begin(), rest.end());
            opened.hive = &installation.classes;
            result = Walk(installation.classes, installation.classes.hive->Root(), virtualPath,
                          opened.cell);
            g_fromVirtualStore = result == Result::kFound;
        }
        if (!g_fromVirtualStore && result != Result::kDamaged) {
            opened.hive = &installation.software;
            result = Walk32(installation.software, rest, opened.cell);
        }
    } else if (Same(names->front(), u"system") && installation.system.hive) {
        Names path = rest;
        if (!path.empty() && Same(path.front(), u"currentcontrolset")) {
            const auto controlSet = CurrentControlSet(installation.system);
            path.front() = controlSet ? *controlSet : u"";
        }
        opened.hive = &installation.system;
        result = Walk(installation.system, installation.system.hive->Root(), path, opened.cell);
    } else {
        result = Result::kMissing;
    }
    if (result != Result::kFound) {
        return kFileNotFound;
    }
    problem.clear();
    static KeyHandle next = 0x40000000;
    next += 4;
    Keys()[next] = opened;
    key = next;
    return kSuccess;
}

Status Read(KeyHandle key, std::u16string_view name, Data& data) {
    const auto open = Keys().find(key);
    if (open == Keys().end()) {
        return kInvalidHandle;
    }
    std::string& problem = prefix::CurrentPrefix().lastProblem;
    problem = "no such value";
    OpenedHive* opened = open->second.hive;
    stores::HiveValue value;
    const Result result = opened == nullptr
                              ? Result::kMissing
                              : opened->hive->Value(open->second.cell, name, kMaxValueRead, value);
    if (result == Result::kDamaged) {
        problem = opened->path + ": " + opened->hive->Problem();
    }
    if (result != Result::kFound) {
        return kFileNotFound;
    }
    problem.clear();
    data = Data{value.type, std::move(value.data), value.size};
    return kSuccess;
}

bool Close(KeyHandle key) {
    return Keys().erase(key) == 1;
}

} // namespace windows

} // namespace platform
