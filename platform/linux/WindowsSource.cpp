#include "platform/linux/WindowsSource.h"

#include "platform/linux/InputFile.h"
#include "stores/HiveLog.h"
#include "stores/RegText.h"
#include "stores/Unicode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace platform {

namespace {

using Result = stores::Hive::Result;

// More than any game keeps in one value; a larger one cannot fit the caller's buffer anyway, and
// is answered with its size alone.
constexpr std::size_t kMaxValueRead = std::size_t{1} << 20;

// The path of folder/a/b/..., each name found whatever its letter case.
std::optional<std::string> FindPath(std::string folder, std::initializer_list<const char*> names,
                                    const stores::NameFold& fold = stores::NameFold()) {
    for (const char* name : names) {
        const auto found = FindNoCase(folder, name, fold);
        if (!found) {
            return std::nullopt;
        }
        folder = *found;
    }
    return folder;
}

// A profile's own hive of classes, which holds the VirtualStore.
std::optional<std::string> FindUsrClass(const std::string& profile, const stores::NameFold& fold) {
    return FindPath(profile, {"AppData", "Local", "Microsoft", "Windows", "UsrClass.dat"}, fold);
}

// The volume's root, which holds Users beside the Windows folder, named as the user would.
std::string VolumeOf(const std::string& windowsFolder) {
    std::string root = windowsFolder;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    const std::size_t slash = root.rfind('/');
    if (slash == std::string::npos || root.substr(slash + 1) == "..") {
        return windowsFolder + "/..";
    }
    return slash == 0 ? "/" : root.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Microsoft's table of the keys affected by WOW64, the column for Windows 7 and later, below
// HKEY_LOCAL_MACHINE\SOFTWARE: a key follows the deepest entry on its path. Redirected entries
// lie in SOFTWARE\Wow6432Node; the class keys marked so, in SOFTWARE\Classes\Wow6432Node.
struct Wow64Entry {
    const char16_t* path; // below SOFTWARE, names joined by backslashes
    bool redirected;
};

const Wow64Entry kWow64Table[] = {
    {u"", true},
    {u"Classes", false},
    {u"Classes\\Appid", false},
    {u"Classes\\CLSID", true},
    {u"Classes\\DirectShow", true},
    {u"Classes\\HCP", false},
    {u"Classes\\Interface", true},
    {u"Classes\\Media Type", true},
    {u"Classes\\MediaFoundation", true},
    {u"Clients", false},
    {u"Microsoft\\COM3", false},
    {u"Microsoft\\Cryptography\\Calais\\Current", false},
    {u"Microsoft\\Cryptography\\Calais\\Readers", false},
    {u"Microsoft\\Cryptography\\Services", false},
    {u"Microsoft\\CTF\\SystemShared", false},
    {u"Microsoft\\CTF\\TIP", false},
    {u"Microsoft\\DFS", false},
    {u"Microsoft\\Driver Signing", false},
    {u"Microsoft\\EnterpriseCertificates", false},
    {u"Microsoft\\EventSystem", false},
    {u"Microsoft\\MSMQ", false},
    {u"Microsoft\\Non-Driver Signing", false},
    {u"Microsoft\\Notepad\\DefaultFonts", false},
    {u"Microsoft\\OLE", false},
    {u"Microsoft\\RAS", false},
    {u"Microsoft\\RPC", false},
    {u"Microsoft\\SOFTWARE\\Microsoft\\Shared Tools\\MSInfo", false},
    {u"Microsoft\\SystemCertificates", false},
    {u"Microsoft\\TermServLicensing", false},
    {u"Microsoft\\Transaction Server", false},
    {u"Microsoft\\Windows\\CurrentVersion\\App Management", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Group Policy", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Policies", false},
    {u"Microsoft\\Windows\\CurrentVersion\\PreviewHandlers", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Setup", false},
    {u"Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Console", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\FontDpi", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\FontLink", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\FontMapper", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Fonts", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\LanguagePack", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\NetworkCards", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Perflib", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Ports", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Print", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList", false},
    {u"Microsoft\\Windows NT\\CurrentVersion\\Time Zones", false},
    {u"Policies", false},
    {u"RegisteredApplications", false},
};

const std::u16string kWow64Node = u"Wow6432Node";

} // namespace

std::vector<std::u16string> Wow64View(const std::vector<std::u16string>& names,
                                      const stores::NameFold& fold) {
    if (names.empty() || !fold.Same(names.front(), u"SOFTWARE")) {
        return names; // only SOFTWARE holds keys of either view
    }
    const Wow64Entry* deepest = nullptr;
    std::size_t depth = 0;
    for (const Wow64Entry& entry : kWow64Table) {
        const auto path = stores::SplitKeyPath(entry.path).value_or(std::vector<std::u16string>{});
        if (path.size() + 1 > names.size() || (deepest != nullptr && path.size() < depth)) {
            continue;
        }
        if (std::equal(path.begin(), path.end(), names.begin() + 1,
                       [&](const auto& a, const auto& b) { return fold.Same(a, b); })) {
            deepest = &entry;
            depth = path.size();
        }
    }
    if (deepest == nullptr || !deepest->redirected) {
        return names;
    }
    // SOFTWARE's own view lies in SOFTWARE\Wow6432Node; a redirected class key's in the
    // Wow6432Node beside it, under Classes.
    const std::size_t at = depth == 0 ? 1 : depth;
    if (at < names.size() && fold.Same(names[at], kWow64Node)) {
        return names;
    }
    std::vector<std::u16string> view = names;
    view.insert(view.begin() + static_cast<long>(at), kWow64Node);
    return view;
}

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
    const auto users = windows ? FindPath(VolumeOf(*windows), {"Users"}) : std::nullopt;
    std::vector<std::string> names = users ? FolderEntries(*users) : std::vector<std::string>{};
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (FindUsrClass(*users + "/" + name, stores::NameFold())) {
            profiles.push_back(name);
        }
    }
    return profiles;
}

WindowsSource::WindowsSource(std::string folder, std::string windowsFolder, SystemTables tables)
    : RegistrySource(std::move(tables)), folder_(std::move(folder)),
      windowsFolder_(std::move(windowsFolder)) {}

WindowsChoice UseWindows(const std::string& folder, const std::string& user,
                         const std::vector<std::string>& nlsFolders) {
    WindowsChoice choice;
    UseSource(nullptr);
    const auto windows = FindWindowsFolder(folder);
    if (!windows) {
        choice.notWindows = true;
        choice.problem =
            folder + " holds no Windows installation (no Windows/System32/config/SOFTWARE)";
        return choice;
    }
    const std::string system32 = *FindNoCase(*windows, "System32");
    SystemTables tables(system32, nlsFolders);
    tables.LoadCaseTable();
    // Not public: the source exists only as the one the registry calls read.
    std::unique_ptr<WindowsSource> source(new WindowsSource(folder, *windows, std::move(tables)));
    choice.problem = source->OpenHive(*FindPath(system32, {"config", "SOFTWARE"}),
                                      source->software_, choice.notes);
    if (!choice.problem.empty()) {
        return choice;
    }
    stores::HiveCell wow = 0;
    source->win64_ = source->software_.hive->Subkey(source->software_.hive->Root(), kWow64Node,
                                                    wow) == Result::kFound;
    // Without SYSTEM the code page stays Windows' most common, as for a prefix that names none.
    const auto system = FindPath(system32, {"config", "SYSTEM"});
    const bool haveSystem =
        system && source->OpenHive(*system, source->system_, choice.notes).empty();
    source->tables_.LoadCodePage(haveSystem ? source->AnsiCodePage() : 0);
    if (!user.empty()) {
        choice.problem = source->UseProfile(user, choice.notWindows, choice.notes);
        if (!choice.problem.empty()) {
            return choice;
        }
    }
    choice.source = &static_cast<WindowsSource&>(UseSource(std::move(source)));
    return choice;
}

std::string WindowsSource::UseProfile(const std::string& user, bool& missing,
                                      std::vector<std::string>& notes) {
    missing = false;
    classes_ = OpenedHive{};
    user_.clear();
    keys_ = HandleTable<OpenKey>{}; // keys opened as another profile saw them read nothing now
    if (user.empty()) {
        return {};
    }
    const auto users = FindPath(VolumeOf(windowsFolder_), {"Users"}, tables_.Fold());
    const auto profile = users ? FindNoCase(*users, user, tables_.Fold()) : std::nullopt;
    if (!profile || !IsFolder(*profile)) {
        missing = true;
        std::vector<std::string> names = users ? FolderEntries(*users) : std::vector<std::string>{};
        std::sort(names.begin(), names.end());
        std::string known;
        for (const std::string& name : names) {
            if (IsFolder(*users + "/" + name)) {
                known += (known.empty() ? "" : ", ") + name;
            }
        }
        return folder_ + " has no profile Users/" + user +
               (known.empty() ? std::string(" (it has no profiles)")
                              : " (the profiles there: " + known + ")");
    }
    user_ = user;
    const auto classes = FindUsrClass(*profile, tables_.Fold());
    if (!classes) {
        // The VirtualStore lives in that hive: without it the game saw the machine's key.
        notes.push_back(*profile + " has no " +
                        "AppData/Local/Microsoft/Windows/UsrClass.dat: its user saw the "
                        "machine-wide key");
        return {};
    }
    return OpenHive(*classes, classes_, notes);
}

std::string WindowsSource::OpenHive(const std::string& path, OpenedHive& opened,
                                    std::vector<std::string>& notes) {
    std::string problem;
    opened.path = path;
    opened.file = OpenInputFile(path, problem);
    if (opened.file) {
        const stores::ByteSource& bytes =
            stores::HiveNeedsLogs(*opened.file) ? ReplayLogs(opened, notes) : *opened.file;
        opened.hive = stores::Hive::Open(bytes, problem, tables_.Fold());
    }
    if (!opened.hive) {
        return problem.find(path) == std::string::npos ? path + ": " + problem : problem;
    }
    if (opened.hive->CutShort()) {
        notes.push_back(path + ": the file ends before its hive bins do: it was cut short, and "
                               "what it lost cannot be read");
    }
    return {};
}

// Windows did not close the hive cleanly: its latest changes wait in the transaction logs beside
// it, which Windows lays over it when it next loads it. So does this, in memory: the hive as that
// Windows would see it, or, when no log can be applied, the hive as it is, with a warning.
const stores::ByteSource& WindowsSource::ReplayLogs(OpenedHive& opened,
                                                    std::vector<std::string>& notes) {
    const std::size_t slash = opened.path.rfind('/');
    const std::string folder = opened.path.substr(0, slash);
    const std::string name = opened.path.substr(slash + 1);
    std::vector<stores::HiveLogFile> logs;
    // SOFTWARE.LOG1 and .LOG2 since Vista; XP's software.LOG.
    for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
        const auto log = FindNoCase(folder, name + suffix, tables_.Fold());
        if (!log) {
            continue;
        }
        std::string problem;
        if (auto file = OpenInputFile(*log, problem)) {
            logs.push_back({log->substr(slash + 1), file.get()});
            opened.logs.push_back(std::move(file));
        } else {
            notes.push_back(problem);
        }
    }
    stores::HiveReplay replay = stores::ReplayHiveLogs(*opened.file, logs);
    if (!replay.hive) {
        notes.push_back(opened.path + ": Windows did not close this hive cleanly, and " +
                        replay.problem + ": the key may be out of date");
        return *opened.file;
    }
    notes.push_back(opened.path + ": Windows did not close this hive cleanly: " + replay.said +
                    ", as Windows would at its next boot");
    opened.replayed = std::move(replay.hive);
    return *opened.replayed;
}

// The outcome of a walk, with the reason left where the command finds it.
Result WindowsSource::Walk(OpenedHive& opened, const Names& names, stores::HiveCell& key) {
    const Result result = opened.hive->Walk(opened.hive->Root(), names, key);
    if (result == Result::kDamaged) {
        problem_ = opened.path + ": " + opened.hive->Problem();
    }
    return result;
}

// The control set Windows last booted with names CurrentControlSet, which exists only while it
// runs.
std::optional<std::u16string> WindowsSource::CurrentControlSet() {
    stores::HiveCell select = 0;
    stores::HiveValue current;
    if (Walk(system_, {u"Select"}, select) != Result::kFound ||
        system_.hive->Value(select, u"Current", 4, current) != Result::kFound ||
        current.type != kRegDword || current.data.size() != 4) {
        return std::nullopt;
    }
    const unsigned number = static_cast<unsigned char>(current.data[0]) |
                            static_cast<unsigned char>(current.data[1]) << 8;
    char name[16];
    std::snprintf(name, sizeof(name), "ControlSet%03u", number);
    return std::u16string(name, name + std::strlen(name));
}

unsigned WindowsSource::AnsiCodePage() {
    const auto controlSet = CurrentControlSet();
    stores::HiveCell key = 0;
    stores::HiveValue acp;
    if (!controlSet ||
        Walk(system_, {*controlSet, u"Control", u"Nls", u"CodePage"}, key) != Result::kFound ||
        system_.hive->Value(key, u"ACP", 64, acp) != Result::kFound || acp.type != kRegSz) {
        return 0;
    }
    return stores::ParseCodePageNumber(stores::FromUtf16Bytes(acp.data));
}

Status WindowsSource::Open(RootHandle root, std::u16string_view subKey, KeyHandle& key) {
    problem_ = "no such key";
    virtualStoreProfile_.clear();
    const auto names = stores::SplitKeyPath(subKey);
    if (!names) {
        return kBadPathname;
    }
    // Only the machine's hives are read: HKEY_CURRENT_USER of the disk is nobody's here.
    if (root != kLocalMachine) {
        return kFileNotFound;
    }
    const stores::NameFold& fold = tables_.Fold();
    OpenKey opened;
    Result result = Result::kFound;
    if (names->empty()) {
        // HKEY_LOCAL_MACHINE itself.
    } else if (fold.Same(names->front(), u"SOFTWARE")) {
        const Names view = win64_ ? Wow64View(*names, fold) : *names;
        // The game, virtualized, saw the profile's VirtualStore copy of the key first.
        if (classes_.hive) {
            Names virtualPath{u"VirtualStore", u"MACHINE"};
            virtualPath.insert(virtualPath.end(), view.begin(), view.end());
            opened.hive = &classes_;
            result = Walk(classes_, virtualPath, opened.cell);
            if (result == Result::kFound) {
                virtualStoreProfile_ = user_;
            }
        }
        if (virtualStoreProfile_.empty() && result != Result::kDamaged) {
            const Names inSoftware(view.begin() + 1, view.end());
            std::u16string joined;
            for (const auto& name : inSoftware) {
                joined += fold.Fold(name) + u'\\';
            }
            auto walked = softwareWalks_.find(joined);
            if (walked == softwareWalks_.end()) {
                Walked fresh;
                fresh.result = Walk(software_, inSoftware, fresh.cell);
                fresh.problem = fresh.result == Result::kDamaged ? problem_ : "";
                walked = softwareWalks_.emplace(joined, std::move(fresh)).first;
            }
            opened.hive = &software_;
            opened.cell = walked->second.cell;
            result = walked->second.result;
            if (result == Result::kDamaged) {
                problem_ = walked->second.problem;
            }
        }
    } else if (fold.Same(names->front(), u"SYSTEM") && system_.hive) {
        Names path(names->begin() + 1, names->end());
        if (!path.empty() && fold.Same(path.front(), u"CurrentControlSet")) {
            path.front() = CurrentControlSet().value_or(u"");
        }
        opened.hive = &system_;
        result = Walk(system_, path, opened.cell);
    } else {
        result = Result::kMissing;
    }
    if (result != Result::kFound) {
        return kFileNotFound;
    }
    problem_.clear();
    key = keys_.Add(opened);
    return kSuccess;
}

Status WindowsSource::Read(KeyHandle key, std::u16string_view name, StoredValue& value) {
    const OpenKey* open = keys_.Find(key);
    if (open == nullptr) {
        return kInvalidHandle;
    }
    problem_ = "no such value";
    OpenedHive* opened = open->hive;
    stores::HiveValue read;
    const Result result = opened == nullptr
                              ? Result::kMissing
                              : opened->hive->Value(open->cell, name, kMaxValueRead, read);
    if (result == Result::kDamaged) {
        problem_ = opened->path + ": " + opened->hive->Problem();
    }
    if (result != Result::kFound) {
        return kFileNotFound;
    }
    problem_.clear();
    value = StoredValue{read.type, std::move(read.data), read.size};
    return kSuccess;
}

Status WindowsSource::Close(KeyHandle key) {
    return keys_.Remove(key) ? kSuccess : kInvalidHandle;
}

} // namespace platform
