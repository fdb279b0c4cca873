// Finding a key in a Wine prefix's registry files as wineserver would for a 32-bit program:
// Wow6432Node redirection, symbolic links and the hives each file holds, in as few passes over
// the files as the path allows, with the work of one open bounded however the links are laid.
#pragma once

#include "platform/Registry.h"
#include "stores/NameFold.h"
#include "stores/RegFile.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::prefix {

// Key paths below \Registry, as folded names.
using Path = std::vector<std::u16string>;

// The prefix: its folder, and whether it is a 64-bit one (whose 32-bit programs see the registry
// through Wow6432Node).
struct PrefixFiles {
    std::string dir;
    stores::Arch arch = stores::Arch::kNone;
};

// Where the prefix names its ANSI code page (value ACP), below \Registry.
const Path& AnsiCodePageKey();

// Where an opened key's values are read from: the file and the sections of it that hold the key,
// or no file for the keys above the files (\Registry, \Registry\User), which hold none.
struct KeyPlace {
    std::shared_ptr<const stores::RegFile> file;
    Path relative; // below the file's root
    stores::Sections sections;
};

// Answers questions about keys of one prefix for the length of one open call. Each pass over a
// file learns every key along the paths it is given; a typical open needs one, which learns the
// path as asked and the path the 32-bit view redirects it to.
class Resolver {
  public:
    // With learnCodePage, the first pass over system.reg also learns where the code page is.
    Resolver(const PrefixFiles& files, const stores::NameFold& fold, bool learnCodePage)
        : prefix_(files), fold_(fold) {
        if (learnCodePage) {
            codePageKey_ = AnsiCodePageKey();
        }
    }

    // Wine's open of subKey under root for a 32-bit program: a key path, or the status of the
    // failure.
    std::optional<Path> Open(const Path& root, std::u16string_view subKey, Status& status);

    // The code page the prefix names (0: none): learnt in this open's first pass over
    // system.reg when nothing stood in the way, else by opening its key as any key is opened.
    unsigned AnsiCodePage();

    KeyPlace Place(const Path& key);

    // The value of that (folded) name at a key's place.
    static std::optional<stores::Value> Read(const KeyPlace& place, const std::u16string& folded,
                                             const stores::NameFold& fold);

    // Why this open found less than it looked for, when a file stood in the way.
    const std::string& Problem() const { return problem_; }

  private:
    struct Known {
        bool haveFacts = false;
        stores::KeyFacts facts;
        bool haveSections = false;
        stores::Sections sections;
    };

    static Path Child(const Path& key, const std::u16string& name);

    // The key itself, or its Wow6432Node child when it has one and the next name does not
    // already ask for it.
    Path Wow64Variant(const Path& key, const std::u16string& next, const Path& tokens,
                      std::size_t used);

    // Replaces a link key by the key it names; false when the link leads nowhere. Each link is
    // resolved once per open, and only so many in all.
    bool FollowLink(Path& key, int depth);

    // Learns key and, in the same pass, the rest of the path still to walk below it.
    void Prefetch(const Path& key, const Path& tokens, std::size_t used);

    const stores::KeyFacts& Facts(const Path& key, const Path& tokens, std::size_t used);

    void Learn(const Path& path) { Learn(std::vector<Path>{path}); }

    // One pass over one file for paths below the same hive (the first path names the hive).
    void Learn(std::vector<Path> paths);

    std::shared_ptr<const stores::RegFile> File(const char* name);

    const PrefixFiles& prefix_;
    const stores::NameFold& fold_;
    std::optional<Path> codePageKey_; // still to learn in the first pass over system.reg
    bool view32_ = false;
    int linksFollowed_ = 0;
    int passes_ = 0;
    std::string problem_;
    std::map<std::u16string, Known> cache_;
    std::map<std::u16string, std::optional<Path>> links_;
    std::map<std::string, std::shared_ptr<const stores::RegFile>> files_; // one descriptor per file
};

} // namespace platform::prefix
