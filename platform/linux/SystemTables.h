// The text tables of the system a source reads (a Wine prefix, a Windows installation): its ANSI
// code page, in which narrow text reaches a program, and its case table, by which names compare.
// Both come from the NLS files in its own system32, or where it lacks them, from Wine's.
#pragma once

#include "stores/CodePage.h"
#include "stores/NameFold.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

class SystemTables {
  public:
    SystemTables() = default;
    // The tables in `system32`, else in the first of nlsFolders (Wine's own install folders)
    // that holds a valid one. Nothing is read yet.
    SystemTables(std::string system32, std::vector<std::string> nlsFolders)
        : system32_(std::move(system32)), nlsFolders_(std::move(nlsFolders)) {}

    // Reads the case table (l_intl.nls); without one, names fold by the Latin letters alone.
    void LoadCaseTable();
    // Reads the table of the code page the system names (0: it names none, which means 1252).
    void LoadCodePage(unsigned number);

    // Until a code page is loaded only ASCII, which every ANSI code page writes alike, converts.
    bool CodePageLoaded() const { return codePageLoaded_; }
    const stores::CodePage& CodePage() const { return codePage_; }
    const stores::NameFold& Fold() const { return fold_; }

    // How the tables were found, where not as usual, one line each since last asked.
    std::vector<std::string> TakeNotes();
    void Note(std::string line) { notes_.push_back(std::move(line)); }

  private:
    template <typename Table>
    std::optional<Table> Find(const std::string& name, std::string& where);

    std::string system32_;
    std::vector<std::string> nlsFolders_;
    bool codePageLoaded_ = false;
    stores::CodePage codePage_ = stores::CodePage::AsciiOnly(1252);
    stores::NameFold fold_;
    std::vector<std::string> notes_;
};

} // namespace platform
