#include "cli/Disks.h"

#include "platform/linux/InputFile.h"
#include "platform/linux/WindowsSource.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <sys/stat.h>

namespace cli {

namespace {

// The kernel's own files, which report no size: read to their end, within a bound.
std::string KernelFile(const std::string& path) {
    std::string problem;
    const auto source = platform::OpenInputFile(path, problem);
    std::string text;
    std::array<char, 4096> block{};
    while (source && text.size() < (std::size_t{4} << 20)) {
        const std::int64_t got = source->ReadAt(text.size(), block.data(), block.size());
        if (got <= 0) {
            break;
        }
        text.append(block.data(), static_cast<std::size_t>(got));
    }
    return text;
}

// The fields of a line, split at blanks.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) {
            fields.push_back(line.substr(at, end - at));
        }
        at = end + 1;
    }
    return fields;
}

std::string Unescape(std::string_view field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + static_cast<long>(i) + 1,
                        field.begin() + static_cast<long>(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

bool Within(const std::string& path, const std::string& folder) {
    return folder == "/" ? path.rfind('/', 0) == 0
                         : path == folder || path.rfind(folder + "/", 0) == 0;
}

// The mount that holds path: the last one mounted at the longest point on its way.
const Mount* Holding(const std::vector<Mount>& mounts, const std::string& path) {
    const Mount* holding = nullptr;
    for (const Mount& mount : mounts) {
        if (Within(path, mount.point) &&
            (holding == nullptr || mount.point.size() >= holding->point.size())) {
            holding = &mount;
        }
    }
    return holding;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::vector<Mount> ParseMountInfo(std::string_view text) {
    std::vector<Mount> mounts;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const auto words = Fields(text.substr(at, end - at));
        at = end + 1;
        // id, parent, major:minor, root, mount point, options, optional fields..., "-", type,
        // source, super options
        const auto dash = std::find(words.begin(), words.end(), "-");
        if (words.size() < 6 || dash == words.end() || words.end() - dash < 3) {
            continue;
        }
        mounts.push_back({std::string(words[2]), Unescape(words[4]), Unescape(*(dash + 1)),
                          Unescape(*(dash + 2))});
    }
    return mounts;
}

bool MayOpen(const Mount& mount) {
    static const char* const kWindowsTypes[] = {"ntfs", "ntfs3", "fuseblk"};
    // Automounts wait for the filesystem they stand for; FUSE filesystems other than ntfs-3g's
    // are mostly remote (sshfs, rclone, gvfs); squashfs images (snaps) never hold Windows.
    static const char* const kNever[] = {"autofs", "nfs",       "nfs4",     "cifs",
                                         "smb3",   "smbfs",     "9p",       "afs",
                                         "ceph",   "glusterfs", "virtiofs", "squashfs"};
    if (std::any_of(std::begin(kWindowsTypes), std::end(kWindowsTypes),
                    [&](const char* type) { return mount.type == type; })) {
        return true;
    }
    if (mount.type.rfind("fuse", 0) == 0 ||
        std::any_of(std::begin(kNever), std::end(kNever),
                    [&](const char* type) { return mount.type == type; })) {
        return false;
    }
    return mount.source.rfind("/dev/", 0) == 0;
}

std::vector<std::string> CandidateRoots(const std::vector<Mount>& mounts,
                                        const std::vector<std::string>& mediaFolders) {
    std::vector<std::string> roots;
    const auto add = [&](const std::string& folder) {
        if (std::find(roots.begin(), roots.end(), folder) == roots.end()) {
            roots.push_back(folder);
        }
    };
    const auto opens = [&](const std::string& folder) {
        const Mount* holding = Holding(mounts, folder);
        return holding != nullptr && MayOpen(*holding);
    };
    const auto isMountPoint = [&](const std::string& folder) {
        return std::any_of(mounts.begin(), mounts.end(),
                           [&](const Mount& mount) { return mount.point == folder; });
    };
    const auto below = [&](const std::string& folder) {
        std::vector<std::string> names = platform::FolderEntries(folder);
        std::sort(names.begin(), names.end());
        const std::string parent = folder == "/" ? "" : folder;
        for (std::string& name : names) {
            name = std::string(parent).append("/").append(name);
        }
        return names;
    };
    for (const Mount& mount : mounts) {
        if (!MayOpen(mount) || Holding(mounts, mount.point) != &mount) {
            continue; // another filesystem was mounted over it
        }
        add(mount.point);
        for (const std::string& folder : below(mount.point)) {
            // A folder that is a mount point of its own is judged as one.
            if (!isMountPoint(folder) && IsFolder(folder)) {
                add(folder);
            }
        }
    }
    for (const std::string& media : mediaFolders) {
        if (!opens(media) || !IsFolder(media)) {
            continue;
        }
        for (const std::string& folder : below(media)) {
            if (opens(folder) && IsFolder(folder)) {
                add(folder);
            }
        }
    }
    return roots;
}

Volume ClassifyVolume(std::string_view firstSector) {
    const std::string_view oem =
        firstSector.substr(std::min<std::size_t>(3, firstSector.size()), 8);
    if (oem == "NTFS    ") {
        return Volume::kNtfs;
    }
    return oem == "-FVE-FS-" ? Volume::kBitLocker : Volume::kOther;
}

Volume UdevVolume(std::string_view data) {
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t end = std::min(data.find('\n', at), data.size());
        const std::string_view line = data.substr(at, end - at);
        at = end + 1;
        if (line == "E:ID_FS_TYPE=ntfs") {
            return Volume::kNtfs;
        }
        if (line == "E:ID_FS_TYPE=BitLocker") {
            return Volume::kBitLocker;
        }
    }
    return Volume::kOther;
}

bool Hibernated(const std::string& root) {
    std::string problem;
    const auto file = platform::FindNoCase(root, "hiberfil.sys");
    const auto source = file ? platform::OpenInputFile(*file, problem) : nullptr;
    char head[4] = {};
    if (!source || source->ReadAt(0, head, sizeof(head)) != 4) {
        return false;
    }
    // Windows marks the file "hibr" (or "HIBR") while a hibernated system waits in it.
    const std::string_view mark(head, 4);
    return mark == "hibr" || mark == "HIBR";
}

std::vector<std::string> FindWindowsInstallations(const std::string& user,
                                                  std::vector<std::string>& hints) {
    const std::vector<Mount> mounts = ParseMountInfo(KernelFile("/proc/self/mountinfo"));
    std::vector<std::string> media;
    if (!user.empty() && user.find('/') == std::string::npos) {
        media = {"/run/media/" + user, "/media/" + user};
    }
    media.insert(media.end(), {"/media", "/mnt"});
    std::vector<std::string> roots;
    for (const std::string& folder : CandidateRoots(mounts, media)) {
        const bool inside = std::any_of(roots.begin(), roots.end(), [&](const std::string& root) {
            return Within(folder, root);
        });
        if (!inside && platform::FindWindowsFolder(folder)) {
            roots.push_back(folder);
        }
    }
    std::vector<std::string> names = platform::FolderEntries("/sys/class/block");
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string sys = "/sys/class/block/" + name;
        std::string numbers = KernelFile(sys + "/dev");
        numbers.erase(std::remove(numbers.begin(), numbers.end(), '\n'), numbers.end());
        // Partitions alone, and only those nothing uses: not mounted, not opened by a mapper.
        if (!IsFolder(sys + "/holders") || !platform::FolderEntries(sys + "/holders").empty() ||
            KernelFile(sys + "/partition").empty() ||
            std::any_of(mounts.begin(), mounts.end(),
                        [&](const Mount& mount) { return mount.device == numbers; })) {
            continue;
        }
        std::string problem;
        const std::string device = "/dev/" + name;
        const auto sector = platform::ReadDeviceStart(device, 512, problem);
        // Most users may not read a disk; udev, which probed it, tells anyone what it holds.
        const Volume volume =
            sector ? ClassifyVolume(*sector) : UdevVolume(KernelFile("/run/udev/data/b" + numbers));
        std::string hint = device;
        if (volume == Volume::kNtfs) {
            hints.push_back(hint.append(" holds an NTFS volume that is not mounted; to look for "
                                        "Windows there, mount it read-only: udisksctl mount -b ")
                                .append(device)
                                .append(" -o ro (one Windows left hibernated by Fast Startup "
                                        "mounts read-only only)"));
        } else if (volume == Volume::kBitLocker) {
            hints.push_back(hint.append(" is encrypted with BitLocker: unlock it first (udisksctl "
                                        "unlock -b ")
                                .append(device)
                                .append(", with its password or recovery key), then mount it "
                                        "read-only"));
        }
    }
    return roots;
}

} // namespace cli
