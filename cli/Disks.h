// Where Windows installations sit on a Linux machine: on mounted filesystems (a dual-boot
// partition, a USB disk), and on NTFS partitions nobody has mounted yet. Looking must never hang:
// a dead network share or an automount point is not even opened.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct Mount {
    std::string device; // major:minor
    std::string point;
    std::string type;
    std::string source;
};

// The lines of /proc/self/mountinfo, with their octal escapes (a space is \040) undone.
std::vector<Mount> ParseMountInfo(std::string_view text);

// A filesystem that may be looked into: one that holds Windows (ntfs, ntfs3, fuseblk), or any
// other on a local block device. Never a network or pseudo filesystem, nor an automount point.
bool MayOpen(const Mount& mount);

// The folders that may hold a Windows installation: each mounted filesystem that may be opened,
// and each folder just below it; each folder under the media folders given (as /run/media/$USER,
// /media/$USER, /media and /mnt) that sits on a filesystem that may be opened. Each once, in
// order.
std::vector<std::string> CandidateRoots(const std::vector<Mount>& mounts,
                                        const std::vector<std::string>& mediaFolders);

// What the first sector of a partition says it holds.
enum class Volume { kOther, kNtfs, kBitLocker };
Volume ClassifyVolume(std::string_view firstSector);
// The same, from what udev's probe found (its database file for the device, /run/udev/data/bM:m,
// which anyone may read where the disk itself only root may).
Volume UdevVolume(std::string_view data);

// The Windows installations mounted on this machine (their roots), and, into hints, one line for
// each NTFS or BitLocker partition that is not mounted, saying how to read it.
std::vector<std::string> FindWindowsInstallations(const std::string& user,
                                                  std::vector<std::string>& hints);

// Windows was hibernated on that installation (Fast Startup): the volume mounts read-only only,
// and what Windows changed last may not have reached the disk.
bool Hibernated(const std::string& root);

} // namespace cli
