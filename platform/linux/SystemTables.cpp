#include "platform/linux/SystemTables.h"

#include "platform/linux/InputFile.h"
#include "stores/NlsWords.h"

#include <utility>

namespace platform {

namespace {

constexpr unsigned kDefaultCodePage = 1252;

} // namespace

// Windows names them C_1252.NLS, Wine c_1252.nls. Not there is the usual case for all but one of
// the folders; a file there that is no table is worth a note.
template <typename Table>
std::optional<Table> SystemTables::Find(const std::string& name, std::string& where) {
    std::vector<std::string> folders{system32_};
    folders.insert(folders.end(), nlsFolders_.begin(), nlsFolders_.end());
    for (const std::string& folder : folders) {
        const auto found = FindNoCase(folder, name);
        if (!found) {
            continue;
        }
        std::string problem;
        if (const auto bytes = ReadInputFile(*found, stores::kMaxNlsFileBytes, problem)) {
            if (auto table = Table::FromNls(*bytes)) {
                where = *found;
                return table;
            }
            problem = *found + " is no table Windows would read";
        }
        notes_.push_back(problem);
    }
    return std::nullopt;
}

void SystemTables::LoadCaseTable() {
    std::string where;
    if (auto fold = Find<stores::NameFold>("l_intl.nls", where)) {
        fold_ = std::move(*fold);
    }
}

void SystemTables::LoadCodePage(unsigned number) {
    number = number == 0 ? kDefaultCodePage : number;
    const std::string name = "c_" + std::to_string(number) + ".nls";
    std::string where;
    const auto table = Find<stores::CodePage>(name, where);
    if (table && table->Number() == number) {
        codePage_ = *table;
        if (where.rfind(system32_ + "/", 0) != 0) {
            notes_.push_back("code page " + std::to_string(number) + ": " + system32_ + " has no " +
                             name + "; used " + where);
        }
    } else if (number == kDefaultCodePage) {
        codePage_ = stores::CodePage::Builtin1252();
        notes_.push_back("code page 1252: no " + name + " in " + system32_ +
                         " or Wine's folders; used the built-in table");
    } else {
        codePage_ = stores::CodePage::AsciiOnly(number);
        notes_.push_back("code page " + std::to_string(number) + ": no " + name + " in " +
                         system32_ + " or Wine's folders; letters beyond ASCII read as ?");
    }
    codePageLoaded_ = true;
}

std::vector<std::string> SystemTables::TakeNotes() {
    return std::exchange(notes_, {});
}

} // namespace platform
