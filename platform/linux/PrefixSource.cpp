#include "platform/linux/PrefixSource.h"

#include "platform/linux/InputFile.h"
#include "platform/linux/Resolver.h"
#include "platform/linux/Source.h"

#include <sys/stat.h>

namespace platform {

namespace {

using prefix::KeyPlace;
using prefix::Path;
using prefix::Resolver;

const Path* RootPath(RootHandle root) {
    static const Path kMachine{u"machine"};
    static const Path kAllUsers{u"user"};
    static const Path kTheUser{u"user", u"s-1-5-21-0-0-0-1000"};
    switch (root) {
    case kCurrentUser:
        return &kTheUser;
    case kLocalMachine:
        return &kMachine;
    case kUsers:
        return &kAllUsers;
    default:
        return nullptr;
    }
}

class PrefixSource final : public RegistrySource {
  public:
    PrefixSource(prefix::PrefixFiles files, SystemTables tables)
        : RegistrySource(std::move(tables)), files_(std::move(files)) {}

    Status Open(RootHandle root, std::u16string_view subKey, KeyHandle& key) override {
        const Path* rootPath = RootPath(root);
        if (rootPath == nullptr) {
            problem_ = "no such key";
            return kFileNotFound;
        }
        Resolver resolver(files_, tables_.Fold(), !tables_.CodePageLoaded());
        Status status = kSuccess;
        const auto found = resolver.Open(*rootPath, subKey, status);
        LearnedCodePage(resolver);
        if (!found) {
            problem_ = !resolver.Problem().empty() ? resolver.Problem() : "no such key";
            return status;
        }
        key = keys_.Add(resolver.Place(*found));
        problem_ = resolver.Problem();
        return kSuccess;
    }

    Status Read(KeyHandle key, std::u16string_view name, StoredValue& value) override {
        const KeyPlace* place = keys_.Find(key);
        if (place == nullptr) {
            return kInvalidHandle;
        }
        auto read = Resolver::Read(*place, tables_.Fold().Fold(name), tables_.Fold());
        if (place->file && !place->file->ReadProblem().empty()) {
            problem_ = place->file->ReadProblem();
        }
        if (!read) {
            if (problem_.empty()) {
                problem_ = "no such value";
            }
            return kFileNotFound;
        }
        if (read->damaged) {
            problem_ = "the value is damaged in the registry file";
        }
        const std::size_t stored = read->data.size();
        value = StoredValue{read->type, std::move(read->data), stored};
        return kSuccess;
    }

    Status Close(KeyHandle key) override { return keys_.Remove(key) ? kSuccess : kInvalidHandle; }

    void LearnCodePage() override {
        if (!tables_.CodePageLoaded()) {
            Resolver resolver(files_, tables_.Fold(), true);
            LearnedCodePage(resolver);
        }
    }

  private:
    // The code page is learnt on the way, in the first pass over system.reg that a read makes
    // anyway, or by the resolver itself when that pass could not.
    void LearnedCodePage(Resolver& resolver) {
        if (!tables_.CodePageLoaded()) {
            tables_.LoadCodePage(resolver.AnsiCodePage());
        }
    }

    prefix::PrefixFiles files_;
    HandleTable<KeyPlace> keys_;
};

} // namespace

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
    SystemTables tables(prefixDir + "/drive_c/windows/system32", nlsFolders);
    tables.LoadCaseTable();
    UseSource(std::make_unique<PrefixSource>(prefix::PrefixFiles{prefixDir, file->arch()},
                                             std::move(tables)));
    return {};
}

} // namespace platform
