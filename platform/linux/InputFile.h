// Opening what the command reads from outside (prefixes, disks, launcher settings): every file
// other programs and users wrote. A FIFO or a device in place of a file must not hang the command
// or feed it endless bytes, so files open without blocking and only regular files are read.
#pragma once

#include "stores/ByteSource.h"
#include "stores/NameFold.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A regular file, open for reading; null and the reason ("PATH: Permission denied", "PATH is not
// a regular file") when it cannot be read. It stays open, so every read sees the same file even
// when a newer one is renamed over it meanwhile.
std::unique_ptr<stores::ByteSource> OpenInputFile(const std::string& path, std::string& problem);

// The first bytes of a block device (a partition's boot sector); nothing, and the reason, when
// it is no block device or cannot be read (most users may not read disks).
std::optional<std::string> ReadDeviceStart(const std::string& path, std::size_t bytes,
                                           std::string& problem);

// The names in a folder, "." and ".." left out, in no particular order; none when it cannot be
// read.
std::vector<std::string> FolderEntries(const std::string& folder);

// The entry of folder whose name is name in any letter case, as Windows compares file names
// (`fold`, the installation's table where it is known): NTFS mounted on Linux may show
// config/software where Windows wrote config/SOFTWARE, and C_1252.NLS where a Wine prefix has
// c_1252.nls. Nothing when the folder holds no such entry.
std::optional<std::string> FindNoCase(const std::string& folder, std::string_view name,
                                      const stores::NameFold& fold = stores::NameFold());

// A whole regular file of at most maxBytes; nothing, and the reason, otherwise.
std::optional<std::string> ReadInputFile(const std::string& path, std::size_t maxBytes,
                                         std::string& problem);

} // namespace platform
