#include "platform/linux/Prefix.h"

#include "platform/linux/InputFile.h"
#include "platform/linux/PrefixState.h"
#include "stores/NlsWords.h"

#include <sys/stat.h>
#include <utility>

namespace platform {

namespace prefix {

namespace {

constexpr unsigned kDefaultCodePage = 1252;

// The NLS file of that name: the prefix's (or Windows installation's) own, else the first of
// Wine's install folders that holds a valid one. `where` says which was used.
template <typename Table>
std::optional<Table> FindTable(PrefixState& state, const std::string& name, std::string& where) {
    std::vector<std::string> folders{state.tablesDir};
    folders.insert(folders.end(), state.nlsFolders.begin(), state.nlsFolders.end());
    for (const std::string& folder : folders) {
        std::string problem;
        // Windows names them C_1252.NLS, Wine c_1252.nls. Not there is the usual case for all
        // but one of the folders.
        const auto found = FindNoCase(folder, name);
        if (!found) {
            continue;
        }
        const std::string& path = *found;
        if (const auto bytes = ReadInputFile(path, stores::kMaxNlsFileBytes, problem)) {
            if (auto table = Table::FromNls(*bytes)) {
                where = path;
                return table;
            }
            problem = path + " is no table Windows would read";
        }
        state.notes.push_back(problem);
    }
    return std::nullopt;
}

} // namespace

PrefixState& CurrentPrefix() {
    static PrefixState state;
    return state;
}

const std::vector<std::u16string>& AnsiCodePageKey() {
    static const std::vector<std::u16string> kKey{u"machine", u"system", u"currentcontrolset",
                                                  u"control", u"nls",    u"codepage"};
    return kKey;
}

bool IsAscii(std::string_view bytes) {
    for (const char byte : bytes) {
        if (static_cast<unsigned char>(byte) >= 0x80) {
            return false;
        }
    }
    return true;
}

void SettleCodePage(PrefixState& state, unsigned number) {
    number = number == 0 ? kDefaultCodePage : number;
    const std::string name = "c_" + std::to_string(number) + ".nls";
    std::string where;
    const auto table = FindTable<stores::CodePage>(state, name, where);
    if (table && table->Number() == number) {
        state.codePage = *table;
        if (where.rfind(state.tablesDir + "/", 0) != 0) {
            state.notes.push_back("code page " + std::to_string(number) + ": " + state.tablesDir +
                                  " has no " + name + "; used " + where);
        }
    } else if (number == kDefaultCodePage) {
        state.codePage = stores::CodePage::Builtin1252();
        state.notes.push_back("code page 1252: no " + name + " in " + state.tablesDir +
                              " or Wine's folders; used the built-in table");
    } else {
        state.codePage = stores::CodePage::AsciiOnly(number);
        state.notes.push_back("code page " + std::to_string(number) + ": no " + name + " in " +
                              state.tablesDir +
                              " or Wine's folders; letters beyond ASCII read as ?");
    }
    state.codePageSettled = true;
}

void LoadCaseTable(PrefixState& state) {
    std::string where;
    if (auto fold = FindTable<stores::NameFold>(state, "l_intl.nls", where)) {
        state.fold = std::move(*fold);
    }
}

} // namespace prefix

std::string UsePrefix(const std::string& prefixDir, const std::vector<std::string>& nlsFolders) {
    std::string problem;
    const std::string system = prefixDir + "/system.reg";
    struct stat info {};
    if (::stat(system.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return prefixDir + " is not a Wine prefix: it holds no system.reg";
    }
    auto source = OpenInputFile(system, problem);
    if (!source) {
        return problem;
    }
    const auto file = stores::RegFile::Open(std::move(source), "system.reg", problem);
    if (!file) {
        return prefixDir + "/" + problem;
    }
    prefix::PrefixState& state = prefix::CurrentPrefix();
    state = prefix::PrefixState{};
    state.dir = prefixDir;
    state.tablesDir = prefixDir + "/drive_c/windows/system32";
    state.nlsFolders = nlsFolders;
    state.arch = file->arch();
    prefix::LoadCaseTable(state);
    return {};
}

std::string LastRegistryProblem() {
    return prefix::CurrentPrefix().lastProblem;
}

std::vector<std::string> TakePrefixNotes() {
    return std::exchange(prefix::CurrentPrefix().notes, {});
}

} // namespace platform
